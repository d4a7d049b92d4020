#include "platform/profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits.h>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "platform/errors.h"
#include "platform/path.h"
#include "platform/posix_env.h"
#include "platform/posix_fd.h"
#include "platform/profile_text.h"
#include "platform/request_scope.h"
#include "platform/smb_client.h"
#include "platform/text.h"

namespace plat {

namespace {

using ini::WritePlan;

// Lets a writer of this process change cached data in place only while no
// reader of this process is looking at it. A copy of the data gets a gate of
// its own.
struct ReaderGate {
  ReaderGate() = default;
  ReaderGate(const ReaderGate&) {}
  ReaderGate& operator=(const ReaderGate&) { return *this; }
  mutable std::shared_mutex mutex;  // shared: readers; exclusive: an in-place change
};

struct ProfileData : ini::Profile {
  explicit ProfileData(ini::Profile parsed) : ini::Profile(std::move(parsed)) {}
  ReaderGate gate;
};

// ------------------------------------------------------------ file level

using posix::UniqueFd;
using posix::FileIdentity;
using posix::IdentityOf;

// Parsed files of this process. Each entry keeps its file open: an inode
// number cannot be reused while the inode is open, so (device, inode) never
// names two different versions of a file even when both have the same size
// and a coarse modification time.
class ParseCache {
 public:
  struct Entry {
    FileIdentity id;
    std::shared_ptr<ProfileData> data;
    UniqueFd pin;
    uint64_t lastUse = 0;
  };

  // The data of version `id`. Another version found is dropped when `dropStale`
  // (the caller has just looked at the file) and kept otherwise.
  std::shared_ptr<const ProfileData> Find(const std::string& path, const FileIdentity& id,
                                          bool dropStale = true) {
    Entry stale;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end()) return nullptr;
    if (it->second.id == id) {
      it->second.lastUse = ++clock_;
      return it->second.data;
    }
    if (dropStale) stale = Remove(it);
    return nullptr;  // `stale` is destroyed after the mutex is released
  }

  void Drop(const std::string& path) {
    scope::Forget(path);
    Entry gone;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) gone = Remove(it);
  }

  // Removes the entry of `path`; true, with the entry in `*out`, when it still
  // describes the file, so a writer can change the data in place.
  bool Take(const std::string& path, const FileIdentity& id, Entry* out) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(path);
    if (it == entries_.end()) return false;
    const bool current = it->second.id == id;
    *out = Remove(it);
    return current;
  }

  void Put(const std::string& path, Entry entry) {
    scope::NoteIdentity(path, entry.id);
    std::vector<Entry> evicted;
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) evicted.push_back(Remove(it));
    entry.lastUse = ++clock_;
    bytes_ += static_cast<uint64_t>(entry.id.size);
    entries_.insert_or_assign(path, std::move(entry));
    // The largest file stays on top of the limit: a users file larger than
    // the limit by itself would otherwise be parsed again after every write
    // to any other file.
    auto over = [this] {
      uint64_t largest = 0;
      for (const auto& [name, e] : entries_) largest = std::max<uint64_t>(largest, static_cast<uint64_t>(e.id.size));
      return entries_.size() > kMaxEntries || bytes_ - largest > kMaxBytes;
    };
    while (entries_.size() > 1 && over()) {
      auto oldest = entries_.begin();
      for (auto i = entries_.begin(); i != entries_.end(); ++i) {
        if (i->second.lastUse < oldest->second.lastUse) oldest = i;
      }
      evicted.push_back(Remove(oldest));
    }
  }

 private:
  static constexpr size_t kMaxEntries = 48;
  static constexpr uint64_t kMaxBytes = 96ull << 20;

  Entry Remove(std::unordered_map<std::string, Entry>::iterator it) {
    Entry e = std::move(it->second);
    bytes_ -= static_cast<uint64_t>(e.id.size);
    entries_.erase(it);
    return e;
  }

  std::mutex mutex_;  // guards entries_, clock_ and bytes_
  std::unordered_map<std::string, Entry> entries_;
  uint64_t clock_ = 0;
  uint64_t bytes_ = 0;
};

ParseCache& Cache() {
  static ParseCache cache;
  return cache;
}


// Parses the file open on `fd`, whose status is `st`. ERROR_READ_FAULT when it
// changed while being read (a writer that does not replace files).
DWORD ParseOpenFile(int fd, const struct stat& st, std::shared_ptr<ProfileData>* out) {
  std::string text;
  if (DWORD err = posix::ReadToEnd(fd, &text, static_cast<size_t>(st.st_size)); err != ERROR_SUCCESS) {
    return err;
  }
  struct stat after;
  if (::fstat(fd, &after) != 0) return ErrorFromErrno(errno);
  if (static_cast<off_t>(text.size()) != st.st_size || !(IdentityOf(after) == IdentityOf(st))) {
    return ERROR_READ_FAULT;
  }
  *out = std::make_shared<ProfileData>(ini::Parse(text));
  return ERROR_SUCCESS;
}

// ------------------------------------------------------- change journal
//
// A writer that changes a large file where it stands notes which bytes it
// wrote, and between which two versions of the file, in an extended
// attribute of the file itself. Another process holding an older version in
// its cache then reads those bytes only, not the whole file. The journal
// goes with the inode: a replaced file starts without one. Only a complete
// chain of notes from the cached version to the current one is trusted; a
// version missing from it (a writer that does not keep the journal, a note
// that could not be written, one dropped as the journal grew) means a full
// read, as before.

constexpr const char* kJournalAttribute = "user.profile.changes";
// Extended attributes fit in one block of most file systems.
constexpr size_t kJournalBytes = 3072;
// A write with more separate ranges is noted as the one range spanning them.
constexpr size_t kJournalRanges = 16;

struct JournalEntry {
  int64_t fromSize = 0, fromMtime = 0, toSize = 0, toMtime = 0;
  std::vector<std::pair<uint64_t, uint64_t>> ranges;  // [begin, end) written
  bool valuesOnly = false;  // what was written in place replaced values, keys kept
};

constexpr uint64_t kValuesOnlyBit = 1ull << 63;

void PutWord(std::string& out, uint64_t v) { out.append(reinterpret_cast<const char*>(&v), sizeof v); }
bool TakeWord(std::string_view& in, uint64_t* v) {
  if (in.size() < sizeof *v) return false;
  std::memcpy(v, in.data(), sizeof *v);
  in.remove_prefix(sizeof *v);
  return true;
}

