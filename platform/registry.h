// The registry of a machine, local or remote.
//
// Hives HKLM and HKU are text files in the machine's registry/ folder
// (HKLM.reg, HKU.reg) in the REGEDIT4 style: one [HKEY_...\Key\Sub] section per
// key, "Name"="text", "Name"=dword:0000000a, "Name"=hex:..,  "Name"=hex(7):..
// (REG_MULTI_SZ), @= for the default value. Keys and value names compare
// case-insensitively and keep the spelling they were created with; subkeys
// enumerate in case-insensitive alphabetical order. Every change is a
// read-modify-write under an exclusive lock shared by all processes, written to
// a temporary file and renamed over the hive, so no reader sees a torn hive.
// Parsed hives are cached, keyed on file identity, size and modification time.
//
// Types other than these are written hex(<type>): with the type in
// hexadecimal, as they are read. A hex value may go on over lines that end in
// '\', but only onto lines of hex digits: a key's header is never taken into
// it. A section whose parent keys have none of their own still has them.
//
// A line the parser does not understand is kept as it is on rewrite and
// skipped on read. A hive that cannot be written is left intact and the
// change reports the error. Key and value names holding a line break or NUL
// cannot be stored: creating such a key or setting such a value fails with
// ERROR_INVALID_PARAMETER (an import with ERROR_INVALID_DATA), changing nothing.
//
// Hive files are readable by their owner and group only (posix_fd.h).
//
// Thread safety: all calls (the hive cache is guarded); a RegKey is a value
// that names a key and holds nothing open. Out parameters on failure: left as
// they were by every call.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/registry_value.h"
#include "platform/win_types.h"

namespace plat {

enum class Hive {
  LocalMachine,  // HKEY_LOCAL_MACHINE
  Users,         // HKEY_USERS
  CurrentUser,   // HKEY_CURRENT_USER: HKEY_USERS\.DEFAULT (services and tools run as one user)
};

// Parses "HKLM", "HKEY_LOCAL_MACHINE", "HKU", "HKEY_USERS", "HKCU",
// "HKEY_CURRENT_USER" (any case). False for anything else.
bool ParseHiveName(std::string_view text, Hive* hive);
// "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_USER".
const char* HiveName(Hive hive);

// An open key. Copyable; holds no OS resource (the hive is read on each call,
// through the cache). A key deleted after it was opened answers ERROR_KEY_DELETED.
class RegKey {
 public:
  RegKey() = default;

  // Opens an existing key of the current machine. ERROR_FILE_NOT_FOUND when missing.
  static DWORD Open(Hive hive, std::string_view subkey, RegKey* out);
  // Opens a key, creating it and any missing parent keys.
  static DWORD Create(Hive hive, std::string_view subkey, RegKey* out);
  // RegConnectRegistry: the root key of a hive on machine `machine` ("\\SRV2",
  // "SRV2"; empty = the current machine). ERROR_BAD_NETPATH for an unknown or
  // down machine.
  static DWORD Connect(std::string_view machine, Hive hive, RegKey* out);

  // The root of a hive of the machine in host folder `machineRoot`, for code
  // that works on a machine folder directly (provisioning, tools).
  static DWORD ConnectRoot(const std::string& machineRoot, Hive hive, RegKey* out);

  DWORD OpenSubKey(std::string_view subkey, RegKey* out) const;
  DWORD CreateSubKey(std::string_view subkey, RegKey* out) const;
  // Deletes a subkey that has no subkeys of its own; ERROR_ACCESS_DENIED while
  // it has any (as on Windows NT), ERROR_FILE_NOT_FOUND when missing.
  DWORD DeleteSubKey(std::string_view subkey) const;

  DWORD QueryValue(std::string_view name, RegValue* value) const;
  // DWORD value; ERROR_FILE_NOT_FOUND when missing, ERROR_INVALID_DATA for another type.
  DWORD QueryDword(std::string_view name, DWORD* value) const;
  // REG_SZ or REG_EXPAND_SZ value.
  DWORD QueryString(std::string_view name, std::string* value) const;
  DWORD QueryMultiString(std::string_view name, std::vector<std::string>* values) const;

  DWORD SetValue(const RegValue& value) const;
  DWORD SetDword(std::string_view name, DWORD value) const;
  DWORD SetString(std::string_view name, std::string_view value) const;
  DWORD SetMultiString(std::string_view name, const std::vector<std::string>& values) const;
  DWORD DeleteValue(std::string_view name) const;

  // Enumeration by index, as RegEnumKey: ERROR_NO_MORE_ITEMS past the end.
  DWORD EnumKey(DWORD index, std::string* name) const;
  DWORD ListSubKeys(std::vector<std::string>* names) const;
  DWORD ListValues(std::vector<RegValue>* values) const;

  bool valid() const { return !hiveFile_.empty(); }
  Hive hive() const { return hive_; }
  // The key's path below its hive, in its stored spelling ("" for the hive root).
  const std::string& path() const { return path_; }
  // "HKEY_LOCAL_MACHINE\Software\..."
  std::string FullName() const;

 private:
  friend class RegistryAccess;
  Hive hive_ = Hive::LocalMachine;
  std::string hiveFile_;  // host path of the hive file
  std::string path_;
};

// Convenience reads and writes of one value under HKLM of the current machine.
DWORD RegReadDword(std::string_view subkey, std::string_view name, DWORD* value);
DWORD RegReadString(std::string_view subkey, std::string_view name, std::string* value);
DWORD RegWriteDword(std::string_view subkey, std::string_view name, DWORD value);
DWORD RegWriteString(std::string_view subkey, std::string_view name, std::string_view value);

// REGEDIT4 text of a key and all its subkeys (what `reg export` writes).
DWORD RegExportText(const RegKey& key, std::string* text);
// Applies REGEDIT4 text to the registry of machine `machine` (empty = the current
// one): sections create keys, "[-KEY]" deletes a key tree, "Name"=- deletes a
// value. ERROR_INVALID_DATA when the text is not REGEDIT4.
DWORD RegImportText(std::string_view machine, std::string_view text);

}  // namespace plat
