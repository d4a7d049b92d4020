// reg: query, change, export and import the registry of a machine, local or
// remote, the way an administrator does it with reg.exe.
#include <filesystem>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/path.h"
#include "platform/registry.h"
#include "platform/text.h"
#include "platform/tools/tool_args.h"

namespace {

// The 64-bit value type; hives keep it as hex(b):, and only this tool names it.
constexpr plat::DWORD kRegQword = 11;

using plat::DWORD;
using plat::ERROR_SUCCESS;

constexpr const char* kUsage = R"(reg - read and change the registry of a machine

Usage:
  reg query  KEY [/v NAME | /ve] [/s]
  reg add    KEY [/v NAME | /ve] [/t TYPE] [/d DATA] [/f]
  reg delete KEY [/v NAME | /ve | /va] [/f]
  reg export KEY FILE [/y]
  reg import FILE

KEY is [\\MACHINE\]ROOT[\SubKey]; ROOT is HKLM, HKU, HKCU or
HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER. \\MACHINE names another
machine of the network. FILE is a host path (REGEDIT4 text). Without /v, /ve
or /va, delete removes the key with all its subkeys. query shows each value
with its type (REG_SZ, REG_EXPAND_SZ, REG_BINARY, REG_DWORD, REG_QWORD,
REG_MULTI_SZ, or REG_NONE for a value without a type).

Options:
  /v NAME          the value NAME
  /ve              the default value (no name)
  /va              all values of the key
  /s               all subkeys, recursively
  /t TYPE          REG_SZ (default), REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD,
                   REG_BINARY
  /d DATA          REG_DWORD: decimal or 0x hexadecimal; REG_MULTI_SZ: items
                   separated by \0; REG_BINARY: hexadecimal digits
  /f               change or delete without asking
  /y               overwrite FILE without asking
  --machine ROOT   work on the machine in folder ROOT (default: PORTULON_MACHINE)
  --help           show this text
  --version        show the program's version

Exit status:
  0  success
  1  the operation failed
  2  the command line is wrong

Files:
  ROOT/registry/HKLM.reg   the machine's HKEY_LOCAL_MACHINE
  ROOT/registry/HKU.reg    its HKEY_USERS

Examples:
  reg query "HKLM\Software\Example\Settings"
  reg add "HKLM\Software\Example\Settings" /v Timeout /t REG_DWORD /d 15 /f
  reg export HKLM\Software saved.reg

See also:
  plmachine(1), plsettings(1)
)";

constexpr const char* kDone = "The operation completed successfully.";

// The reg-style switches of one command line.
struct Switches {
  bool v = false, ve = false, va = false, s = false, f = false, y = false;
  bool t = false, d = false;
  std::string valueName, type, data;
  std::vector<std::string> positional;
};

// Parses the switches a subcommand allows (`allowed`, e.g. "v ve s"); a switch
// is recognised with '/' or '-' in any case. Anything not a known switch is
// positional, so host paths such as /tmp/x.reg stay arguments.
bool ParseSwitches(pltools::Tool& tool, const std::vector<std::string>& args, size_t first,
                   std::string_view allowed, Switches* out) {
  struct Known {
    const char* name;
    bool Switches::*flag;
    std::string Switches::*value;  // null for switches without a value
  };
  static const Known kKnown[] = {
      {"v", &Switches::v, &Switches::valueName}, {"ve", &Switches::ve, nullptr},
      {"va", &Switches::va, nullptr},            {"s", &Switches::s, nullptr},
      {"f", &Switches::f, nullptr},              {"y", &Switches::y, nullptr},
      {"t", &Switches::t, &Switches::type},      {"d", &Switches::d, &Switches::data},
  };
  for (size_t i = first; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const Known* match = nullptr;
    if (arg.size() >= 2 && (arg[0] == '/' || arg[0] == '-')) {
      for (const auto& k : kKnown) {
        if (plat::EqualsIgnoringCase(std::string_view(arg).substr(1), k.name)) match = &k;
      }
    }
    if (!match) {
      out->positional.push_back(arg);
      continue;
    }
    const std::string name = match->name;
    if ((" " + std::string(allowed) + " ").find(" " + name + " ") == std::string::npos) {
      tool.UsageError("Invalid syntax: " + arg + " is not allowed with " + args[0] + ".");
      return false;
    }
    if (out->*(match->flag)) {
      tool.UsageError("Invalid syntax: " + arg + " given twice.");
      return false;
    }
    out->*(match->flag) = true;
    if (match->value) {
      if (i + 1 >= args.size()) {
        tool.UsageError("Invalid syntax: " + arg + " needs a value.");
        return false;
      }
      out->*(match->value) = args[++i];
    }
  }
  if (int(out->v) + int(out->ve) + int(out->va) > 1) {
    tool.UsageError("Invalid syntax: /v, /ve and /va exclude each other.");
    return false;
  }
  return true;
}