std::vector<JournalEntry> ReadJournal(int fd) {
  std::vector<JournalEntry> entries;
  char buffer[kJournalBytes + 1024];
  const ssize_t n = ::fgetxattr(fd, kJournalAttribute, buffer, sizeof buffer);
  if (n <= 0) return entries;
  std::string_view in(buffer, static_cast<size_t>(n));
  for (;;) {
    JournalEntry e;
    uint64_t words[5];
    for (auto& w : words) {
      if (!TakeWord(in, &w)) return entries;
    }
    e.fromSize = static_cast<int64_t>(words[0]);
    e.fromMtime = static_cast<int64_t>(words[1]);
    e.toSize = static_cast<int64_t>(words[2]);
    e.toMtime = static_cast<int64_t>(words[3]);
    e.valuesOnly = (words[4] & kValuesOnlyBit) != 0;
    for (uint64_t i = 0; i < (words[4] & ~kValuesOnlyBit); ++i) {
      uint64_t begin = 0, end = 0;
      if (!TakeWord(in, &begin) || !TakeWord(in, &end)) return {};
      e.ranges.emplace_back(begin, end);
    }
    entries.push_back(std::move(e));
  }
}

// Notes that this write took the file from `before` to `after`, under the
// writer's exclusive lock. A note that cannot be written costs the other
// processes a full read, nothing else: it is not an error of the write.
void NoteInJournal(int fd, const FileIdentity& before, const FileIdentity& after, const WritePlan& plan) {
  JournalEntry e{before.size, before.mtimeNs, after.size, after.mtimeNs, {}, plan.valuesOnly};
  for (const auto& [offset, bytes] : plan.writes) e.ranges.emplace_back(offset, offset + bytes.size());
  std::sort(e.ranges.begin(), e.ranges.end());
  if (e.ranges.size() > kJournalRanges) {
    uint64_t end = 0;
    for (const auto& r : e.ranges) end = std::max(end, r.second);
    e.ranges = {{e.ranges.front().first, end}};
  }
  std::vector<JournalEntry> entries = ReadJournal(fd);
  entries.push_back(std::move(e));
  std::string out;
  size_t first = entries.size();
  size_t bytes = 0;
  while (first > 0 && bytes + 40 + 16 * entries[first - 1].ranges.size() <= kJournalBytes) {
    bytes += 40 + 16 * entries[--first].ranges.size();
  }
  for (size_t i = first; i < entries.size(); ++i) {
    const JournalEntry& x = entries[i];
    for (const int64_t w : {x.fromSize, x.fromMtime, x.toSize, x.toMtime}) PutWord(out, static_cast<uint64_t>(w));
    PutWord(out, x.ranges.size() | (x.valuesOnly ? kValuesOnlyBit : 0));
    for (const auto& [b, en] : x.ranges) {
      PutWord(out, b);
      PutWord(out, en);
    }
  }
  ::fsetxattr(fd, kJournalAttribute, out.data(), out.size(), 0);
}

// The ranges written between version `from` and version `to` of the file
// open on `fd`; false when the journal has no complete chain between them.
bool ChangesBetween(int fd, const FileIdentity& from, const FileIdentity& to,
                    std::vector<std::pair<uint64_t, uint64_t>>* ranges, bool* valuesOnly = nullptr) {
  const std::vector<JournalEntry> entries = ReadJournal(fd);
  if (valuesOnly) *valuesOnly = true;
  int64_t size = from.size, mtime = from.mtimeNs;
  for (size_t steps = 0; steps < entries.size(); ++steps) {
    if (size == to.size && mtime == to.mtimeNs) return true;
    auto next = std::find_if(entries.rbegin(), entries.rend(),
                             [&](const JournalEntry& e) { return e.fromSize == size && e.fromMtime == mtime; });
    if (next == entries.rend() || next->toSize < next->fromSize) return false;
    ranges->insert(ranges->end(), next->ranges.begin(), next->ranges.end());
    if (valuesOnly) *valuesOnly = *valuesOnly && next->valuesOnly;
    size = next->toSize;
    mtime = next->toMtime;
  }
  return size == to.size && mtime == to.mtimeNs;
}

