#include "platform/messenger.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/errors.h"
#include "platform/file.h"
#include "platform/machine.h"
#include "platform/path.h"
#include "platform/posix_fd.h"
#include "platform/sysinfo.h"

namespace plat {

namespace {

bool ValidName(std::string_view name) {
  return !name.empty() && name.size() <= 255 &&
         name.find_first_of("/\\\n\r\t") == std::string_view::npos && name != "." && name != "..";
}

std::string InboxDir() {
  const std::string network = NetworkRoot();
  return network.empty() ? std::string() : network + "/messages";
}

// One message per line: tabs separate the fields; backslash, tab and line
// breaks inside a field are escaped so that any text comes back unchanged.
std::string Escape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
  return out;
}

std::string Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\' || i + 1 == s.size()) {
      out += s[i];
      continue;
    }
    const char n = s[++i];
    out += n == 't' ? '\t' : n == 'n' ? '\n' : n == 'r' ? '\r' : n;
  }
  return out;
}

std::vector<std::string_view> SplitTabs(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  for (;;) {
    const size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string_view::npos ? line.npos : tab - start));
    if (tab == std::string_view::npos) return fields;
    start = tab + 1;
  }
}

}  // namespace

DWORD NetMessageBufferSend(std::string_view to, std::string_view text) {
  if (!ValidName(to)) return ERROR_INVALID_PARAMETER;
  const std::string dir = InboxDir();
  if (dir.empty()) return ERROR_PATH_NOT_FOUND;
  if (DWORD err = posix::MakePrivateFolder(dir); err != ERROR_SUCCESS) return err;
  const std::string line = std::to_string(static_cast<long long>(Now())) + "\t" +
                           Escape(GetComputerName()) + "\t" + Escape(to) + "\t" + Escape(text) + "\n";
  const std::string path = dir + "/" + ToLowerAscii(to) + ".txt";
  const int fd = posix::OpenPrivate(path, O_WRONLY | O_CREAT | O_APPEND);
  if (fd < 0) return ErrorFromErrno(errno);
  // One write per message: appends from several senders never interleave.
  const ssize_t n = ::write(fd, line.data(), line.size());
  const int writeErrno = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(line.size())) return n < 0 ? ErrorFromErrno(writeErrno) : ERROR_WRITE_FAULT;
  return ERROR_SUCCESS;
}

DWORD ReadNetMessages(std::string_view to, std::vector<NetMessage>* messages) {
  messages->clear();
  if (!ValidName(to)) return ERROR_INVALID_PARAMETER;
  const std::string dir = InboxDir();
  if (dir.empty()) return ERROR_PATH_NOT_FOUND;
  std::string text;
  const DWORD err = ReadWholeFile(HostToWindowsPath(dir + "/" + ToLowerAscii(to) + ".txt"), &text);
  if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return ERROR_SUCCESS;
  if (err != ERROR_SUCCESS) return err;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) break;  // a message still being written
    const auto fields = SplitTabs(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (fields.size() != 4) continue;
    NetMessage m;
    m.sent = static_cast<std::time_t>(std::strtoll(std::string(fields[0]).c_str(), nullptr, 10));
    m.from = Unescape(fields[1]);
    m.to = Unescape(fields[2]);
    m.text = Unescape(fields[3]);
    messages->push_back(std::move(m));
  }
  return ERROR_SUCCESS;
}

}  // namespace plat