struct KeyName {
  std::string machine;  // "" = the current machine
  plat::Hive hive = plat::Hive::LocalMachine;
  std::string path;     // below the hive root, no leading or trailing '\'
};

bool ParseKeyName(std::string_view text, KeyName* key) {
  if (text.size() > 2 && text[0] == '\\' && text[1] == '\\') {
    text.remove_prefix(2);
    const auto sep = text.find('\\');
    if (sep == 0 || sep == std::string_view::npos) return false;
    key->machine = std::string(text.substr(0, sep));
    text.remove_prefix(sep + 1);
  }
  const auto sep = text.find('\\');
  if (!plat::ParseHiveName(text.substr(0, sep), &key->hive)) return false;
  std::string path = sep == std::string_view::npos ? std::string() : std::string(text.substr(sep + 1));
  while (!path.empty() && path.back() == '\\') path.pop_back();
  key->path = path;
  return true;
}

class Reg {
 public:
  explicit Reg(pltools::Tool& tool) : tool_(tool) {}

  int Run() {
    auto& args = tool_.args();
    if (args.empty()) return tool_.UsageError("Invalid syntax: no operation given.");
    const std::string op = plat::ToLowerAscii(args[0]);
    if (op == "query") return Query();
    if (op == "add") return Add();
    if (op == "delete") return Delete();
    if (op == "export") return Export();
    if (op == "import") return Import();
    return tool_.UsageError("Invalid syntax: unknown operation '" + args[0] + "'.");
  }

 private:
  bool Parse(std::string_view allowed, size_t positionals) {
    if (!ParseSwitches(tool_, tool_.args(), 1, allowed, &sw_)) return false;
    if (sw_.positional.size() != positionals) {
      tool_.UsageError(sw_.positional.size() < positionals ? "Invalid syntax: too few arguments."
                                                           : "Invalid syntax: too many arguments.");
      return false;
    }
    return true;
  }

  // Opens (or, with `create`, creates) the key named on the command line.
  DWORD OpenKey(const std::string& text, bool create, plat::RegKey* key) {
    if (!ParseKeyName(text, &name_)) {
      tool_.UsageError("Invalid key name '" + text + "'.");
      return plat::ERROR_INVALID_PARAMETER;
    }
    DWORD err = plat::RegKey::Connect(name_.machine, name_.hive, &root_);
    if (err == ERROR_SUCCESS) {
      if (name_.path.empty()) {
        *key = root_;
      } else {
        err = create ? root_.CreateSubKey(name_.path, key) : root_.OpenSubKey(name_.path, key);
      }
    }
    if (err != ERROR_SUCCESS) tool_.Fail(err);
    return err;
  }

  std::string Display(const plat::RegKey& key) const {
    const std::string full = key.FullName();
    return name_.machine.empty() ? full : "\\\\" + plat::ToUpperAscii(name_.machine) + "\\" + full;
  }

  // Asks on the terminal, as reg.exe does without /f; no answer is a no.
  bool Confirm(const std::string& question) {
    std::printf("%s (Yes/No)? ", question.c_str());
    std::fflush(stdout);
    std::string answer;
    if (!std::getline(std::cin, answer)) {
      std::printf("\n");
      answer.clear();
    }
    const std::string a = plat::ToLowerAscii(answer);
    if (a == "y" || a == "yes") return true;
    tool_.Fail("The operation was cancelled.");
    return false;
  }

  static std::string TypeName(DWORD type) {
    switch (type) {
      case plat::REG_NONE: return "REG_NONE";
      case plat::REG_SZ: return "REG_SZ";
      case plat::REG_EXPAND_SZ: return "REG_EXPAND_SZ";
      case plat::REG_BINARY: return "REG_BINARY";
      case plat::REG_DWORD: return "REG_DWORD";
      case plat::REG_MULTI_SZ: return "REG_MULTI_SZ";
      case kRegQword: return "REG_QWORD";
      default: return "REG_TYPE_" + std::to_string(type);  // a type this tool has no name for
    }
  }