DWORD PreadFully(int fd, uint64_t offset, size_t length, std::string* out) {
  out->resize(length);
  size_t done = 0;
  while (done < length) {
    const ssize_t n = ::pread(fd, out->data() + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrorFromErrno(errno);
    if (n == 0) return ERROR_READ_FAULT;
    done += static_cast<size_t>(n);
  }
  return ERROR_SUCCESS;
}

// Brings `data`, parsed from version `from` of the file open (and locked) on
// `fd`, to version `to` by reading only what the journal says was written.
// False, with `data` unchanged, when that cannot be done: the caller parses
// the file afresh.
bool CatchUp(ProfileData& data, int fd, const FileIdentity& from, const FileIdentity& to) {
  if (from.dev != to.dev || from.ino != to.ino || to.size < from.size ||
      data.size != static_cast<uint64_t>(from.size)) {
    return false;
  }
  std::vector<std::pair<uint64_t, uint64_t>> written;
  if (!ChangesBetween(fd, from, to, &written)) return false;
  std::vector<std::pair<uint64_t, std::string>> patches;
  for (const auto& [begin, end] : ini::WholeLines(data, std::move(written))) {
    std::string bytes;
    if (PreadFully(fd, begin, static_cast<size_t>(end - begin), &bytes) != ERROR_SUCCESS) return false;
    patches.emplace_back(begin, std::move(bytes));
  }
  std::string tail;
  if (PreadFully(fd, static_cast<uint64_t>(from.size), static_cast<size_t>(to.size - from.size), &tail) !=
      ERROR_SUCCESS) {
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !(IdentityOf(st) == to)) return false;  // changed by a writer that does not lock
  // Appending is checked first: once the patches are in, nothing may fail.
  if (!tail.empty() && !ini::CanAppendText(data)) return false;
  if (!ini::PatchLines(data, patches)) return false;
  ini::AppendText(data, tail);
  return true;
}

// The cached data of an older version of the file open on `fd`, brought to
// version `id`; nullptr when it cannot be. The data is changed where it lies
// unless a reader of this process is looking at it, then a copy.
std::shared_ptr<ProfileData> CaughtUp(const ParseCache::Entry& old, int fd, const FileIdentity& id) {
  std::shared_ptr<ProfileData> data = old.data;
  std::unique_lock<std::shared_mutex> inPlace(data->gate.mutex, std::try_to_lock);
  if (!inPlace.owns_lock()) data = std::make_shared<ProfileData>(*old.data);
  return CatchUp(*data, fd, old.id, id) ? data : nullptr;
}

// The profile as the file holds it now; ERROR_FILE_NOT_FOUND when missing.
DWORD LoadProfile(const std::string& host, std::shared_ptr<const ProfileData>* out) {
  if (FileIdentity seen; scope::FindIdentity(host, &seen)) {
    if (auto cached = Cache().Find(host, seen, false)) {
      *out = std::move(cached);
      return ERROR_SUCCESS;
    }
  }
  struct stat st;
  if (::stat(host.c_str(), &st) != 0) {
    const int e = errno;
    Cache().Drop(host);  // releases a deleted file the cache still holds open
    return ErrorFromErrno(e);
  }
  if (!S_ISREG(st.st_mode)) return ERROR_FILE_NOT_FOUND;
  // An older version stays cached: what changed since may be read alone.
  if (auto cached = Cache().Find(host, IdentityOf(st), false)) {
    scope::NoteIdentity(host, IdentityOf(st));
    *out = std::move(cached);
    return ERROR_SUCCESS;
  }
  DWORD err = ERROR_READ_FAULT;
  for (int attempt = 0; attempt < 5; ++attempt) {
    // Writers change lines in place under their exclusive lock: reading under
    // a shared one never sees half of such a change.
    posix::LockedFile file;
    if (DWORD e = file.Open(host, O_RDONLY, LOCK_SH); e != ERROR_SUCCESS) return e;
    const FileIdentity id = IdentityOf(file.status());
    ParseCache::Entry old;
    if (Cache().Take(host, id, &old)) {
      scope::NoteIdentity(host, id);
      *out = old.data;
      Cache().Put(host, std::move(old));
      return ERROR_SUCCESS;
    }
    std::shared_ptr<ProfileData> data = old.data ? CaughtUp(old, file.fd(), id) : nullptr;
    UniqueFd pin = data ? std::move(old.pin) : UniqueFd();
    if (!data) {
      err = ParseOpenFile(file.fd(), file.status(), &data);
      if (err == ERROR_READ_FAULT) continue;
      if (err != ERROR_SUCCESS) return err;
      pin = file.Unlock();
    }
    Cache().Put(host, ParseCache::Entry{id, data, std::move(pin), 0});
    *out = std::move(data);
    return ERROR_SUCCESS;
  }
  return err;
}

// The exclusive lock of a profile file, shared by all processes: flock on the
// file itself. Held for exactly one read-modify-write.
class FileLock {
 public:
  // Locks the file that `host` names, creating it when `create` (then
  // `*created` tells whether this call made it); `*held` is then its status.
  DWORD Acquire(const std::string& host, bool create, bool* created, struct stat* held) {
    if (DWORD err = file_.Open(host, O_RDWR | (create ? O_CREAT : 0), LOCK_EX, created); err != ERROR_SUCCESS) {
      return err;
    }
    *held = file_.status();
    return ERROR_SUCCESS;
  }
  int fd() const { return file_.fd(); }

 private:
  posix::LockedFile file_;  // closing it releases the lock
};


// Writes the sections' texts in order, straight from where they lie: no copy
// of the whole file is made on the way.
DWORD WriteSections(int fd, const ProfileData& data) {
  std::vector<iovec> pending;
  pending.reserve(std::min<size_t>(data.sections.size(), IOV_MAX));
  auto flush = [&]() -> DWORD {
    size_t first = 0;
    while (first < pending.size()) {
      const int count = static_cast<int>(std::min<size_t>(pending.size() - first, IOV_MAX));
      const ssize_t n = ::writev(fd, pending.data() + first, count);
      if (n < 0) {
        if (errno == EINTR) continue;
        return ErrorFromErrno(errno);
      }
      // Skip what was written; a short write leaves part of one buffer.
      size_t done = static_cast<size_t>(n);
      while (first < pending.size() && done >= pending[first].iov_len) done -= pending[first++].iov_len;
      if (first < pending.size()) {
        pending[first].iov_base = static_cast<char*>(pending[first].iov_base) + done;
        pending[first].iov_len -= done;
      }
    }
    pending.clear();
    return ERROR_SUCCESS;
  };
  for (const auto& section : data.sections) {
    if (section.text.empty()) continue;
    pending.push_back(iovec{const_cast<char*>(section.text.data()), section.text.size()});
    if (pending.size() == IOV_MAX) {
      if (DWORD err = flush(); err != ERROR_SUCCESS) return err;
    }
  }
  return flush();
}

// Writes the file's new contents beside `host` and puts them in its place,
// keeping its mode; the new file stays open in `*pin`. No fsync: the file
// must survive a crash of the process, not of the host, and syncing
// megabytes would cost more than a dial-in may take.
DWORD ReplaceFile(const std::string& host, const ProfileData& data, mode_t mode, UniqueFd* pin,
                  FileIdentity* id) {
  posix::ReplaceOptions options;
  options.mode = mode & 07770;
  options.exactMode = true;
  struct stat st;
  if (DWORD err = posix::ReplaceAtomically(
          host, [&](int fd) { return WriteSections(fd, data); }, options, pin, &st);
      err != ERROR_SUCCESS) {
    return err;
  }
  *id = IdentityOf(st);
  return ERROR_SUCCESS;
}

// Puts the planned lines where they belong in the file open on `fd`, whose
// identity was `before`. The modification time is then set past the old one
// by at least a nanosecond: the file keeps its inode and often its size, and
// the clock that stamps writes is coarse, so without this another process
// could take the changed file for the version it has cached.
DWORD WriteInPlace(int fd, const std::string& host, const WritePlan& plan, const FileIdentity& before,
                   FileIdentity* after) {
  for (const auto& [offset, bytes] : plan.writes) {
    size_t done = 0;
    while (done < bytes.size()) {
      const int fault = posix::InjectedFault(FaultCall::Write, host);
      if (fault != 0) errno = fault;
      const ssize_t n = fault != 0 ? -1
                                   : ::pwrite(fd, bytes.data() + done, bytes.size() - done,
                                              static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        const DWORD err = ErrorFromErrno(errno);
        // An append cut short (a full disk) must not leave half a line.
        if (::ftruncate(fd, before.size) != 0) return ErrorFromErrno(errno);
        return err;
      }
      done += static_cast<size_t>(n);
    }
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  if (IdentityOf(st).mtimeNs <= before.mtimeNs) {
    const int64_t ns = before.mtimeNs + 1;
    const timespec times[2] = {{0, UTIME_OMIT}, {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)}};
    if (::futimens(fd, times) != 0 || ::fstat(fd, &st) != 0) return ErrorFromErrno(errno);
  }
  *after = IdentityOf(st);
  return ERROR_SUCCESS;
}

// What a caller changes in a profile: sets `*changed` when there is anything
// to write, or returns an error having changed nothing.
using Mutation = std::function<DWORD(ProfileData&, WritePlan&, bool* changed)>;

// One locked read-modify-write of a file.
DWORD ModifyProfile(const std::string& host, bool creates, const Mutation& mutate) {
  FileLock lock;
  bool created = false;
  struct stat st;
  if (DWORD err = lock.Acquire(host, creates, &created, &st); err != ERROR_SUCCESS) {
    // Deleting from a file that does not exist leaves nothing to do.
    return !creates && err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
  }
  const FileIdentity id = IdentityOf(st);

  ParseCache::Entry entry;
  // Keeps the data alive until the gate below is released, whoever evicts it
  // from the cache meanwhile.
  std::shared_ptr<ProfileData> keep;
  std::unique_lock<std::shared_mutex> inPlace;
  const bool current = Cache().Take(host, id, &entry);
  bool usable = false;
  if (entry.data) {
    keep = entry.data;
    inPlace = std::unique_lock<std::shared_mutex>(keep->gate.mutex, std::try_to_lock);
    // A reader of this process still looks at it: change a copy.
    if (!inPlace.owns_lock()) entry.data = std::make_shared<ProfileData>(*entry.data);
    // An older version follows what another process wrote, when that is known.
    usable = current || CatchUp(*entry.data, lock.fd(), entry.id, id);
  }
  if (!usable) {
    if (inPlace.owns_lock()) inPlace.unlock();
    entry = ParseCache::Entry{};
    DWORD err = ParseOpenFile(lock.fd(), st, &entry.data);
    if (err == ERROR_READ_FAULT) err = ERROR_SHARING_VIOLATION;  // changed behind our lock
    if (err != ERROR_SUCCESS) return err;
  }
  entry.id = id;

  ProfileData& data = *entry.data;
  WritePlan plan;
  bool changed = false;
  if (DWORD err = mutate(data, plan, &changed); err != ERROR_SUCCESS || !changed) {
    // A mutation that fails leaves the data as it was: it goes back into the cache.
    if (entry.pin.valid()) Cache().Put(host, std::move(entry));
    if (created) ::unlink(host.c_str());
    return err;
  }

  ini::FinishPlan(data, plan, static_cast<uint64_t>(st.st_size));
  if (!plan.rewrite) {
    FileIdentity after;
    if (DWORD err = WriteInPlace(lock.fd(), host, plan, id, &after); err != ERROR_SUCCESS) return err;
    if (static_cast<uint64_t>(after.size) > data.size) {  // a small file rewritten shorter
      if (::ftruncate(lock.fd(), static_cast<off_t>(data.size)) != 0) return ErrorFromErrno(errno);
      struct stat cut;
      if (::fstat(lock.fd(), &cut) != 0) return ErrorFromErrno(errno);
      after = IdentityOf(cut);
    }
    if (data.size >= ini::kPadFileSize) NoteInJournal(lock.fd(), id, after, plan);
    // The pin gets a descriptor of its own: one sharing the lock's would keep
    // the file locked for as long as the cache holds it.
    UniqueFd pin = entry.pin.valid() ? std::move(entry.pin) : UniqueFd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
    Cache().Put(host, ParseCache::Entry{after, std::move(entry.data), std::move(pin), 0});
    return ERROR_SUCCESS;
  }
  UniqueFd pin;
  FileIdentity newId;
  if (DWORD err = ReplaceFile(host, data, st.st_mode, &pin, &newId); err != ERROR_SUCCESS) {
    // Leave no empty file behind that only this failed write created. We hold
    // its lock, so the name still refers to it.
    if (created) ::unlink(host.c_str());
    return err;
  }
  Cache().Put(host, ParseCache::Entry{newId, std::move(entry.data), std::move(pin), 0});
  return ERROR_SUCCESS;
}

// ------------------------------------------------------- on another host
//
// A file on another host's share is locked by opening it with a share mode
// that the server enforces between hosts: readers deny writers, a writer
// denies everyone. A replacement is written in place under that lock, since
// a rename over an existing file is not atomic there. Nothing is cached: the
// open that locks costs what a look at the file would.

// How long a reader or writer waits for another host's writer.
constexpr int kRemoteLockTimeoutMs = smb::kLockWaitMs;

DWORD LoadRemote(const std::string& url, std::shared_ptr<const ProfileData>* out) {
  smb::RemoteFile file;
  if (DWORD err = file.OpenWaiting(url, O_RDONLY, smb::Share::ReadOnly, kRemoteLockTimeoutMs);
      err != ERROR_SUCCESS) {
    return err;
  }
  std::string text;
  if (DWORD err = file.ReadAll(&text); err != ERROR_SUCCESS) return err;
  *out = std::make_shared<ProfileData>(ini::Parse(text));
  return file.Close();
}

DWORD ModifyRemote(const std::string& url, bool creates, const Mutation& mutate) {
  smb::RemoteFile file;
  bool created = false;
  if (DWORD err = file.OpenWaiting(url, O_RDWR | (creates ? O_CREAT : 0), smb::Share::None,
                                   kRemoteLockTimeoutMs, &created);
      err != ERROR_SUCCESS) {
    return !creates && err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
  }
  std::string text;
  if (DWORD err = file.ReadAll(&text); err != ERROR_SUCCESS) return err;
  ProfileData data(ini::Parse(text));
  WritePlan plan;
  bool changed = false;
  if (DWORD err = mutate(data, plan, &changed); err != ERROR_SUCCESS || !changed) {
    if (created) {
      file.Close();
      smb::Unlink(url);
    }
    return err;
  }
  ini::FinishPlan(data, plan, text.size());
  if (plan.rewrite) {
    const std::string whole = ini::Text(data);
    if (DWORD err = file.WriteAt(0, whole); err != ERROR_SUCCESS) return err;
  } else {
    for (const auto& [offset, bytes] : plan.writes) {
      if (DWORD err = file.WriteAt(offset, bytes); err != ERROR_SUCCESS) {
        file.Truncate(text.size());  // an append cut short must not leave half a line
        return err;
      }
    }
  }
  if (data.size < text.size()) {
    if (DWORD err = file.Truncate(data.size); err != ERROR_SUCCESS) return err;
  }
  return file.Close();
}

// One locked read-modify-write, on this computer or another host.
DWORD Modify(const FileLocation& where, bool creates, const Mutation& mutate) {
  return where.remote ? ModifyRemote(where.path, creates, mutate) : ModifyProfile(where.path, creates, mutate);
}


// -------------------------------------------------- record files, indexed
//
// Appending a record needs only which keys the file's sections hold and how
// the file ends (ini::RecordIndex), not its text: a day log of a million
// records is so read once and held in a few dozen megabytes, and another
// process's records are followed from the journal like any in-place write.

// The index of one record file, used by one thread at a time.
struct RecordEntry {
  std::mutex mutex;  // guards everything below
  bool valid = false;
  FileIdentity id;
  ini::RecordIndex index;
  UniqueFd pin;  // keeps the inode from being reused while `id` names it
};

class RecordCache {
 public:
  std::shared_ptr<RecordEntry> Get(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& e = entries_[path];
    if (!e) {
      // Today's and yesterday's logs and portulon.log are the usual ones.
      while (entries_.size() > kMaxFiles) entries_.erase(entries_.begin()->first == path ? std::next(entries_.begin()) : entries_.begin());
      e = std::make_shared<RecordEntry>();
    }
    return e;
  }
  void Drop(const std::string& path) {
    std::shared_ptr<RecordEntry> gone;  // destroyed after the mutex is released
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto it = entries_.find(path); it != entries_.end()) {
      gone = std::move(it->second);
      entries_.erase(it);
    }
  }

 private:
  static constexpr size_t kMaxFiles = 8;
  std::mutex mutex_;  // guards entries_
  std::unordered_map<std::string, std::shared_ptr<RecordEntry>> entries_;
};

