// The router administration interface of Windows 2000 Routing and Remote
// Access: the connection and port records the router hands to its
// administration extension, and the functions of MPRAPI.DLL that read them.
// Declared once here for the stand-in, the hook module and the collector;
// only the fields the system uses carry meaning, the rest keep the layout
// recognisable.
//
// A connection (one caller) has one or more links, each on a port. Handles
// are small numbers carried in a pointer-sized field, as on Windows.
#pragma once

#include <cstdint>

#include "platform/ras/rassapi.h"
#include "platform/win_types.h"

namespace plat::mprapi {

using HANDLE = void*;
using MPR_SERVER_HANDLE = void*;
inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

inline constexpr int MAX_INTERFACE_NAME_LEN = 256;
inline constexpr int MAX_PORT_NAME = 16;
inline constexpr int MAX_MEDIA_NAME = 16;
inline constexpr int MAX_DEVICE_NAME = 128;
inline constexpr int MAX_DEVICETYPE_NAME = 16;
inline constexpr int UNLEN = rassapi::UNLEN;
inline constexpr int DNLEN = rassapi::DNLEN;
inline constexpr int NETBIOS_NAME_LEN = rassapi::NETBIOS_NAME_LEN;
inline constexpr int IPADDRESSLEN = 15;
inline constexpr int IPXADDRESSLEN = 22;
inline constexpr DWORD MAX_PREFERRED_LENGTH = 0xFFFFFFFF;

// The handle as the number it carries (the hook module names its sections by it).
inline DWORD HandleValue(HANDLE h) { return static_cast<DWORD>(reinterpret_cast<std::uintptr_t>(h)); }
inline HANDLE MakeHandle(DWORD value) { return reinterpret_cast<HANDLE>(std::uintptr_t{value}); }

enum RAS_PORT_CONDITION : DWORD {
  RAS_PORT_NON_OPERATIONAL = 0,
  RAS_PORT_DISCONNECTED,
  RAS_PORT_CALLING_BACK,
  RAS_PORT_LISTENING,
  RAS_PORT_AUTHENTICATING,
  RAS_PORT_AUTHENTICATED,
  RAS_PORT_INITIALIZING,
};

enum RAS_HARDWARE_CONDITION : DWORD { RAS_HARDWARE_OPERATIONAL = 0, RAS_HARDWARE_FAILURE };

enum ROUTER_INTERFACE_TYPE : DWORD {
  ROUTER_IF_TYPE_CLIENT = 0,
  ROUTER_IF_TYPE_HOME_ROUTER,
  ROUTER_IF_TYPE_FULL_ROUTER,
  ROUTER_IF_TYPE_DEDICATED,
  ROUTER_IF_TYPE_INTERNAL,
  ROUTER_IF_TYPE_LOOPBACK,
};

inline constexpr DWORD RAS_FLAGS_PPP_CONNECTION = 0x00000001;
inline constexpr DWORD RAS_FLAGS_MESSENGER_PRESENT = 0x00000002;

struct PPP_NBFCP_INFO {
  DWORD dwError;  // 0 when the NetBIOS projection succeeded
  WCHAR wszWksta[NETBIOS_NAME_LEN + 1];
};

struct PPP_IPCP_INFO {
  DWORD dwError;
  WCHAR wszAddress[IPADDRESSLEN + 1];
  WCHAR wszRemoteAddress[IPADDRESSLEN + 1];
};

struct PPP_IPXCP_INFO {
  DWORD dwError;
  WCHAR wszAddress[IPXADDRESSLEN + 1];
};

struct PPP_ATCP_INFO {
  DWORD dwError;
  WCHAR wszAddress[33];
};

struct PPP_INFO {
  PPP_NBFCP_INFO nbf;
  PPP_IPCP_INFO ip;
  PPP_IPXCP_INFO ipx;
  PPP_ATCP_INFO at;
};

struct RAS_CONNECTION_0 {
  HANDLE hConnection;
  HANDLE hInterface;
  DWORD dwConnectDuration;  // seconds
  ROUTER_INTERFACE_TYPE dwInterfaceType;
  DWORD dwConnectionFlags;
  WCHAR wszInterfaceName[MAX_INTERFACE_NAME_LEN + 1];
  WCHAR wszUserName[UNLEN + 1];
  WCHAR wszLogonDomain[DNLEN + 1];
  WCHAR wszRemoteComputer[NETBIOS_NAME_LEN + 1];
};

struct RAS_CONNECTION_1 {
  HANDLE hConnection;
  HANDLE hInterface;
  PPP_INFO PppInfo;
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
  DWORD dwCompressionRatioIn;
  DWORD dwCompressionRatioOut;
};

struct RAS_PORT_0 {
  HANDLE hPort;
  HANDLE hConnection;  // nullptr while the port has no connection
  RAS_PORT_CONDITION dwPortCondition;
  DWORD dwTotalNumberOfCalls;
  DWORD dwConnectDuration;  // seconds; 0 while the port has no connection
  WCHAR wszPortName[MAX_PORT_NAME + 1];
  WCHAR wszMediaName[MAX_MEDIA_NAME + 1];
  WCHAR wszDeviceName[MAX_DEVICE_NAME + 1];
  WCHAR wszDeviceType[MAX_DEVICETYPE_NAME + 1];
};

struct RAS_PORT_1 {
  HANDLE hPort;
  HANDLE hConnection;
  RAS_HARDWARE_CONDITION dwHardwareCondition;
  DWORD dwLineSpeed;  // bits per second
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
  DWORD dwCompressionRatioIn;
  DWORD dwCompressionRatioOut;
};

// The administration extension's exports, called by the router.
using PFN_MprAdminAcceptNewConnection = BOOL (*)(RAS_CONNECTION_0*, RAS_CONNECTION_1*);
using PFN_MprAdminAcceptNewLink = BOOL (*)(RAS_PORT_0*, RAS_PORT_1*);
using PFN_MprAdminConnectionHangupNotification = void (*)(RAS_CONNECTION_0*, RAS_CONNECTION_1*);
using PFN_MprAdminLinkHangupNotification = void (*)(RAS_PORT_0*, RAS_PORT_1*);
using PFN_MprAdminGetIpAddressForUser = DWORD (*)(WCHAR* userName, WCHAR* portName,
                                                  DWORD* address, BOOL* notifyRelease);
using PFN_MprAdminReleaseIpAddress = void (*)(WCHAR* userName, WCHAR* portName, DWORD* address);

// MPRAPI.DLL's functions. Buffers handed out are freed with MprAdminBufferFree.
// Errors besides the general ones: ERROR_INVALID_HANDLE for a handle the
// router does not know, RPC_S_SERVER_UNAVAILABLE when the router does not run.
using PFN_MprAdminServerConnect = DWORD (*)(const WCHAR* server, MPR_SERVER_HANDLE* handle);
using PFN_MprAdminServerDisconnect = void (*)(MPR_SERVER_HANDLE handle);
// Level 0 only; `connection` INVALID_HANDLE_VALUE (or nullptr) for every port.
using PFN_MprAdminPortEnum = DWORD (*)(MPR_SERVER_HANDLE handle, DWORD level, HANDLE connection,
                                       BYTE** buffer, DWORD preferredMaximumLength,
                                       DWORD* entriesRead, DWORD* totalEntries,
                                       DWORD* resumeHandle);
// Level 0 or 1: a RAS_PORT_0 or RAS_PORT_1 in *buffer.
using PFN_MprAdminPortGetInfo = DWORD (*)(MPR_SERVER_HANDLE handle, DWORD level, HANDLE port,
                                          BYTE** buffer);
// Level 0 or 1: a RAS_CONNECTION_0 or RAS_CONNECTION_1 in *buffer.
using PFN_MprAdminConnectionGetInfo = DWORD (*)(MPR_SERVER_HANDLE handle, DWORD level,
                                                HANDLE connection, BYTE** buffer);
using PFN_MprAdminBufferFree = DWORD (*)(void* buffer);

}  // namespace plat::mprapi
