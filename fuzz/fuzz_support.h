// What the fuzz targets share: cutting an input into fields, a private scratch
// folder, and a loud stop when a property does not hold.
#pragma once

#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The input cut at NUL bytes into at most `count` fields (the last takes the rest).
inline std::vector<std::string> Fields(const uint8_t* data, size_t size, size_t count) {
  std::vector<std::string> fields(count);
  std::string_view in(reinterpret_cast<const char*>(data), size);
  for (size_t i = 0; i < count; ++i) {
    const size_t nul = i + 1 < count ? in.find('\0') : std::string_view::npos;
    fields[i].assign(in.substr(0, nul));
    if (nul == std::string_view::npos) break;
    in.remove_prefix(nul + 1);
  }
  return fields;
}

inline std::string& ScratchRoot() {
  static std::string root;
  return root;
}

// A folder of its own under /tmp for the life of the process (one per process).
inline std::string ScratchFolder(const char* name) {
  std::string pattern = std::string("/tmp/plfuzz-") + name + "-XXXXXX";
  if (!::mkdtemp(pattern.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  ScratchRoot() = pattern;
  std::atexit([] {
    ::nftw(
        ScratchRoot().c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
  });
  return pattern;
}

// Replaces `path` with `contents`. The previous version is kept under another
// name, so that the new file never reuses its inode: the parse caches tell
// versions apart by inode, size and modification time, and a test that swaps
// files faster than the clock ticks must not look like an unchanged file.
inline void ReplaceFile(const std::string& path, std::string_view contents) {
  ::rename(path.c_str(), (path + ".previous").c_str());
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(contents.data(), 1, contents.size(), f) != contents.size()) std::abort();
  std::fclose(f);
}

// Puts the file's own text back under a new inode, so that the next read
// parses what was written rather than what a cache remembers of it.
inline void ForceReparse(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "rb")) {
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) text.append(buf, n);
    std::fclose(f);
  }
  ReplaceFile(path, text);
}

// Lets inputs grow to 64 KB at once (-max_len=65536 -len_control=0) unless
// the arguments set a length: for LLVMFuzzerInitialize, which runs before
// libFuzzer reads them.
inline void DefaultMaxLen(int* argc, char*** argv) {
  static std::vector<char*> args;
  static char maxLen[] = "-max_len=65536";
  static char lenControl[] = "-len_control=0";
  for (int i = 0; i < *argc; ++i) {
    const std::string_view arg((*argv)[i]);
    if (arg.starts_with("-max_len=") || arg.starts_with("-len_control=")) return;
  }
  args.assign(*argv, *argv + *argc);
  args.insert(args.end(), {maxLen, lenControl, nullptr});
  *argc += 2;
  *argv = args.data();
}

// Snapshots of what a model reads as are kept flat, as length-prefixed
// strings one after another: one allocation to take, copy or compare.
inline void PutString(std::string& out, std::string_view s) {
  const auto n = static_cast<uint32_t>(s.size());
  out.append(reinterpret_cast<const char*>(&n), sizeof n).append(s);
}

inline std::string_view TakeString(std::string_view& in) {
  uint32_t n = 0;
  std::memcpy(&n, in.data(), sizeof n);
  const std::string_view s = in.substr(sizeof n, n);
  in.remove_prefix(sizeof n + n);
  return s;
}

inline char FoldAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c; }

// Byte order of the lower-case spellings, without making them.
inline bool LessIgnoringCase(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
    const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y;
  }
  return a.size() < b.size();
}

inline void PutLowerString(std::string& out, std::string_view s) {
  const auto n = static_cast<uint32_t>(s.size());
  out.append(reinterpret_cast<const char*>(&n), sizeof n);
  for (const char c : s) out.push_back(FoldAscii(c));
}

[[noreturn]] inline void Fail(const std::string& what) {
  std::fprintf(stderr, "property broken: %s\n", what.c_str());
  std::abort();
}

inline std::string Printable(std::string_view s) {
  std::string out;
  for (unsigned char c : s) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\x%02x", c);
      out += buf;
    }
  }
  return out;
}

}  // namespace fuzz