RecordCache& Records() {
  static RecordCache cache;
  return cache;
}

// Follows version `from` to `to` of the file open on `fd` from the journal:
// records appended and values changed in place. False, changing nothing,
// when it cannot.
bool FollowRecords(ini::RecordIndex& index, int fd, const FileIdentity& from, const FileIdentity& to) {
  if (from.dev != to.dev || from.ino != to.ino || to.size < from.size || index.size() != static_cast<uint64_t>(from.size)) {
    return false;
  }
  std::vector<std::pair<uint64_t, uint64_t>> written;
  bool valuesOnly = true;
  if (!ChangesBetween(fd, from, to, &written, &valuesOnly)) return false;
  const bool inPlace = std::any_of(written.begin(), written.end(),
                                   [&](const auto& r) { return r.first < static_cast<uint64_t>(from.size); });
  if (inPlace && !valuesOnly) return false;
  std::string tail, last;
  if (PreadFully(fd, static_cast<uint64_t>(from.size), static_cast<size_t>(to.size - from.size), &tail) != ERROR_SUCCESS ||
      (to.size > 0 && PreadFully(fd, static_cast<uint64_t>(to.size - 1), 1, &last) != ERROR_SUCCESS)) {
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !(IdentityOf(st) == to)) return false;
  if (!index.Append(tail)) return false;
  if (!last.empty()) index.SetLastByte(last[0]);  // a value in place may end the file
  return true;
}

