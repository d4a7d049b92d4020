#include "platform/tools/tool_args.h"

#include <cctype>
#include <charconv>
#include <filesystem>

#include "platform/errors.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/process.h"
#include "platform/sysinfo.h"
#include "platform/text.h"

namespace pltools {

Tool::Tool(std::string name, std::string usage)
    : name_(std::move(name)), usage_(std::move(usage)), errorPrefix_(name_ + ": ") {}

bool Tool::Parse(int argc, char** argv) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (optionsEnded) {
      args_.push_back(arg);
      ++operands_;
    } else if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h" || arg == "/?") {
      help_ = true;
    } else if (arg == "--version") {
      std::printf("%s\n", VersionText(name_).c_str());
      exitCode_ = kExitSuccess;
      return false;
    } else if (arg == "--machine" || arg.rfind("--machine=", 0) == 0) {
      std::string root;
      if (arg == "--machine") {
        if (i + 1 >= argc) {
          UsageError("--machine needs the folder of a machine");
          return false;
        }
        root = argv[++i];
      } else {
        root = arg.substr(sizeof("--machine=") - 1);
      }
      if (root.empty()) {
        UsageError("--machine needs the folder of a machine");
        return false;
      }
      // Absolute, so that the network (its parent folder) is well defined.
      std::error_code ec;
      const auto absolute = std::filesystem::absolute(root, ec);
      plat::SetCurrentMachineRoot(ec ? root : absolute.lexically_normal().string());
    } else {
      args_.push_back(arg);
    }
  }
  return true;
}

int Tool::PrintHelp() const {
  std::fputs(usage_.c_str(), stdout);
  if (!usage_.empty() && usage_.back() != '\n') std::fputc('\n', stdout);
  return kExitSuccess;
}

bool Tool::TakeOption(std::string_view option, std::string* value) {
  const std::string withEquals = std::string(option) + "=";
  for (size_t i = 0; i + operands_ < args_.size(); ++i) {
    if (args_[i] == option) {
      if (i + 1 + operands_ >= args_.size()) {
        UsageError(std::string(option) + " needs a value");
        args_.erase(args_.begin() + static_cast<std::ptrdiff_t>(i));
        return false;
      }
      *value = args_[i + 1];
      args_.erase(args_.begin() + static_cast<std::ptrdiff_t>(i),
                  args_.begin() + static_cast<std::ptrdiff_t>(i) + 2);
      return true;
    }
    if (args_[i].rfind(withEquals, 0) == 0) {
      *value = args_[i].substr(withEquals.size());
      args_.erase(args_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool Tool::TakeFlag(std::string_view flag) {
  for (size_t i = 0; i + operands_ < args_.size(); ++i) {
    if (args_[i] == flag) {
      args_.erase(args_.begin() + static_cast<std::ptrdiff_t>(i));
      return true;
    }
  }
  return false;
}

bool Tool::RejectUnknownOptions() {
  for (size_t i = 0; i + operands_ < args_.size(); ++i) {
    const std::string& arg = args_[i];
    const bool longOption = arg.size() > 2 && arg.compare(0, 2, "--") == 0;
    const bool shortOption = arg.size() >= 2 && arg[0] == '-' && std::isalpha(static_cast<unsigned char>(arg[1]));
    if (longOption || shortOption) {
      UsageError("unknown option '" + arg + "'");
      return false;
    }
  }
  return true;
}

bool Tool::RequireMachine() {
  if (failed() || !RejectUnknownOptions()) return false;
  const std::string root = plat::CurrentMachineRoot();
  if (root.empty()) {
    UsageError("no machine: use --machine ROOT or set PORTULON_MACHINE");
    return false;
  }
  plat::MachineConfig config;
  if (plat::ReadMachineConfig(root, &config) != plat::ERROR_SUCCESS) {
    Fail("'" + root + "' is not the folder of a machine");
    return false;
  }
  return true;
}

std::string UsageLines(const std::string& help) {
  // The help text's "Usage:" block, up to the blank line after it; a help
  // text without one is all usage lines up to its first blank line.
  size_t start = help.rfind("Usage:", 0) == 0 ? 0 : help.find("\nUsage:");
  start = start == std::string::npos ? 0 : (start == 0 ? 0 : start + 1);
  const size_t blank = help.find("\n\n", start);
  return help.substr(start, blank == std::string::npos ? std::string::npos : blank + 1 - start);
}

int Tool::UsageError(std::string_view message) {
  const std::string synopsis = UsageLines(usage_);
  std::fprintf(stderr, "%s%.*s\n%s%sType \"%s --help\" for more.\n", errorPrefix_.c_str(),
               static_cast<int>(message.size()), message.data(), synopsis.c_str(),
               !synopsis.empty() && synopsis.back() != '\n' ? "\n" : "", name_.c_str());
  exitCode_ = kExitUsage;
  return exitCode_;
}

int Tool::ValueError(std::string_view message) {
  std::fprintf(stderr, "%s%.*s (see \"%s --help\")\n", errorPrefix_.c_str(),
               static_cast<int>(message.size()), message.data(), name_.c_str());
  exitCode_ = kExitUsage;
  return exitCode_;
}

int Tool::Fail(std::string_view message) {
  std::fprintf(stderr, "%s%.*s\n", errorPrefix_.c_str(), static_cast<int>(message.size()),
               message.data());
  exitCode_ = kExitFailure;
  return exitCode_;
}

int Tool::Fail(plat::DWORD error, std::string_view what) {
  const std::string text = plat::ErrorText(error);
  return Fail(what.empty() ? text : std::string(what) + ": " + text);
}

std::string VersionText(std::string_view name) {
  std::string text(name);
  plat::FileVersionInfo v;
  // The version record built into the running program, wherever it runs from.
  if (plat::GetFileVersionInfo(plat::HostToWindowsPath(plat::GetProgramHostPath()), &v) !=
      plat::ERROR_SUCCESS) {
    return text + " (version unknown)";
  }
  const std::string numbers = plat::FormatText("%u.%u.%u.%u", v.fileVersion[0], v.fileVersion[1],
                                               v.fileVersion[2], v.fileVersion[3]);
  return text + " " + v.productVersionText + " (file version " + numbers + "), " + v.companyName;
}

bool ParseNumber(std::string_view text, long long min, long long max, long long* value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  unsigned long long magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  constexpr unsigned long long kLimit = 1ULL << 62;  // far beyond any value a tool takes
  if (magnitude > kLimit) return false;
  const long long v = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

}  // namespace pltools
