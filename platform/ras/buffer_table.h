// The buffers an administration DLL hands out and its free function takes
// back: only buffers that came from the table are freed. Safe from several
// threads.
#pragma once

#include <cstdlib>
#include <mutex>
#include <set>

#include "platform/errors.h"

namespace plat::ras {

class BufferTable {
 public:
  // Zeroed memory for `count` records of T, or nullptr.
  template <typename T>
  T* Allocate(size_t count) {
    if (count == 0) return nullptr;
    void* p = std::calloc(count, sizeof(T));
    if (!p) return nullptr;
    std::lock_guard lock(mutex_);
    live_.insert(p);
    return static_cast<T*>(p);
  }

  // ERROR_INVALID_PARAMETER for memory the table did not hand out; nullptr is fine.
  DWORD Free(void* p) {
    if (!p) return ERROR_SUCCESS;
    {
      std::lock_guard lock(mutex_);
      if (live_.erase(p) == 0) return ERROR_INVALID_PARAMETER;
    }
    std::free(p);
    return ERROR_SUCCESS;
  }

 private:
  std::mutex mutex_;  // guards live_
  std::set<void*> live_;
};

// Runs one call of a module's C interface, where nothing may escape: a
// failure inside (memory exhausted) is reported as such.
template <typename Call>
DWORD Guarded(Call call) {
  try {
    return call();
  } catch (...) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
}

}  // namespace plat::ras