// Brings `e` to the version of the file open (and locked) on `fd`, whose
// status is `st`: from the journal when it can, else by reading the file.
DWORD RefreshRecords(RecordEntry& e, int fd, const struct stat& st, const std::string& host) {
  const FileIdentity id = IdentityOf(st);
  if (e.valid && e.id == id) return ERROR_SUCCESS;
  if (e.valid && FollowRecords(e.index, fd, e.id, id)) {
    e.id = id;
    return ERROR_SUCCESS;
  }
  e.valid = false;
  // Read in pieces: a day log of tens of megabytes is never held whole.
  ini::RecordIndex index;
  std::string piece(std::min<uint64_t>(static_cast<uint64_t>(st.st_size), 1u << 20), '\0');
  uint64_t done = 0;
  while (done < static_cast<uint64_t>(st.st_size)) {
    const ssize_t n = ::pread(fd, piece.data(), std::min<uint64_t>(piece.size(), st.st_size - done), static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return ErrorFromErrno(errno);
    if (n == 0) return ERROR_READ_FAULT;
    index.Feed(std::string_view(piece.data(), static_cast<size_t>(n)));
    done += static_cast<uint64_t>(n);
  }
  index.Finish();
  struct stat after;
  if (::fstat(fd, &after) != 0) return ErrorFromErrno(errno);
  if (!(IdentityOf(after) == id)) return ERROR_READ_FAULT;
  e.index = std::move(index);
  // A descriptor of its own: one sharing the lock's would hold the lock.
  e.pin = UniqueFd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  e.id = id;
  e.valid = true;
  return ERROR_SUCCESS;
}

// ProfileAppendRecordAtFreeKey on this computer.
DWORD AppendRecordIndexed(const std::string& host, const std::vector<ProfileChange>& candidates, std::string* used) {
  FileLock lock;
  bool created = false;
  struct stat st;
  if (DWORD err = lock.Acquire(host, true, &created, &st); err != ERROR_SUCCESS) return err;
  const std::shared_ptr<RecordEntry> entry = Records().Get(host);
  std::lock_guard<std::mutex> hold(entry->mutex);
  auto fail = [&](DWORD err) {
    entry->valid = false;
    if (created) ::unlink(host.c_str());
    return err;
  };
  if (DWORD err = RefreshRecords(*entry, lock.fd(), st, host); err != ERROR_SUCCESS) {
    return fail(err == ERROR_READ_FAULT ? ERROR_SHARING_VIOLATION : err);  // changed behind our lock
  }
  ini::RecordIndex& index = entry->index;
  const auto free = std::find_if(candidates.begin(), candidates.end(),
                                 [&](const ProfileChange& c) { return !index.Holds(c.section, c.key); });
  if (free == candidates.end()) return ERROR_ALREADY_EXISTS;
  WritePlan plan;
  plan.Put(index.size(), index.AppendBytes(free->section, free->key, *free->value));
  const FileIdentity before = IdentityOf(st);
  FileIdentity after;
  if (DWORD err = WriteInPlace(lock.fd(), host, plan, before, &after); err != ERROR_SUCCESS) return fail(err);
  // The bytes close any open last line, so the index always takes them.
  entry->valid = index.Append(plan.writes.front().second);
  entry->id = after;
  if (!entry->pin.valid()) entry->pin = UniqueFd(::open(host.c_str(), O_RDONLY | O_CLOEXEC));
  if (static_cast<uint64_t>(after.size) >= ini::kPadFileSize) NoteInJournal(lock.fd(), before, after, plan);
  // A parsed copy of this process read later in this request must not be taken for current.
  scope::NoteIdentity(host, after);
  *used = free->key;
  return ERROR_SUCCESS;
}

// ProfileRecordExists on this computer.
bool RecordExistsIndexed(const std::string& host, std::string_view section, std::string_view key) {
  posix::LockedFile file;
  if (file.Open(host, O_RDONLY, LOCK_SH) != ERROR_SUCCESS) return false;
  const std::shared_ptr<RecordEntry> entry = Records().Get(host);
  std::lock_guard<std::mutex> hold(entry->mutex);
  return RefreshRecords(*entry, file.fd(), file.status(), host) == ERROR_SUCCESS && entry->index.Holds(section, key);
}

// ---------------------------------------------------------------- layout

bool LayoutApplies(const ProfileLayout& layout, const ini::Section& s) {
  return s.hasHeader && !s.name.empty() && (!layout.applies || layout.applies(s.name));
}

std::string Padded(std::string_view value, size_t width) {
  std::string out(value);
  if (out.size() < width) out.append(width - out.size(), ' ');
  return out;
}

// Brings one section written by this write into the layout through the
// ordinary edits, so that keys added to the file's last section are appended
// where they stand.
bool LayOutSection(ini::Profile& d, const std::string& section, const ProfileLayout& layout,
                   WritePlan& plan) {
  const ini::Section* s = d.Find(section);
  if (!s || !LayoutApplies(layout, *s)) return false;
  std::vector<ProfileChange> edits;
  for (const auto& key : layout.keys) {
    const ini::KeyLine* k = s->FindKey(key);
    if (!k) {
      edits.push_back({section, key, Padded(layout.missingValue, layout.width)});
    } else if (k->lineEnd - k->valueOff < layout.width) {  // value and its blanks
      const std::string_view raw = std::string_view(s->text).substr(k->valueOff, k->valueLen);
      edits.push_back({section, std::string(s->KeyName(*k)), Padded(raw, layout.width)});
    }
  }
  bool changed = false;
  for (const auto& e : edits) changed = ini::ApplyChange(d, e, plan) || changed;
  return changed;
}

bool IsLayoutKey(const ProfileLayout& layout, std::string_view name) {
  for (const auto& key : layout.keys) {
    if (EqualsIgnoringCase(key, name)) return true;
  }
  return false;
}

// Brings every section into the layout for a write that replaces the file
// anyway: each section's text is built once and parsed once, which a file of
// 100,000 sections needs (eight edits per section would parse each eight times).
void LayOutAll(ini::Profile& d, const ProfileLayout& layout) {
  for (auto& s : d.sections) {
    if (!LayoutApplies(layout, s) || d.Find(s.name) != &s) continue;
    std::string text;
    size_t copied = 0;
    bool changed = false;
    for (const auto& k : s.keys) {
      if (!k.first || k.lineEnd - k.valueOff >= layout.width || !IsLayoutKey(layout, s.KeyName(k))) continue;
      text.append(s.text, copied, k.line - copied);
      text.append(s.KeyName(k)).append("=").append(s.text, k.valueOff, k.valueLen);
      text.append(layout.width - k.valueLen, ' ');
      copied = k.lineEnd;
      changed = true;
    }
    // Missing keys go after the section's last key line, as a write puts them.
    const size_t at = s.keys.empty() ? s.HeaderEnd() : s.keys.back().next;
    text.append(s.text, copied, at - copied);
    copied = at;
    for (const auto& key : layout.keys) {
      if (s.FindKey(key)) continue;
      if (!text.empty() && text.back() != '\n') text += d.eol;
      text.append(key).append("=").append(Padded(layout.missingValue, layout.width)).append(d.eol);
      changed = true;
    }
    if (!changed) continue;
    text.append(s.text, copied);
    s.text = std::move(text);
    s.Parse();
  }
  if (d.duplicateSections) d.RebuildIndex();
}

// Validates `changes` into `checked`, and the layout's keys with them.
DWORD CheckChanges(const std::vector<ProfileChange>& changes, const ProfileLayout* layout,
                   std::vector<ProfileChange>* checked) {
  checked->assign(changes.size(), ProfileChange{});
  for (size_t i = 0; i < changes.size(); ++i) {
    if (DWORD err = ini::Validate(changes[i], &(*checked)[i]); err != ERROR_SUCCESS) return err;
  }
  if (layout) {
    for (const auto& key : layout->keys) {
      ProfileChange c;
      if (ini::Validate({"s", key, layout->missingValue}, &c) != ERROR_SUCCESS || c.key != key) {
        return ERROR_INVALID_PARAMETER;
      }
    }
  }
  return ERROR_SUCCESS;
}

// Applies checked changes to the data under its lock, laying out what they
// touch in a large file.
void ApplyToData(ProfileData& data, WritePlan& plan, const std::vector<ProfileChange>& checked,
                 const ProfileLayout* layout, bool* changed) {
  const bool large = data.size >= ini::kPadFileSize;
  for (const auto& c : checked) *changed = ini::ApplyChange(data, c, plan) || *changed;
  if (!layout || !large || !*changed) return;
  for (size_t i = 0; i < checked.size(); ++i) {
    const std::string& section = checked[i].section;
    bool seen = checked[i].key.empty();  // a deleted section has nothing to lay out
    for (size_t j = 0; j < i && !seen; ++j) seen = EqualsIgnoringCase(checked[j].section, section);
    if (!seen) LayOutSection(data, section, *layout, plan);
  }
  if (plan.rewrite) LayOutAll(data, *layout);
}

DWORD ApplyChecked(std::string_view file, const std::vector<ProfileChange>& changes,
                   const ProfileLayout* layout = nullptr) {
  std::vector<ProfileChange> checked;
  if (DWORD err = CheckChanges(changes, layout, &checked); err != ERROR_SUCCESS) return err;
  FileLocation where;
  if (DWORD err = ResolveLocation(file, &where); err != ERROR_SUCCESS) return err;
  if (checked.empty()) return ERROR_SUCCESS;
  bool creates = false;
  for (const auto& c : checked) creates = creates || (!c.key.empty() && c.value);
  return Modify(where, creates, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    ApplyToData(data, plan, checked, layout, changed);
    return ERROR_SUCCESS;
  });
}

