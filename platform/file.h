// File operations on Windows paths (resolved through path.h). Every function
// returns a Win32 error code; ERROR_SUCCESS on success.
//
// A file on another host's share (path.h, ResolveLocation): ReadWholeFile,
// WriteWholeFile and AppendToFile wait up to smb::kLockWaitMs for another
// host's locked writer, then fail with ERROR_SHARING_VIOLATION; a whole-file
// read keeps writers out while it reads.
//
// Thread safety: all calls; a FileInUse is one owner's at a time. Out
// parameters on failure: FindFiles leaves an empty list, ReadWholeFile
// unspecified contents, every other call leaves them as they were.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_types.h"

namespace plat {

DWORD ReadWholeFile(std::string_view path, std::string* contents);
// Creates or truncates the file and writes `contents` (not atomic; profile and
// registry files have their own atomic writers).
DWORD WriteWholeFile(std::string_view path, std::string_view contents);
// Opens for appending (creating it when missing), writes, closes: one line of a
// log is appended by one such call.
DWORD AppendToFile(std::string_view path, std::string_view contents);

// A log file kept open for appending: each Append is one write of the whole
// text at the end of the file, as AppendToFile's, without opening the file for
// every line. The file is opened on first use and again when it was deleted
// (seen at once) or its name came to mean another file (looked at once a
// second). Safe from several threads.
class AppendingFile {
 public:
  AppendingFile() = default;
  ~AppendingFile();
  AppendingFile(const AppendingFile&) = delete;
  AppendingFile& operator=(const AppendingFile&) = delete;

  // `*sizeAfter` (when given) is the file's size once the text is written,
  // as far as this writer knows: found with the same look that tells whether
  // the file is still there.
  DWORD Append(std::string_view path, std::string_view contents,
               std::uint64_t* sizeAfter = nullptr);
  // The size of the file `path` names: of the one held while it is still
  // that; otherwise looked up by name. ERROR_FILE_NOT_FOUND when missing.
  DWORD Size(std::string_view path, std::uint64_t* size);
  // Lets the file go (before deleting it, for example).
  void Close();

 private:
  DWORD OpenLocked(std::string_view path);
  bool HeldLocked(std::string_view path, std::uint64_t* size);

  std::mutex mutex_;  // guards everything below
  int fd_ = -1;
  std::string path_;       // the Windows path it was opened by
  std::string host_;
  std::time_t checkedAt_ = 0;
};

// Deletes a file. ERROR_ACCESS_DENIED while another process holds it in use
// (see FileInUse), as Windows refuses to delete a loaded module.
DWORD DeleteFile(std::string_view path);

inline constexpr DWORD MOVEFILE_REPLACE_EXISTING = 0x1;
inline constexpr DWORD MOVEFILE_COPY_ALLOWED = 0x2;
inline constexpr DWORD MOVEFILE_WRITE_THROUGH = 0x8;
// Renames or moves a file; without MOVEFILE_REPLACE_EXISTING an existing target
// gives ERROR_ALREADY_EXISTS. A source in use moves (see FileInUse); a target
// in use is not replaced.
DWORD MoveFileEx(std::string_view from, std::string_view to, DWORD flags);
DWORD CopyFile(std::string_view from, std::string_view to, bool failIfExists);

DWORD CreateDirectory(std::string_view path);  // ERROR_ALREADY_EXISTS when present
DWORD RemoveDirectory(std::string_view path);  // ERROR_DIR_NOT_EMPTY when not empty

bool FileExists(std::string_view path);       // a file or a folder
bool DirectoryExists(std::string_view path);
DWORD GetFileSize(std::string_view path, std::uint64_t* size);
DWORD GetFileModificationTime(std::string_view path, std::time_t* mtime);

struct FindData {
  std::string name;  // as stored
  bool isDirectory = false;
  std::uint64_t size = 0;
  std::time_t modified = 0;
};
// Lists the entries of a folder that match a pattern with * and ? compared
// case-insensitively ("C:\Data\LogData\*.*", "*.log"). "." and ".." are listed
// too, as FindFirstFile lists them. ERROR_PATH_NOT_FOUND for a missing folder.
DWORD FindFiles(std::string_view pattern, std::vector<FindData>* entries);

// Matches a file name against a Windows wildcard pattern, case-insensitively.
bool WildcardMatch(std::string_view pattern, std::string_view name);

// Marks a file as in use for as long as the object lives (a loaded module, an
// open executable): DeleteFile of it, and MoveFileEx or CopyFile onto it, fail
// with ERROR_ACCESS_DENIED from any process meanwhile. It can be renamed (as
// Windows renames a loaded module), and stays in use under its new name.
class FileInUse {
 public:
  FileInUse() = default;
  ~FileInUse();
  FileInUse(FileInUse&& other) noexcept;
  FileInUse& operator=(FileInUse&& other) noexcept;
  FileInUse(const FileInUse&) = delete;
  FileInUse& operator=(const FileInUse&) = delete;

  DWORD Hold(std::string_view path);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace plat
