// Reading a record file (a day log) record by record without holding it: a
// first pass finds where each section's parts lie, a second reads each
// section's parts and hands over its key lines. The line grammar is
// profile_text's.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <unordered_set>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/profile.h"
#include "platform/profile_text.h"
#include "platform/smb_client.h"

namespace plat {

namespace {

constexpr size_t kScanChunk = 1 << 20;  // bytes read at a time while finding the parts
// Bytes of a section's parts read under one hold of the lock; a writer waits
// for at most one such read, never for the caller's work on the records.
constexpr size_t kBatch = 4 << 20;
constexpr int kRemoteLockTimeoutMs = 10000;  // as every reader of a share waits
constexpr uint32_t kNoSection = UINT32_MAX;

// The bytes of the file as it was when opened: a local file read in pieces
// under its shared lock (a file renamed over it meanwhile is not seen, lines
// appended after the opening are not read), or a file of another host's
// share, read whole under the share's lock as every reader there reads it.
class Source {
 public:
  DWORD Open(std::string_view file) {
    FileLocation where;
    if (DWORD err = ResolveLocation(file, &where); err != ERROR_SUCCESS) return err;
    if (where.remote) {
      smb::RemoteFile remote;
      if (DWORD err = remote.OpenWaiting(where.path, O_RDONLY, smb::Share::ReadOnly, kRemoteLockTimeoutMs);
          err != ERROR_SUCCESS) {
        return err;
      }
      if (DWORD err = remote.ReadAll(&whole_); err != ERROR_SUCCESS) return err;
      inMemory_ = true;
      size_ = whole_.size();
      return remote.Close();
    }
    host_ = where.path;
    posix::LockedFile locked;
    if (DWORD err = locked.Open(host_, O_RDONLY, LOCK_SH); err != ERROR_SUCCESS) return err;
    if (!S_ISREG(locked.status().st_mode)) return ERROR_FILE_NOT_FOUND;
    size_ = static_cast<uint64_t>(locked.status().st_size);
    fd_ = locked.Unlock();
    return ERROR_SUCCESS;
  }

  uint64_t size() const { return size_; }

  // Holds the shared lock for a few reads (nothing in memory).
  DWORD Lock() {
    if (inMemory_ || posix::Lock(fd_.get(), LOCK_SH, host_) == 0) return ERROR_SUCCESS;
    return ErrorFromErrno(errno);
  }
  void Unlock() {
    if (!inMemory_) posix::Lock(fd_.get(), LOCK_UN, host_);
  }

