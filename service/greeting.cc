#include "service/greeting.h"

#include "common/trace.h"
#include "platform/process.h"
#include "platform/text.h"

namespace svc {

namespace {

bool IsControl(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u <= 13;
}

bool IsSeparator(char c) { return c == ' ' || c == ',' || c == '\t' || c == '\n'; }

std::string MacroValue(std::string_view word, const GreetingValues& v, bool* isMacro) {
  *isMacro = true;
  if (word.size() >= 4) {
    const std::string head = plat::ToUpperAscii(word.substr(0, 4));
    if (head == "#UMS") return LimitText(v.userMaxSession);
    if (head == "#UMT") return LimitText(v.userMaxTotal);
    if (head == "#UCU") return std::to_string(v.totalUsed / 60) + " min";
    if (head == "#PMS") return LimitText(v.portMaxSession);
    if (head == "#UNA") return v.account;
  }
  *isMacro = false;
  return {};
}

}  // namespace

std::string LimitText(DWORD seconds) {
  if (seconds == 0) return "unlimited";
  return std::to_string(seconds / 60) + " min";
}

std::string BuildGreetingText(std::string_view text, const GreetingValues& values) {
  // Control characters first, so that the word split sees single line breaks.
  std::string flat;
  flat.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    if (IsControl(text[i])) {
      flat.push_back('\n');
      while (i < text.size() && IsControl(text[i])) ++i;
    } else {
      flat.push_back(text[i++]);
    }
  }
  std::string out;
  out.reserve(flat.size() + 64);
  for (size_t i = 0; i < flat.size();) {
    if (IsSeparator(flat[i])) {
      out.push_back(flat[i++]);
      continue;
    }
    size_t end = i;
    while (end < flat.size() && !IsSeparator(flat[end])) ++end;
    const std::string_view word(flat.data() + i, end - i);
    bool isMacro = false;
    const std::string value = MacroValue(word, values, &isMacro);
    if (isMacro) {
      out += value;
      if (end >= flat.size() || flat[end] != ' ') out.push_back(' ');
    } else {
      out.append(word);
    }
    i = end;
  }
  return out;
}

std::string MessageTarget(std::string_view machine, std::string_view account) {
  if (!machine.empty() && machine.front() != '*') return std::string(machine);
  return std::string(plat::AfterBackslash(account));
}

bool IsPlausibleComputerName(std::string_view name) {
  if (name.empty() || name.size() > 15) return false;
  const auto alnum = [](char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
  };
  if (!alnum(name.front())) return false;
  for (char c : name) {
    if (!alnum(c) && c != '-' && c != '_' && c != '.') return false;
  }
  return true;
}

std::optional<std::string> MessageRecipient(std::string_view machine, std::string_view account) {
  const std::string target = MessageTarget(machine, account);
  if (!machine.empty() && machine.front() != '*') {
    if (!IsPlausibleComputerName(target)) return std::nullopt;
    return target;
  }
  if (target.empty()) return std::nullopt;
  for (char c : target) {
    if (c == '"' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::nullopt;
  }
  if (target.find(' ') != std::string::npos) return "\"" + target + "\"";
  return target;
}

std::vector<std::string> GreetingCommandLines(const SystemData& d, std::string_view machine,
                                              const GreetingValues& values) {
  const bool due[3] = {
      true,
      values.userMaxSession != 0 || values.userMaxTotal != 0,
      values.portMaxSession != 0,
  };
  std::vector<std::string> lines;
  const std::optional<std::string> recipient = MessageRecipient(machine, values.account);
  if (!recipient) return lines;
  const std::string& target = *recipient;
  for (int i = 0; i < 3; ++i) {
    const std::string& text = d.greetingTexts[static_cast<size_t>(i)];
    if (!(d.ruleMask & (1u << i)) || !due[i] || text.empty()) continue;
    lines.push_back("NET SEND " + target + " " + BuildGreetingText(text, values));
  }
  return lines;
}

void SendGreetings(const SystemData& systemData, std::string_view machine,
                   const GreetingValues& values) {
  if (!MessageRecipient(machine, values.account)) {
    common::Trace("Greeting refused, no plausible recipient. Computer-->", machine, 0);
    return;
  }
  for (const std::string& line : GreetingCommandLines(systemData, machine, values)) {
    common::Trace("Greeting Command", line, 0);
    plat::ProcessOptions options;
    options.wait = false;
    plat::RunCommandLine(line, options);
  }
}

}  // namespace svc
