// How the console's logic talks to the person at the screen: message boxes
// and questions. The frame implements it with dialogs; tests record.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace pladmin {

enum class MessageIcon { Information, Warning, Stop, Question };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Message(const std::string& text, MessageIcon icon) = 0;
  // Yes/No question; true for Yes.
  virtual bool Ask(const std::string& text, const std::string& caption) = 0;
};

// Keeps the messages of work done off the window thread, to be shown on it
// afterwards; questions are answered No. One thread at a time.
class DeferredSink : public MessageSink {
 public:
  void Message(const std::string& text, MessageIcon icon) override { messages_.emplace_back(text, icon); }
  bool Ask(const std::string&, const std::string&) override { return false; }
  void ReplayTo(MessageSink& sink) {
    for (const auto& [text, icon] : messages_) sink.Message(text, icon);
    messages_.clear();
  }

 private:
  std::vector<std::pair<std::string, MessageIcon>> messages_;
};

}  // namespace pladmin
