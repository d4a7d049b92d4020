// A FlushUi for tests: records each step as "position status" and the
// warnings, without the dialog's pauses.
#pragma once

#include <string>
#include <vector>

#include "uninstaller/core/flush_steps.h"

namespace pl_flush::testing {

class RecordingFlushUi : public FlushUi {
 public:
  std::vector<std::string> steps;
  std::vector<std::string> warnings;
  std::vector<std::string> removed;

  void SetStatus(std::string_view text) override { status_ = text; }
  void Step(int position) override { steps.push_back(std::to_string(position) + " " + status_); }
  void Pause(int) override {}
  void Warning(std::string_view text) override { warnings.emplace_back(text); }
  void Removed(std::string_view what) override { removed.emplace_back(what); }

 private:
  std::string status_;
};

}  // namespace pl_flush::testing
