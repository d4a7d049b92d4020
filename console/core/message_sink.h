// How the console's logic talks to the person at the screen: message boxes
// and questions. The frame implements it with dialogs; tests record.
#pragma once

#include <string>

namespace pladmin {

enum class MessageIcon { Information, Warning, Stop, Question };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  virtual void Message(const std::string& text, MessageIcon icon) = 0;
  // Yes/No question; true for Yes.
  virtual bool Ask(const std::string& text, const std::string& caption) = 0;
};

}  // namespace pladmin
