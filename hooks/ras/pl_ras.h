// PL_RAS.dll's exports: the administration extension interface of the NT 4
// remote-access service (the function types are in platform/ras/rassapi.h).
//
//   RasAdminGetIpAddressForUser    "2,<port>,<user>,*,*,<proposed address>,0";
//                                  a reply "3<n>" makes <n> the address
//   RasAdminAcceptNewConnection    "0,<port>,<DOMAIN\user>,<machine>,<now>,0,0";
//                                  admitted unless the reply's code is non-zero
//   RasAdminConnectionHangupNotification
//                                  "1,<port>,<DOMAIN\user>,<computer>,<start>,0,<duration>"
//   RasAdminReleaseIpAddress       traced only
//
// A call the service does not answer admits the caller and keeps the proposed
// address, after an error event 1 of the source "Portulon". Trace file
// C:\qcl_trace_plras.txt, limit LogMaxSizeKB under ...\Portulon\PL_RAS.
#pragma once

#include "platform/ras/rassapi.h"
#include "platform/win_types.h"

#define PL_RAS_EXPORT extern "C" __attribute__((visibility("default")))

PL_RAS_EXPORT plat::BOOL DllMain(void* instance, plat::DWORD reason, void* reserved);
PL_RAS_EXPORT plat::BOOL RasAdminAcceptNewConnection(plat::rassapi::RAS_PORT_1* port,
                                                     plat::rassapi::RAS_PORT_STATISTICS* statistics,
                                                     plat::rassapi::RAS_PARAMETERS* parameters);
PL_RAS_EXPORT void RasAdminConnectionHangupNotification(
    plat::rassapi::RAS_PORT_1* port, plat::rassapi::RAS_PORT_STATISTICS* statistics,
    plat::rassapi::RAS_PARAMETERS* parameters);
PL_RAS_EXPORT plat::DWORD RasAdminGetIpAddressForUser(plat::WCHAR* userName, plat::WCHAR* portName,
                                                      plat::rassapi::IPADDR* address,
                                                      plat::BOOL* notifyRelease);
PL_RAS_EXPORT void RasAdminReleaseIpAddress(plat::WCHAR* userName, plat::WCHAR* portName,
                                            plat::rassapi::IPADDR* address);
// The remote-access service's optional question: what Portulon made of the
// caller (hooks/decision_note.h).
PL_RAS_EXPORT plat::BOOL AdminDescribeDecision(const char* portName, const char* account,
                                  plat::BOOL admitted, long long callStart, char* text,
                                  plat::DWORD textSize);
