// Profile (INI) files: GetPrivateProfileString and friends, with the Windows
// semantics the system relies on.
//
// - Sections and keys compare case-insensitively; values are returned without
//   surrounding blanks, and a value wrapped in matching quotes ('..' or "..")
//   loses them. Text is bytes, never re-encoded.
// - Missing file, section or key gives the default. Listing the keys of a
//   section that exists but has no keys gives an empty list; of a missing
//   section, the default. Section names list the same way.
// - A write creates file and section as needed, replaces a value in place and
//   keeps every other line, comment and the order; a new key goes to the end of
//   its section, a new section to the end of the file. Writing no value deletes
//   the key; writing no key deletes the section.
// - Every write happens under an exclusive lock shared by all processes, and
//   readers read under a shared one, so no reader ever sees half a write. A
//   write that only replaces lines by lines of the same length, or only adds
//   lines at the end of the file, is made where it stands; any other write
//   replaces the file atomically (temporary file and rename). To keep a line's
//   length, a shorter value is padded with blanks, which reading trims.
//   Two processes incrementing one counter may lose an update, but no write
//   ever loses or corrupts another key.
// - Lines that are neither a section header, a key=value pair, a comment nor
//   blank are kept on rewrite and skipped on read.
// - Parsed files are cached, keyed on file identity, size and modification time.
// - A file on another host's share (path.h, ResolveLocation) is locked by the
//   share mode its server enforces between hosts: a reader or writer waits
//   up to 10 s for another host's writer, then fails with
//   ERROR_SHARING_VIOLATION. There a write is made in place under the lock
//   (a rename over a file is not atomic on a share), a rotation copies and
//   cuts the file, and nothing is cached.
//
// File names are Windows paths (path.h). Names and values containing a line
// break or NUL, keys containing '=' or beginning with ';' or '[', and keys or
// sections that are empty (or only blanks) cannot be written: they could not be
// read back as written, so the write fails with ERROR_INVALID_PARAMETER and
// changes nothing. Names are trimmed of surrounding blanks, as reading trims them.
//
// Thread safety: all calls, from any thread of any process. Out parameters on
// failure: ProfileRotate's `rotated` is false, ProfileAppendRecordAtFreeKey's
// `used` unspecified; the buffer calls of the Windows shape fill their buffers
// as their own lines say.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/profile_types.h"
#include "platform/win_types.h"

namespace plat {

// ---- The Windows interface (buffers, NUL-separated lists) ----

// section == nullptr lists the section names, key == nullptr the keys of the
// section: each name NUL-terminated, the list ends with an extra NUL. Returns
// the number of characters copied, not counting the final NUL; a truncated
// single value returns size - 1, a truncated list size - 2.
DWORD GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                              char* buffer, DWORD size, const char* fileName);
// key == nullptr deletes the section; value == nullptr deletes the key. Returns
// FALSE on failure with the reason in GetLastError().
BOOL WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName);
// The value read as a decimal integer (leading digits only), else `defaultValue`.
unsigned GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                              const char* fileName);
DWORD GetPrivateProfileSectionNames(char* buffer, DWORD size, const char* fileName);

// ---- The same operations for C++ callers ----

std::string ProfileGetString(std::string_view file, std::string_view section,
                             std::string_view key, std::string_view defaultValue);
// Key names of a section in file order; nullopt when the file or section is missing.
std::optional<std::vector<std::string>> ProfileListKeys(std::string_view file,
                                                        std::string_view section);
// Key names and values of a section in file order; nullopt when missing.
std::optional<std::vector<std::pair<std::string, std::string>>> ProfileReadSection(
    std::string_view file, std::string_view section);
// The name of a section as its header spells it; nullopt when missing.
std::optional<std::string> ProfileSectionName(std::string_view file, std::string_view section);
// Every section with its keys and values, in file order, from one reading of
// the file (so all of it is of one moment); what ProfileReadSection gives for
// each name (ProfileSectionData). nullopt when the file is missing.
std::optional<std::vector<ProfileSectionData>> ProfileReadAll(std::string_view file);
// Section names in file order; nullopt when the file is missing.
std::optional<std::vector<std::string>> ProfileListSections(std::string_view file);

DWORD ProfileWriteString(std::string_view file, std::string_view section, std::string_view key,
                         std::string_view value);
DWORD ProfileDeleteKey(std::string_view file, std::string_view section, std::string_view key);
DWORD ProfileDeleteSection(std::string_view file, std::string_view section);

// Several changes to one file applied under one lock and one rewrite: for a
// caller that updates many keys of one record at once. Each change is a write
// (value set), a key deletion (value nullopt) or a section deletion (key
// empty); they apply in order, with the semantics of the single calls
// (ProfileChange).
DWORD ProfileApply(std::string_view file, const std::vector<ProfileChange>& changes);

