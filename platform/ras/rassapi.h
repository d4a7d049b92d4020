// The RAS administration interface of Windows NT 4: the structures the
// remote-access service hands to its administration extension (the hook
// module) and the functions of RASSAPI.DLL. Declared once here for the
// stand-in, the hook module and the service; only the fields the system uses
// carry meaning, the rest keep the layout recognisable.
#pragma once

#include "platform/win_types.h"
#include "platform/wide.h"

namespace plat::rassapi {

inline constexpr int RASSAPI_MAX_PORT_NAME = 16;
inline constexpr int RASSAPI_MAX_DEVICETYPE_NAME = 16;
inline constexpr int RASSAPI_MAX_DEVICE_NAME = 128;
inline constexpr int RASSAPI_MAX_MEDIA_NAME = 16;
inline constexpr int UNLEN = 256;
inline constexpr int DNLEN = 15;
inline constexpr int NETBIOS_NAME_LEN = 16;
inline constexpr int RAS_IPADDRESSLEN = 15;
inline constexpr int RAS_IPXADDRESSLEN = 22;

using IPADDR = DWORD;

struct RAS_PPP_NBFCP_RESULT {
  DWORD dwError;         // 0 when the NetBIOS projection succeeded
  DWORD dwNetBiosError;
  char szName[NETBIOS_NAME_LEN + 1];
  WCHAR wszWksta[NETBIOS_NAME_LEN + 1];  // the client's workstation name
};

struct RAS_PPP_IPCP_RESULT {
  DWORD dwError;
  WCHAR wszAddress[RAS_IPADDRESSLEN + 1];
};

struct RAS_PPP_IPXCP_RESULT {
  DWORD dwError;
  WCHAR wszAddress[RAS_IPXADDRESSLEN + 1];
};

struct RAS_PPP_PROJECTION_RESULT {
  RAS_PPP_NBFCP_RESULT nbf;
  RAS_PPP_IPCP_RESULT ip;
  RAS_PPP_IPXCP_RESULT ipx;
};

inline constexpr DWORD USER_AUTHENTICATED = 0x0001;
inline constexpr DWORD MESSENGER_PRESENT = 0x0002;
inline constexpr DWORD PPP_CLIENT = 0x0004;
inline constexpr DWORD GATEWAY_ACTIVE = 0x0008;
inline constexpr DWORD REMOTE_LISTEN = 0x0010;
inline constexpr DWORD PORT_MULTILINKED = 0x0020;

struct RAS_PORT_0 {
  WCHAR wszPortName[RASSAPI_MAX_PORT_NAME];
  WCHAR wszDeviceType[RASSAPI_MAX_DEVICETYPE_NAME];
  WCHAR wszDeviceName[RASSAPI_MAX_DEVICE_NAME];
  WCHAR wszMediaName[RASSAPI_MAX_MEDIA_NAME];
  DWORD reserved;
  DWORD Flags;
  WCHAR wszUserName[UNLEN + 1];
  WCHAR wszComputer[NETBIOS_NAME_LEN];  // the remote computer ("?..." when unknown)
  DWORD dwStartSessionTime;             // seconds since 1970
  WCHAR wszLogonDomain[DNLEN + 1];
  BOOL fAdvancedServer;
};

inline constexpr DWORD RAS_PORT_NON_OPERATIONAL = 1;
inline constexpr DWORD RAS_PORT_DISCONNECTED = 2;
inline constexpr DWORD RAS_PORT_CALLING_BACK = 3;
inline constexpr DWORD RAS_PORT_LISTENING = 4;
inline constexpr DWORD RAS_PORT_AUTHENTICATING = 5;
inline constexpr DWORD RAS_PORT_AUTHENTICATED = 6;
inline constexpr DWORD RAS_PORT_INITIALIZING = 7;

struct RAS_PORT_1 {
  RAS_PORT_0 rasport0;
  DWORD LineCondition;
  DWORD HardwareCondition;
  DWORD LineSpeed;  // bits per second
  WORD NumStatistics;
  WORD NumMediaParms;
  DWORD SizeMediaParms;
  RAS_PPP_PROJECTION_RESULT ProjResult;
};

struct RAS_PORT_STATISTICS {
  DWORD dwBytesXmited;
  DWORD dwBytesRcved;
  DWORD dwFramesXmited;
  DWORD dwFramesRcved;
  DWORD dwCrcErr;
  DWORD dwTimeoutErr;
  DWORD dwAlignmentErr;
  DWORD dwHardwareOverrunErr;
  DWORD dwFramingErr;
  DWORD dwBufferOverrunErr;
  DWORD dwBytesXmitedUncompressed;
  DWORD dwBytesRcvedUncompressed;
  DWORD dwBytesXmitedCompressed;
  DWORD dwBytesRcvedCompressed;
  DWORD dwPortBytesXmited;
  DWORD dwPortBytesRcved;
  DWORD dwPortFramesXmited;
  DWORD dwPortFramesRcved;
  DWORD dwPortCrcErr;
  DWORD dwPortTimeoutErr;
  DWORD dwPortAlignmentErr;
  DWORD dwPortHardwareOverrunErr;
  DWORD dwPortFramingErr;
  DWORD dwPortBufferOverrunErr;
  DWORD dwPortBytesXmitedUncompressed;
  DWORD dwPortBytesRcvedUncompressed;
  DWORD dwPortBytesXmitedCompressed;
  DWORD dwPortBytesRcvedCompressed;
};

// Media parameters of a port (unused by the system; passed as the OS passes them).
struct RAS_PARAMETERS {
  char P_Key[32];
  DWORD P_Type;
  BYTE P_Attributes;
  DWORD P_ValueLength;
};

// The hook module's exports, called by the remote-access service.
using PFN_RasAdminAcceptNewConnection = BOOL (*)(RAS_PORT_1*, RAS_PORT_STATISTICS*, RAS_PARAMETERS*);
using PFN_RasAdminConnectionHangupNotification = void (*)(RAS_PORT_1*, RAS_PORT_STATISTICS*,
                                                          RAS_PARAMETERS*);
using PFN_RasAdminGetIpAddressForUser = DWORD (*)(WCHAR* userName, WCHAR* portName,
                                                  IPADDR* address, BOOL* notifyRelease);
using PFN_RasAdminReleaseIpAddress = void (*)(WCHAR* userName, WCHAR* portName, IPADDR* address);

// RASSAPI.DLL's functions.
using PFN_RasAdminPortEnum = DWORD (*)(const WCHAR* server, RAS_PORT_0** ports, WORD* entriesRead);
using PFN_RasAdminPortGetInfo = DWORD (*)(const WCHAR* server, const WCHAR* port, RAS_PORT_1* info,
                                          RAS_PORT_STATISTICS* statistics,
                                          RAS_PARAMETERS** parameters);
using PFN_RasAdminPortDisconnect = DWORD (*)(const WCHAR* server, const WCHAR* port);
using PFN_RasAdminFreeBuffer = DWORD (*)(void* buffer);

}  // namespace plat::rassapi