// ----------------------------------------------------------------- reads

// A parsed file held for reading: a writer of this process changes it in
// place only once no such view is left.
class ProfileView {
 public:
  ProfileView() = default;
  explicit ProfileView(std::shared_ptr<const ProfileData> data)
      : data_(std::move(data)), reading_(data_->gate.mutex) {}
  explicit operator bool() const { return data_ != nullptr; }
  const ProfileData* operator->() const { return data_.get(); }
  const ProfileData& operator*() const { return *data_; }

 private:
  std::shared_ptr<const ProfileData> data_;
  std::shared_lock<std::shared_mutex> reading_;
};

ProfileView Load(std::string_view file) {
  FileLocation where;
  if (ResolveLocation(file, &where) != ERROR_SUCCESS) return ProfileView();
  std::shared_ptr<const ProfileData> data;
  const DWORD err = where.remote ? LoadRemote(where.path, &data) : LoadProfile(where.path, &data);
  if (err != ERROR_SUCCESS || !data) return ProfileView();
  return ProfileView(std::move(data));
}

// The value of a key; nullopt when file, section or key are missing.
std::optional<std::string> LookupValue(std::string_view file, std::string_view section,
                                       std::string_view key) {
  const auto data = Load(file);
  return data ? ini::Lookup(*data, section, key) : std::nullopt;
}

