// What the POSIX back end of the platform layer shares: an owned file
// descriptor, and read/write loops that survive interruptions and short
// transfers. For code inside platform/ only.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace plat::posix {

// Closes its descriptor when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

// Writes all of `data` at the descriptor's position.
DWORD WriteFully(int fd, std::string_view data);

// Reads the whole file from its start (pread: the position is left alone).
// `sizeHint`, when known, saves reallocations.
DWORD ReadToEnd(int fd, std::string* text, size_t sizeHint = 0);

// Waits until `fd` is readable; false when `timeoutMs` passed first (-1 waits for ever).
bool WaitReadable(int fd, int timeoutMs);

}  // namespace plat::posix