// A form that a writer keeps its sections in, so that its later writes to a
// large file change it where it stands: in each section `applies` accepts
// (every section when empty), each of `keys` is present and its value is
// left-aligned in a field of at least `width` characters (blanks, which
// reading trims). A missing key is added with `missingValue`, so it must read
// as the writer reads a missing key.
struct ProfileLayout {
  std::vector<std::string> keys;
  size_t width = 0;
  std::string missingValue;
  std::function<bool(std::string_view section)> applies;
};

// ProfileApply that, in a file of ini::kPadFileSize bytes or more, also
// brings into the layout the sections the changes write to and, when the
// write has to replace the whole file anyway, every section, in that same
// replacement. A file written by hand or by another program so costs one
// replacement, not one per section. Values keep their text (quotes too), and
// every other line stays as it was. ERROR_INVALID_PARAMETER, changing
// nothing, when a layout key could not be written.
DWORD ProfileApply(std::string_view file, const std::vector<ProfileChange>& changes,
                   const ProfileLayout& layout);

// The current value of a key (nullopt when file, section or key are missing),
// as ProfileGetString reads it.
using ProfileValueOf = std::function<std::optional<std::string>(std::string_view section, std::string_view key)>;
// A read-modify-write under the write lock: `decide` gets the file's values
// as they are under the lock, and the changes it returns are applied as
// ProfileApply's (with `layout` when given) before any other writer of any
// process or host gets in. The way to add to a number that others change
// too. `decide` may run more than once and must not call this file's API.
DWORD ProfileApplyDecided(std::string_view file,
                          const std::function<std::vector<ProfileChange>(const ProfileValueOf&)>& decide,
                          const ProfileLayout* layout = nullptr);

// Removes the temporary files that writers killed while replacing a profile
// file of `folder` left behind (writers still running are left alone).
// Returns how many went; *failed counts those that could not be removed.
int ProfileRemoveStaleTemporaries(std::string_view folder, int* failed = nullptr);

// Renames `file` to `rotatedName` (replacing it) when it has grown beyond
// `maxBytes`, under the file's lock, so that writers in other processes go on
// in a fresh file and none of their records lands in the renamed one after
// the rename. *rotated tells whether it happened.
DWORD ProfileRotate(std::string_view file, std::string_view rotatedName, uint64_t maxBytes,
                    bool* rotated);

// ---- Record files (the day logs) ----
//
// A record file adds keys only at its end, so that adding one costs one
// append however large the file is: a key goes into the file's last section
// when that section has the right name, else under a new header of that
// name. A section so continues in several parts down the file. The calls
// above see only its first part (as Windows does); these see all of it.

// Adds key=value at the end of the file; ERROR_ALREADY_EXISTS, changing
// nothing, when any part of the section holds the key already.
DWORD ProfileAppendRecord(std::string_view file, std::string_view section, std::string_view key,
                          std::string_view value);
// As ProfileAppendRecord, with the first of the keys keyFor(first),
// keyFor(first + 1), ... that no part of the section holds yet, all tried in
// one locked write; *used receives the key written. ERROR_ALREADY_EXISTS,
// changing nothing, when none of `maxTries` keys is free.
DWORD ProfileAppendRecordAtFreeKey(std::string_view file, std::string_view section,
                                   const std::function<std::string(int)>& keyFor, int first,
                                   int maxTries, std::string_view value, std::string* used);
// True when any part of the section holds the key.
bool ProfileRecordExists(std::string_view file, std::string_view section, std::string_view key);
// Keys and values of every part of the section in file order (a key's first
// occurrence only); nullopt when the file or section is missing.
std::optional<std::vector<std::pair<std::string, std::string>>> ProfileReadRecords(
    std::string_view file, std::string_view section);
// Every record of the file, as ProfileListSections and ProfileReadRecords
// give them (sections in the order of their first headers, each with all its
// parts, a key's first occurrence only), without holding the file or its
// parse: it is read in pieces, under its shared lock only while a piece is
// read, so the callbacks may take their time. `onSection` hears each
// section's name as its first header spells it and returns false to skip
// its records; `onRecord` gets each key and value (trimmed, unquoted), valid
// for the call only. Reads the file as it was when opened: a file renamed
// over it meanwhile is not seen, lines added meanwhile are not read.
// ERROR_FILE_NOT_FOUND when missing; another error when a read fails, after
// the records read before it.
DWORD ProfileForEachRecord(std::string_view file,
                           const std::function<bool(std::string_view section)>& onSection,
                           const std::function<void(std::string_view key, std::string_view value)>& onRecord);
// Replaces the value of a key in whichever part holds it; ERROR_FILE_NOT_FOUND
// when no part does.
DWORD ProfileReplaceRecord(std::string_view file, std::string_view section, std::string_view key,
                           std::string_view value);

}  // namespace plat