// Buffer rules of the Windows calls.
DWORD CopyValue(std::string_view value, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  const size_t n = std::min<size_t>(value.size(), size - 1);
  std::memcpy(buffer, value.data(), n);
  buffer[n] = '\0';
  return static_cast<DWORD>(n);
}

// Each name NUL-terminated, an extra NUL at the end; when it does not fit, as
// much as fits in size - 2 characters followed by two NULs.
DWORD CopyList(const std::vector<std::string>& names, char* buffer, DWORD size) {
  if (!buffer || size == 0) return 0;
  if (size == 1) {
    buffer[0] = '\0';
    return 0;
  }
  size_t needed = 0;
  for (const auto& n : names) needed += n.size() + 1;
  if (needed + 1 <= size) {
    char* p = buffer;
    for (const auto& n : names) {
      std::memcpy(p, n.data(), n.size());
      p += n.size();
      *p++ = '\0';
    }
    *p = '\0';
    return static_cast<DWORD>(needed);
  }
  const size_t room = size - 2;
  size_t done = 0;
  for (const auto& n : names) {
    if (done >= room) break;
    const size_t take = std::min(n.size() + 1, room - done);
    std::memcpy(buffer + done, n.c_str(), take);  // c_str() supplies the NUL
    done += take;
  }
  buffer[size - 2] = '\0';
  buffer[size - 1] = '\0';
  return size - 2;
}

// A default standing in for a list is copied as a value; the second NUL
// (when it fits) lets a caller walk it as a one-name list.
DWORD CopyDefaultAsList(std::string_view def, char* buffer, DWORD size) {
  const DWORD n = CopyValue(def, buffer, size);
  if (buffer && n + 1 < size) buffer[n + 1] = '\0';
  return n;
}

}  // namespace

// ------------------------------------------------------------ interface

std::string ProfileGetString(std::string_view file, std::string_view section,
                             std::string_view key, std::string_view defaultValue) {
  return LookupValue(file, section, key).value_or(std::string(defaultValue));
}

std::optional<std::vector<std::string>> ProfileListKeys(std::string_view file,
                                                        std::string_view section) {
  const auto data = Load(file);
  if (const ini::Section* s = data ? ini::FindSection(*data, section) : nullptr) return ini::KeyNames(*s);
  return std::nullopt;
}

std::optional<std::vector<std::pair<std::string, std::string>>> ProfileReadSection(
    std::string_view file, std::string_view section) {
  const auto data = Load(file);
  if (const ini::Section* s = data ? ini::FindSection(*data, section) : nullptr) return ini::Values(*s);
  return std::nullopt;
}

std::optional<std::string> ProfileSectionName(std::string_view file, std::string_view section) {
  const auto data = Load(file);
  if (const ini::Section* s = data ? ini::FindSection(*data, section) : nullptr) return s->name;
  return std::nullopt;
}

std::optional<std::vector<ProfileSectionData>> ProfileReadAll(std::string_view file) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  return ini::ReadAll(*data);
}

std::optional<std::vector<std::string>> ProfileListSections(std::string_view file) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  return ini::SectionNames(*data);
}

DWORD ProfileWriteString(std::string_view file, std::string_view section, std::string_view key,
                         std::string_view value) {
  if (key.empty()) return ERROR_INVALID_PARAMETER;
  return ApplyChecked(file, {ProfileChange{std::string(section), std::string(key), std::string(value)}});
}

DWORD ProfileDeleteKey(std::string_view file, std::string_view section, std::string_view key) {
  if (key.empty()) return ERROR_INVALID_PARAMETER;
  return ApplyChecked(file, {ProfileChange{std::string(section), std::string(key), std::nullopt}});
}

DWORD ProfileDeleteSection(std::string_view file, std::string_view section) {
  return ApplyChecked(file, {ProfileChange{std::string(section), std::string(), std::nullopt}});
}

DWORD ProfileApply(std::string_view file, const std::vector<ProfileChange>& changes) {
  return ApplyChecked(file, changes);
}

DWORD ProfileApply(std::string_view file, const std::vector<ProfileChange>& changes,
                   const ProfileLayout& layout) {
  return ApplyChecked(file, changes, &layout);
}

DWORD ProfileApplyDecided(std::string_view file,
                          const std::function<std::vector<ProfileChange>(const ProfileValueOf&)>& decide,
                          const ProfileLayout* layout) {
  FileLocation where;
  if (DWORD err = ResolveLocation(file, &where); err != ERROR_SUCCESS) return err;
  return Modify(where, true, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    const ProfileValueOf valueOf = [&data](std::string_view section, std::string_view key) {
      return ini::Lookup(data, section, key);
    };
    std::vector<ProfileChange> checked;
    if (DWORD err = CheckChanges(decide(valueOf), layout, &checked); err != ERROR_SUCCESS) return err;
    ApplyToData(data, plan, checked, layout, changed);
    return ERROR_SUCCESS;
  });
}

namespace {

// Checks a record's names and value as a single write would (trimmed) and
// finds the file it goes to.
DWORD PrepareRecord(std::string_view file, std::string_view section, std::string_view key,
                    std::string_view value, ProfileChange* out, FileLocation* where) {
  if (DWORD err = ini::ValidateRecord(section, key, value, out); err != ERROR_SUCCESS) return err;
  return where ? ResolveLocation(file, where) : ERROR_SUCCESS;
}

}  // namespace

namespace {

// Rotation on another host's share, where a file cannot be renamed while
// its lock is held: under the lock the contents are copied to `rotatedUrl`
// and the file is cut to nothing, so the writers go on in it afresh. A
// crash between the two leaves records in both files, never in neither.
DWORD RotateRemote(const std::string& url, const std::string& rotatedUrl, uint64_t maxBytes, bool* rotated) {
  smb::RemoteFile file;
  if (DWORD err = file.OpenWaiting(url, O_RDWR, smb::Share::None, kRemoteLockTimeoutMs); err != ERROR_SUCCESS) {
    return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
  }
  smb::Status st;
  if (DWORD err = file.GetStatus(&st); err != ERROR_SUCCESS) return err;
  if (st.size <= maxBytes) return file.Close();
  std::string text;
  if (DWORD err = file.ReadAll(&text); err != ERROR_SUCCESS) return err;
  smb::RemoteFile copy;
  if (DWORD err = copy.Open(rotatedUrl, O_RDWR | O_CREAT | O_TRUNC, smb::Share::None); err != ERROR_SUCCESS) return err;
  if (DWORD err = copy.WriteAt(0, text); err != ERROR_SUCCESS) return err;
  if (DWORD err = copy.Close(); err != ERROR_SUCCESS) return err;
  if (DWORD err = file.Truncate(0); err != ERROR_SUCCESS) return err;
  *rotated = true;
  return file.Close();
}

}  // namespace

