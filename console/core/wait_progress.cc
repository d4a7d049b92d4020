#include "console/core/wait_progress.h"

namespace pladmin {

void WaitProgress::Begin() {
  signalled_.store(false);
  position_ = 0;
}

void WaitProgress::Signal() { signalled_.store(true); }

bool WaitProgress::Step(int paneWidth) {
  if (signalled_.load()) {
    position_ = 0;
    return false;
  }
  const int room = paneWidth - kBlockWidth;
  position_ = room > 0 ? (position_ + 1) % (room + 1) : 0;
  return true;
}

}  // namespace pladmin