  static std::string Hex(std::string_view bytes) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
      out += kDigits[c >> 4];
      out += kDigits[c & 15];
    }
    return out;
  }

  static std::string DataText(const plat::RegValue& v) {
    switch (v.type) {
      case plat::REG_SZ:
      case plat::REG_EXPAND_SZ:
        return v.data.substr(0, v.data.find('\0'));
      case plat::REG_DWORD: {
        if (v.data.size() != 4) return Hex(v.data);
        DWORD d = 0;
        for (int i = 3; i >= 0; --i) d = (d << 8) | static_cast<unsigned char>(v.data[i]);
        return plat::FormatText("0x%x", d);
      }
      case kRegQword: {
        if (v.data.size() != 8) return Hex(v.data);
        unsigned long long q = 0;
        for (int i = 7; i >= 0; --i) q = (q << 8) | static_cast<unsigned char>(v.data[i]);
        return plat::FormatText("0x%llx", q);
      }
      case plat::REG_MULTI_SZ: {
        std::string out;
        size_t start = 0;
        while (start < v.data.size()) {
          const size_t end = std::min(v.data.find('\0', start), v.data.size());
          if (end == start) break;  // the empty string that ends the list
          if (!out.empty()) out += "\\0";
          out += v.data.substr(start, end - start);
          start = end + 1;
        }
        return out;
      }
      default:
        return Hex(v.data);
    }
  }

  static void PrintValue(const plat::RegValue& v) {
    std::printf("    %s    %s    %s\n", v.name.empty() ? "(Default)" : v.name.c_str(),
                TypeName(v.type).c_str(), DataText(v).c_str());
  }

  // Prints a key and its values; with `recursive`, its subkeys the same way,
  // else their names.
  DWORD PrintKey(const plat::RegKey& key, bool recursive) {
    std::vector<plat::RegValue> values;
    std::vector<std::string> subkeys;
    if (DWORD err = key.ListValues(&values); err != ERROR_SUCCESS) return err;
    if (DWORD err = key.ListSubKeys(&subkeys); err != ERROR_SUCCESS) return err;
    std::printf("\n%s\n", Display(key).c_str());
    for (const auto& v : values) PrintValue(v);
    if (!recursive) {
      if (!subkeys.empty()) std::printf("\n");
      for (const auto& s : subkeys) std::printf("%s\\%s\n", Display(key).c_str(), s.c_str());
      return ERROR_SUCCESS;
    }
    for (const auto& s : subkeys) {
      plat::RegKey sub;
      if (DWORD err = key.OpenSubKey(s, &sub); err != ERROR_SUCCESS) return err;
      if (DWORD err = PrintKey(sub, true); err != ERROR_SUCCESS) return err;
    }
    return ERROR_SUCCESS;
  }

  // /v or /ve with /s: the value wherever it is found below the key.
  DWORD FindValue(const plat::RegKey& key, const std::string& name, int* matches) {
    plat::RegValue v;
    if (key.QueryValue(name, &v) == ERROR_SUCCESS) {
      std::printf("\n%s\n", Display(key).c_str());
      PrintValue(v);
      ++*matches;
    }
    std::vector<std::string> subkeys;
    if (DWORD err = key.ListSubKeys(&subkeys); err != ERROR_SUCCESS) return err;
    for (const auto& s : subkeys) {
      plat::RegKey sub;
      if (DWORD err = key.OpenSubKey(s, &sub); err != ERROR_SUCCESS) return err;
      if (DWORD err = FindValue(sub, name, matches); err != ERROR_SUCCESS) return err;
    }
    return ERROR_SUCCESS;
  }

  int Query() {
    if (!Parse("v ve s", 1)) return tool_.exitCode();
    plat::RegKey key;
    if (OpenKey(sw_.positional[0], false, &key) != ERROR_SUCCESS) return tool_.exitCode();
    DWORD err = ERROR_SUCCESS;
    if (sw_.v || sw_.ve) {
      const std::string name = sw_.ve ? std::string() : sw_.valueName;
      if (sw_.s) {
        int matches = 0;
        err = FindValue(key, name, &matches);
        if (err == ERROR_SUCCESS) std::printf("\nEnd of search: %d match(es) found.\n", matches);
      } else {
        plat::RegValue v;
        err = key.QueryValue(name, &v);
        if (err == ERROR_SUCCESS) {
          std::printf("\n%s\n", Display(key).c_str());
          PrintValue(v);
          std::printf("\n");
        } else if (err == plat::ERROR_FILE_NOT_FOUND && sw_.ve) {
          // Every key has a default value, set or not.
          std::printf("\n%s\n    (Default)    REG_SZ    (value not set)\n\n", Display(key).c_str());
          err = ERROR_SUCCESS;
        }
      }
    } else {
      err = PrintKey(key, sw_.s);
      if (err == ERROR_SUCCESS) std::printf("\n");
    }
    return err == ERROR_SUCCESS ? pltools::kExitSuccess : tool_.Fail(err);
  }

  // The value /t and /d describe; false (usage error printed) for bad data.
  bool BuildValue(plat::RegValue* value) {
    const std::string type = sw_.t ? plat::ToUpperAscii(sw_.type) : "REG_SZ";
    const std::string& data = sw_.data;
    value->name = sw_.ve ? std::string() : sw_.valueName;
    value->data.clear();
    if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
      value->type = type == "REG_SZ" ? plat::REG_SZ : plat::REG_EXPAND_SZ;
      value->data = data;
    } else if (type == "REG_DWORD") {
      long long d = 0;
      if (!pltools::ParseNumber(sw_.d ? data : "0", 0, 0xFFFFFFFFLL, &d)) {
        tool_.UsageError("Invalid REG_DWORD data '" + data + "': give a number, decimal or 0x hex.");
        return false;
      }
      value->type = plat::REG_DWORD;
      for (int i = 0; i < 4; ++i) value->data += static_cast<char>((d >> (8 * i)) & 0xFF);
    } else if (type == "REG_MULTI_SZ") {
      value->type = plat::REG_MULTI_SZ;
      std::string_view rest = data;
      while (!rest.empty()) {
        const auto sep = rest.find("\\0");
        const std::string_view item = rest.substr(0, sep);
        if (item.empty()) {
          tool_.UsageError("Invalid REG_MULTI_SZ data: an item is empty.");
          return false;
        }
        value->data.append(item);
        value->data += '\0';
        if (sep == std::string_view::npos) break;
        rest.remove_prefix(sep + 2);  // a trailing \0 ends the list
      }
      value->data += '\0';
    } else if (type == "REG_BINARY") {
      value->type = plat::REG_BINARY;
      if (data.size() % 2 != 0) {
        tool_.UsageError("Invalid REG_BINARY data: give an even number of hex digits.");
        return false;
      }
      for (size_t i = 0; i < data.size(); i += 2) {
        const int hi = plat::HexDigitValue(data[i]), lo = plat::HexDigitValue(data[i + 1]);
        if (hi < 0 || lo < 0) {
          tool_.UsageError("Invalid REG_BINARY data '" + data + "': only hex digits.");
          return false;
        }
        value->data += static_cast<char>(hi * 16 + lo);
      }
    } else {
      tool_.UsageError("Invalid type '" + sw_.type + "'.");
      return false;
    }
    return true;
  }

  int Add() {
    if (!Parse("v ve t d f", 1)) return tool_.exitCode();
    if ((sw_.t || sw_.d) && !(sw_.v || sw_.ve)) {
      return tool_.UsageError("Invalid syntax: /t and /d need /v NAME or /ve.");
    }
    plat::RegValue value;
    if ((sw_.v || sw_.ve) && !BuildValue(&value)) return tool_.exitCode();
    plat::RegKey key;
    if (OpenKey(sw_.positional[0], true, &key) != ERROR_SUCCESS) return tool_.exitCode();
    if (sw_.v || sw_.ve) {
      plat::RegValue existing;
      if (!sw_.f && key.QueryValue(value.name, &existing) == ERROR_SUCCESS &&
          !Confirm("Value " + (value.name.empty() ? std::string("(Default)") : value.name) +
                   " exists, overwrite")) {
        return tool_.exitCode();
      }
      if (DWORD err = key.SetValue(value); err != ERROR_SUCCESS) return tool_.Fail(err);
    }
    std::printf("%s\n", kDone);
    return pltools::kExitSuccess;
  }

  // Deletes `path` below the hive root with everything under it, children
  // first: a key with subkeys cannot be deleted.
  DWORD DeleteTree(const std::string& path) {
    plat::RegKey key;
    if (DWORD err = root_.OpenSubKey(path, &key); err != ERROR_SUCCESS) return err;
    std::vector<std::string> subkeys;
    if (DWORD err = key.ListSubKeys(&subkeys); err != ERROR_SUCCESS) return err;
    for (const auto& s : subkeys) {
      if (DWORD err = DeleteTree(key.path() + "\\" + s); err != ERROR_SUCCESS) return err;
    }
    return root_.DeleteSubKey(key.path());
  }

  int Delete() {
    if (!Parse("v ve va f", 1)) return tool_.exitCode();
    plat::RegKey key;
    if (OpenKey(sw_.positional[0], false, &key) != ERROR_SUCCESS) return tool_.exitCode();
    DWORD err = ERROR_SUCCESS;
    if (sw_.v || sw_.ve) {
      const std::string name = sw_.ve ? std::string() : sw_.valueName;
      if (!sw_.f && !Confirm("Delete the registry value " + (sw_.ve ? "(Default)" : name))) {
        return tool_.exitCode();
      }
      err = key.DeleteValue(name);
    } else if (sw_.va) {
      if (!sw_.f && !Confirm("Delete all values under the registry key " + Display(key))) {
        return tool_.exitCode();
      }
      std::vector<plat::RegValue> values;
      err = key.ListValues(&values);
      for (size_t i = 0; err == ERROR_SUCCESS && i < values.size(); ++i) {
        err = key.DeleteValue(values[i].name);
      }
    } else {
      if (key.path().empty()) return tool_.UsageError("Invalid key name: a hive root cannot be deleted.");
      if (!sw_.f && !Confirm("Permanently delete the registry key " + Display(key))) {
        return tool_.exitCode();
      }
      err = DeleteTree(key.path());
    }
    if (err != ERROR_SUCCESS) return tool_.Fail(err);
    std::printf("%s\n", kDone);
    return pltools::kExitSuccess;
  }

  // The Windows name of a host path given on the command line.
  static std::string FileArgument(const std::string& hostPath) {
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(hostPath, ec);
    return plat::HostToWindowsPath(ec ? hostPath : absolute.lexically_normal().string());
  }

  int Export() {
    if (!Parse("y", 2)) return tool_.exitCode();
    plat::RegKey key;
    if (OpenKey(sw_.positional[0], false, &key) != ERROR_SUCCESS) return tool_.exitCode();
    std::string text;
    if (DWORD err = plat::RegExportText(key, &text); err != ERROR_SUCCESS) return tool_.Fail(err);
    const std::string file = FileArgument(sw_.positional[1]);
    if (!sw_.y && plat::FileExists(file) &&
        !Confirm("File " + sw_.positional[1] + " already exists. Overwrite")) {
      return tool_.exitCode();
    }
    if (DWORD err = plat::WriteWholeFile(file, text); err != ERROR_SUCCESS) {
      return tool_.Fail(err, sw_.positional[1]);
    }
    std::printf("%s\n", kDone);
    return pltools::kExitSuccess;
  }

  int Import() {
    if (!Parse("", 1)) return tool_.exitCode();
    std::string text;
    if (DWORD err = plat::ReadWholeFile(FileArgument(sw_.positional[0]), &text); err != ERROR_SUCCESS) {
      return tool_.Fail(err, sw_.positional[0]);
    }
    if (DWORD err = plat::RegImportText("", text); err != ERROR_SUCCESS) return tool_.Fail(err);
    std::printf("%s\n", kDone);
    return pltools::kExitSuccess;
  }

  pltools::Tool& tool_;
  Switches sw_;
  KeyName name_;
  plat::RegKey root_;  // the hive root of the key named on the command line
};

}  // namespace

int main(int argc, char** argv) {
  pltools::Tool tool("reg", kUsage);
  tool.set_errorPrefix("ERROR: ");
  if (!tool.Parse(argc, argv)) return tool.exitCode();
  if (tool.helpRequested()) return tool.PrintHelp();
  if (!tool.RequireMachine()) return tool.exitCode();
  return Reg(tool).Run();
}
