// An InstallUi for tests: records every progress line, message and question,
// answers from its fields, and can interrupt the run at a percentage (as a
// power cut would) by throwing Interrupted.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "installer/core/install_ui.h"

namespace setup::testing {

struct Interrupted {};

class RecordingUi : public InstallUi {
 public:
  struct Line {
    int percent;
    std::string title, detail;
  };
  std::vector<Line> progress;
  std::vector<std::string> messages;   // "caption: text"
  std::vector<std::string> questions;
  std::vector<std::string> documents;
  int rasQuestions = 0;

  bool answerYes = false;
  std::optional<RasType> rasAnswer;
  int interruptAt = -1;  // throw Interrupted on reaching this percentage

  void Progress(int percent, std::string_view title, std::string_view detail) override {
    if (interruptAt >= 0 && percent >= interruptAt) throw Interrupted{};
    progress.push_back({percent, std::string(title), std::string(detail)});
  }
  void Pause(int) override {}
  void Message(std::string_view text, std::string_view caption, bool) override {
    messages.push_back(std::string(caption) + ": " + std::string(text));
  }
  bool AskYesNo(std::string_view text, std::string_view) override {
    questions.emplace_back(text);
    return answerYes;
  }
  std::optional<RasType> AskRasType() override {
    ++rasQuestions;
    return rasAnswer;
  }
  void OpenDocument(std::string_view path) override { documents.emplace_back(path); }

  // The detail lines of the "Copying Files" steps: the files in copy order.
  std::vector<std::string> CopiedFiles() const {
    std::vector<std::string> files;
    for (const auto& l : progress) {
      if (l.title == "Copying Files") files.push_back(l.detail);
    }
    return files;
  }
  std::string AllMessages() const {
    std::string all;
    for (const auto& m : messages) all += m + "\n";
    return all;
  }
};

}  // namespace setup::testing