DWORD ProfileRotate(std::string_view file, std::string_view rotatedName, uint64_t maxBytes,
                    bool* rotated) {
  *rotated = false;
  FileLocation where, rotatedWhere;
  if (DWORD err = ResolveLocation(file, &where); err != ERROR_SUCCESS) return err;
  if (DWORD err = ResolveLocation(rotatedName, &rotatedWhere); err != ERROR_SUCCESS) return err;
  if (where.remote != rotatedWhere.remote) return ERROR_NOT_SUPPORTED;
  if (where.remote) return RotateRemote(where.path, rotatedWhere.path, maxBytes, rotated);
  const std::string& host = where.path;
  const std::string& rotatedHost = rotatedWhere.path;
  FileLock lock;
  bool created = false;
  struct stat st;
  if (DWORD err = lock.Acquire(host, false, &created, &st); err != ERROR_SUCCESS) {
    return err == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : err;
  }
  if (static_cast<uint64_t>(st.st_size) <= maxBytes) return ERROR_SUCCESS;
  if (posix::Rename(host, rotatedHost) != 0) return ErrorFromErrno(errno);
  Cache().Drop(host);
  Cache().Drop(rotatedHost);
  Records().Drop(host);
  Records().Drop(rotatedHost);
  *rotated = true;
  return ERROR_SUCCESS;
}

int ProfileRemoveStaleTemporaries(std::string_view folder, int* failed) {
  if (failed) *failed = 0;
  std::string host;
  if (ResolvePath(folder, &host) != ERROR_SUCCESS) return 0;
  return posix::RemoveStaleTemporaries(host, failed);
}

DWORD ProfileAppendRecord(std::string_view file, std::string_view section, std::string_view key,
                          std::string_view value) {
  std::string used;
  return ProfileAppendRecordAtFreeKey(file, section, [&](int) { return std::string(key); }, 0, 1, value, &used);
}

DWORD ProfileAppendRecordAtFreeKey(std::string_view file, std::string_view section,
                                   const std::function<std::string(int)>& keyFor, int first,
                                   int maxTries, std::string_view value, std::string* used) {
  std::vector<ProfileChange> candidates;
  FileLocation where;
  for (int n = first; n < first + maxTries; ++n) {
    ProfileChange c;
    if (DWORD err = PrepareRecord(file, section, keyFor(n), value, &c, n == first ? &where : nullptr);
        err != ERROR_SUCCESS) {
      return err;
    }
    candidates.push_back(std::move(c));
  }
  if (candidates.empty()) return ERROR_INVALID_PARAMETER;
  if (!where.remote) {
    const DWORD err = AppendRecordIndexed(where.path, candidates, used);
    if (err != ERROR_SUCCESS && err != ERROR_ALREADY_EXISTS) Records().Drop(where.path);
    return err;
  }
  return Modify(where, true, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    for (const ProfileChange& c : candidates) {
      const DWORD err = ini::AppendRecord(data, c.section, c.key, *c.value, plan);
      if (err == ERROR_ALREADY_EXISTS) continue;
      *changed = err == ERROR_SUCCESS;
      if (*changed) *used = c.key;
      return err;
    }
    return ERROR_ALREADY_EXISTS;
  });
}

bool ProfileRecordExists(std::string_view file, std::string_view section, std::string_view key) {
  FileLocation where;
  if (ResolveLocation(file, &where) != ERROR_SUCCESS) return false;
  if (!where.remote) return RecordExistsIndexed(where.path, section, key);
  const auto data = Load(file);
  return data && ini::RecordExists(*data, section, key);
}

std::optional<std::vector<std::pair<std::string, std::string>>> ProfileReadRecords(
    std::string_view file, std::string_view section) {
  const auto data = Load(file);
  if (!data) return std::nullopt;
  return ini::ReadRecords(*data, section);
}


DWORD ProfileReplaceRecord(std::string_view file, std::string_view section, std::string_view key,
                           std::string_view value) {
  ProfileChange c;
  FileLocation where;
  if (DWORD err = PrepareRecord(file, section, key, value, &c, &where); err != ERROR_SUCCESS) return err;
  if (!ProfileRecordExists(file, c.section, c.key)) return ERROR_FILE_NOT_FOUND;
  return Modify(where, false, [&](ProfileData& data, WritePlan& plan, bool* changed) {
    const DWORD err = ini::ReplaceRecord(data, c.section, c.key, *c.value, plan);
    *changed = err == ERROR_SUCCESS;
    return err;
  });
}

DWORD GetPrivateProfileString(const char* section, const char* key, const char* defaultValue,
                              char* buffer, DWORD size, const char* fileName) {
  const std::string_view def = defaultValue ? defaultValue : "";
  if (!fileName) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return CopyValue(def, buffer, size);
  }
  if (!section || !key) {
    const auto names = section ? ProfileListKeys(fileName, section) : ProfileListSections(fileName);
    SetLastError(names ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    return names ? CopyList(*names, buffer, size) : CopyDefaultAsList(def, buffer, size);
  }
  const auto value = LookupValue(fileName, section, key);
  SetLastError(value ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
  return CopyValue(value ? std::string_view(*value) : def, buffer, size);
}

BOOL WritePrivateProfileString(const char* section, const char* key, const char* value,
                               const char* fileName) {
  DWORD err = ERROR_SUCCESS;
  if (!fileName || !section) {
    // All three NULL asks Windows to flush its profile cache; writes here go
    // to disk at once, so there is nothing to flush.
    err = (!section && !key && !value && fileName) ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
  } else if (!key) {
    err = ProfileDeleteSection(fileName, section);
  } else if (!value) {
    err = ProfileDeleteKey(fileName, section, key);
  } else {
    err = ProfileWriteString(fileName, section, key, value);
  }
  SetLastError(err);
  return err == ERROR_SUCCESS ? TRUE : FALSE;
}

unsigned GetPrivateProfileInt(const char* section, const char* key, int defaultValue,
                              const char* fileName) {
  const auto value = section && key && fileName ? LookupValue(fileName, section, key) : std::nullopt;
  if (!value || value->empty()) return static_cast<unsigned>(defaultValue);
  long long n = 0;
  for (const char c : *value) {
    if (c < '0' || c > '9') break;
    n = std::min<long long>(n * 10 + (c - '0'), INT_MAX);
  }
  return static_cast<unsigned>(n);
}

DWORD GetPrivateProfileSectionNames(char* buffer, DWORD size, const char* fileName) {
  const auto names = fileName ? ProfileListSections(fileName) : std::nullopt;
  return CopyList(names.value_or(std::vector<std::string>{}), buffer, size);
}

}  // namespace plat
