// An account name as a message brings it (DOMAIN\user), checked once when the
// message is read; admission and the session log take it as checked.
#pragma once

#include <string>
#include <string_view>

#include "common/log_record.h"
#include "common/profile_keys.h"

namespace svc {

class AccountName {
 public:
  // Checks `text`. Implicit, so that a name in a test or a tool reads as one.
  AccountName(std::string_view text)
      : text_(text), problem_(common::AccountNameProblem(text)), safe_(common::IsSafeAccountName(text)) {}
  AccountName(const char* text) : AccountName(std::string_view(text)) {}
  AccountName(const std::string& text) : AccountName(std::string_view(text)) {}

  const std::string& text() const { return text_; }
  operator std::string_view() const { return text_; }
  // Why the records could not carry the name (common::AccountNameProblem);
  // "" when they can. The pipe acts on no message whose name has a problem.
  const std::string& problem() const { return problem_; }
  // The name can be a profile section and a key of the shared files
  // (common::IsSafeAccountName): it touches no other section or key.
  bool safe() const { return safe_; }

 private:
  std::string text_;
  std::string problem_;
  bool safe_;
};

}  // namespace svc
