// The progress shown while data is loaded: the manual-reset event
// "WaitProgressDraw" that a load signals when it has finished, and the
// painter's block, 25 pixels wide, that moves one pixel per 20 ms step
// through the status bar's first pane until then.
#pragma once

#include <atomic>

namespace pladmin {

class WaitProgress {
 public:
  static constexpr int kBlockWidth = 25;
  static constexpr int kStepMs = 20;

  // A load begins: the event is reset and the block starts at the left.
  void Begin();
  // The load has finished (from any thread): the event is set.
  void Signal();
  bool signalled() const { return signalled_.load(); }

  // One step of the painter in a pane `paneWidth` pixels wide: the block
  // moves one pixel, starting again at the left when it reaches the right
  // edge. False once the event is set: the painter then clears the pane.
  // Called by the painter only.
  bool Step(int paneWidth);
  int position() const { return position_; }

 private:
  // Non-signalled from the start, as the document creates it.
  std::atomic<bool> signalled_{false};
  int position_ = 0;  // the painter's alone
};

}  // namespace pladmin
