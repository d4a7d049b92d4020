// PL_RRAS.dll's exports: the administration extension interface of the
// Windows 2000 router (the function types are in platform/ras/mprapi.h).
//
//   MprAdminAcceptNewConnection    remembers the caller in ~rras.tmp (section
//                                  "%.08X" of the connection handle: U account,
//                                  C computer or "*", T start); always admits
//   MprAdminAcceptNewLink          "0,<port>,<U>,<C>,<T>,0,0"; admitted unless
//                                  the reply's code is non-zero
//   MprAdminLinkHangupNotification "1,<port>,<U>,*,0,0,<duration>"
//   MprAdminGetIpAddressForUser    "2,<port>,<user>,*,*,<proposed address>,0";
//                                  a reply "3<n>" makes <n> the address
//   MprAdminConnectionHangupNotification, MprAdminReleaseIpAddress: nothing
//
// A call the service does not answer admits the link and keeps the proposed
// address, after an error event 1 of the source "Portulon". Trace file
// C:\qcl_trace_plrras.txt, limit LogMaxSizeKB under ...\Portulon\PL_RRAS.
#pragma once

#include "platform/ras/mprapi.h"
#include "platform/win_types.h"

#define PL_RRAS_EXPORT extern "C" __attribute__((visibility("default")))

PL_RRAS_EXPORT plat::BOOL DllMain(void* instance, plat::DWORD reason, void* reserved);
PL_RRAS_EXPORT plat::BOOL MprAdminAcceptNewConnection(plat::mprapi::RAS_CONNECTION_0* connection0,
                                                      plat::mprapi::RAS_CONNECTION_1* connection1);
PL_RRAS_EXPORT plat::BOOL MprAdminAcceptNewLink(plat::mprapi::RAS_PORT_0* port0,
                                                plat::mprapi::RAS_PORT_1* port1);
PL_RRAS_EXPORT void MprAdminConnectionHangupNotification(
    plat::mprapi::RAS_CONNECTION_0* connection0, plat::mprapi::RAS_CONNECTION_1* connection1);
PL_RRAS_EXPORT void MprAdminLinkHangupNotification(plat::mprapi::RAS_PORT_0* port0,
                                                   plat::mprapi::RAS_PORT_1* port1);
PL_RRAS_EXPORT plat::DWORD MprAdminGetIpAddressForUser(plat::WCHAR* userName,
                                                       plat::WCHAR* portName,
                                                       plat::DWORD* address,
                                                       plat::BOOL* notifyRelease);
PL_RRAS_EXPORT void MprAdminReleaseIpAddress(plat::WCHAR* userName, plat::WCHAR* portName,
                                             plat::DWORD* address);
// The remote-access service's optional question: what Portulon made of the
// caller (hooks/decision_note.h).
PL_RRAS_EXPORT plat::BOOL AdminDescribeDecision(const char* portName, const char* account,
                                  plat::BOOL admitted, long long callStart, char* text,
                                  plat::DWORD textSize);