  // Appends the bytes [offset, offset + length) to *out.
  DWORD Read(uint64_t offset, size_t length, std::string* out) {
    if (inMemory_) {
      out->append(whole_, static_cast<size_t>(offset), length);
      return ERROR_SUCCESS;
    }
    const size_t at = out->size();
    out->resize(at + length);
    size_t done = 0;
    while (done < length) {
      const ssize_t n = ::pread(fd_.get(), out->data() + at + done, length - done,
                                static_cast<off_t>(offset + done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return ErrorFromErrno(errno);
      if (n == 0) return ERROR_HANDLE_EOF;  // cut short by another program
      done += static_cast<size_t>(n);
    }
    return ERROR_SUCCESS;
  }

 private:
  std::string host_;
  posix::UniqueFd fd_;
  std::string whole_;
  bool inMemory_ = false;
  uint64_t size_ = 0;
};

// The key lines of one section's stretch of the file (its header excluded).
struct Part {
  uint64_t begin;
  uint64_t end;
  uint32_t section;
};

// Where the parts of each section lie. Only a line that begins (after
// blanks) with '[' can be a header; such lines are gathered whole, every
// other line is passed over without being copied, however long.
class PartFinder {
 public:
  void Take(std::string_view chunk, uint64_t base) {
    size_t i = 0;
    while (i < chunk.size()) {
      if (state_ == kLead) {
        const char c = chunk[i];
        if (c == ' ' || c == '\t') {
          ++i;
          continue;
        }
        state_ = c == '[' ? kCandidate : kSkip;
      }
      const void* nl = std::memchr(chunk.data() + i, '\n', chunk.size() - i);
      const size_t stop = nl ? static_cast<size_t>(static_cast<const char*>(nl) - chunk.data()) : chunk.size();
      if (state_ == kCandidate) candidate_.append(chunk.substr(i, stop - i));
      if (!nl) return;
      EndLine(base + stop + 1);
      i = stop + 1;
    }
  }

  // At the end of the file (`size` bytes).
  void Finish(uint64_t size) {
    if (state_ != kLead) EndLine(size);
    Close(size);
  }

  std::vector<Part>& parts() { return parts_; }
  std::vector<std::string>& names() { return names_; }

 private:
  void EndLine(uint64_t next) {
    if (state_ == kCandidate) {
      if (!candidate_.empty() && candidate_.back() == '\r') candidate_.pop_back();
      std::string_view name;
      if (ini::HeaderName(candidate_, &name)) {
        Close(lineStart_);
        current_ = kNoSection;
        if (!name.empty()) {
          const auto [it, added] = index_.try_emplace(std::string(name), static_cast<uint32_t>(names_.size()));
          if (added) names_.emplace_back(name);
          current_ = it->second;
        }
        partBegin_ = next;
      }
      candidate_.clear();
    }
    state_ = kLead;
    lineStart_ = next;
  }

  void Close(uint64_t end) {
    if (current_ != kNoSection && end > partBegin_) parts_.push_back(Part{partBegin_, end, current_});
  }

  enum State { kLead, kCandidate, kSkip } state_ = kLead;
  std::string candidate_;
  uint64_t lineStart_ = 0;
  uint64_t partBegin_ = 0;
  uint32_t current_ = kNoSection;  // the lines before the first header belong to none
  std::vector<Part> parts_;
  std::vector<std::string> names_;  // as each section's first header spells it
  ini::NameIndex index_;
};

DWORD FindParts(Source& source, PartFinder* finder) {
  std::string chunk;
  for (uint64_t at = 0; at < source.size(); at += kScanChunk) {
    const size_t length = static_cast<size_t>(std::min<uint64_t>(kScanChunk, source.size() - at));
    chunk.clear();
    if (DWORD err = source.Lock(); err != ERROR_SUCCESS) return err;
    const DWORD err = source.Read(at, length, &chunk);
    source.Unlock();
    if (err != ERROR_SUCCESS) return err;
    finder->Take(chunk, at);
  }
  finder->Finish(source.size());
  return ERROR_SUCCESS;
}

using KeySet = std::unordered_set<std::string, ini::CaseInsensitiveHash, ini::CaseInsensitiveEqual>;

// Hands over the key lines of `text` whose key the section has not had yet.
void EmitKeys(std::string_view text, KeySet& seen,
              const std::function<void(std::string_view, std::string_view)>& onRecord) {
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    const size_t next = end == text.npos ? text.size() : end + 1;
    if (end == text.npos) end = text.size();
    if (end > pos && text[end - 1] == '\r') --end;
    std::string_view name, value;
    if (ini::KeyLineParts(text.substr(pos, end - pos), &name, &value) && seen.emplace(name).second) {
      onRecord(name, ini::Unquoted(value));
    }
    pos = next;
  }
}

}  // namespace

DWORD ProfileForEachRecord(std::string_view file,
                           const std::function<bool(std::string_view section)>& onSection,
                           const std::function<void(std::string_view key, std::string_view value)>& onRecord) {
  Source source;
  if (DWORD err = source.Open(file); err != ERROR_SUCCESS) return err;
  PartFinder finder;
  if (DWORD err = FindParts(source, &finder); err != ERROR_SUCCESS) return err;
  std::vector<Part>& parts = finder.parts();
  // The parts of each section in file order, sections by first appearance.
  std::vector<uint32_t> first(finder.names().size() + 1, 0);
  for (const Part& p : parts) ++first[p.section + 1];
  for (size_t s = 1; s < first.size(); ++s) first[s] += first[s - 1];
  std::vector<uint32_t> order(parts.size());
  {
    std::vector<uint32_t> fill(first.begin(), first.end() - 1);
    for (uint32_t i = 0; i < parts.size(); ++i) order[fill[parts[i].section]++] = i;
  }
  std::string batch;
  KeySet seen;
  for (uint32_t s = 0; s < finder.names().size(); ++s) {
    if (onSection && !onSection(finder.names()[s])) continue;
    seen.clear();
    for (uint32_t i = first[s]; i < first[s + 1];) {
      batch.clear();
      if (DWORD err = source.Lock(); err != ERROR_SUCCESS) return err;
      DWORD err = ERROR_SUCCESS;
      for (; i < first[s + 1] && err == ERROR_SUCCESS && (batch.empty() || batch.size() < kBatch); ++i) {
        const Part& p = parts[order[i]];
        err = source.Read(p.begin, static_cast<size_t>(p.end - p.begin), &batch);
        // A part cut off by the end of the file ends without a line break.
        if (!batch.empty() && batch.back() != '\n') batch += '\n';
      }
      source.Unlock();
      if (err != ERROR_SUCCESS) return err;
      EmitKeys(batch, seen, onRecord);
    }
  }
  return ERROR_SUCCESS;
}

}  // namespace plat
