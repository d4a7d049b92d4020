// What the reporting tests share: a real SMTP server on loopback (the
// project's scripts/local_mail_server.py, run by the system's Python with
// aiosmtpd) and a private ODBC configuration with SQLite data sources.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>

#include "platform/eventlog.h"
#include "platform/testing/host_tools.h"

namespace svc::testing {

// A folder of its own under the host's temporary folder, removed when the object goes.
class HostTempDir {
 public:
  HostTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "plreport-XXXXXX").string();
    if (::mkdtemp(pattern.data())) path_ = pattern;
  }
  ~HostTempDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  HostTempDir(const HostTempDir&) = delete;
  HostTempDir& operator=(const HostTempDir&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The mail server in one of its modes ("accept", "reject-rcpt", "tempfail",
// "drop"), listening on 127.0.0.1; terminated when the object goes.
class LocalMailServer {
 public:
  explicit LocalMailServer(const std::string& mode) : mailbox_(dir_.path() + "/mailbox") {
    int fds[2];
    if (::pipe(fds) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(fds[1], 1);
      ::close(fds[0]);
      ::execl(PORTULON_PYTHON, "python3", PORTULON_MAIL_SERVER_SCRIPT, mode.c_str(),
              mailbox_.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string line;
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
    ::close(fds[0]);
    port_ = std::atoi(line.c_str());
  }
  ~LocalMailServer() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
  }
  LocalMailServer(const LocalMailServer&) = delete;
  LocalMailServer& operator=(const LocalMailServer&) = delete;

  int port() const { return port_; }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }

  // How many messages the server accepted.
  int Received() const {
    int n = 0;
    while (std::filesystem::exists(mailbox_ + "/" + std::to_string(n + 1) + ".eml")) ++n;
    return n;
  }
  // Message `n` (from 1): "eml" as received, "txt" its decoded text with
  // CRLF turned into LF, "env" the envelope as key=value lines.
  std::string Part(int n, const std::string& kind) const {
    std::string text = plat::testing::ReadHostFile(mailbox_ + "/" + std::to_string(n) + "." + kind);
    if (kind == "txt") {
      std::string out;
      for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        out += text[i];
      }
      return out;
    }
    return text;
  }
  // In mode "hold": waits until message `n` has arrived (its sender waits
  // for the answer), up to 30 s; then Release(n) lets the server answer.
  bool WaitForMessage(int n) const {
    for (int i = 0; i < 1500 && Received() < n; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return Received() >= n;
  }
  void Release(int n) const { plat::testing::WriteHostFile(mailbox_ + "/" + std::to_string(n) + ".release", ""); }
  std::map<std::string, std::string> Envelope(int n) const {
    std::map<std::string, std::string> out;
    std::istringstream in(Part(n, "env"));
    for (std::string line; std::getline(in, line);) {
      const size_t eq = line.find('=');
      if (eq != std::string::npos) out[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return out;
  }

 private:
  HostTempDir dir_;
  std::string mailbox_;
  pid_t pid_ = -1;
  int port_ = 0;
};

// A port on loopback where nothing listens: bound, then closed again.
inline int UnusedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

// odbcinst.ini and odbc.ini of this test process, named by ODBCSYSINI and
// ODBCINI before the driver manager first reads them: data sources
// "PortulonTest" (SQLite database test.db in a private folder),
// "PortulonNowhere" (a database in a folder that does not exist) and, when
// the PostgreSQL driver is there, "PortulonPg" (database postgres on
// 127.0.0.1 at pgPort(), where PrivatePostgres listens).
class OdbcTestConfig {
 public:
  static OdbcTestConfig& Get() {
    static OdbcTestConfig config;
    return config;
  }
  std::string database() const { return dir_.path() + "/test.db"; }
  int pgPort() const { return pgPort_; }

 private:
  OdbcTestConfig() : pgPort_(UnusedLoopbackPort()) {
    std::ofstream(dir_.path() + "/odbcinst.ini")
        << "[SQLite3]\nDescription=SQLite 3\nDriver=" << PORTULON_SQLITE_ODBC_DRIVER << "\n\n"
        << "[PostgreSQL Unicode]\nDriver=" << PORTULON_PG_ODBC_DRIVER << "\n";
    std::ofstream(dir_.path() + "/odbc.ini")
        << "[PortulonTest]\nDriver=SQLite3\nDatabase=" << database() << "\nTimeout=5000\n\n"
        << "[PortulonNowhere]\nDriver=SQLite3\nDatabase=" << dir_.path()
        << "/no/such/folder/x.db\n\n"
        << "[PortulonPg]\nDriver=PostgreSQL Unicode\nServername=127.0.0.1\nPort=" << pgPort_
        << "\nDatabase=postgres\n";
    ::setenv("ODBCSYSINI", dir_.path().c_str(), 1);
    ::setenv("ODBCINI", (dir_.path() + "/odbc.ini").c_str(), 1);
  }
  HostTempDir dir_;
  int pgPort_;
};

// A PostgreSQL server of the test's own: a new cluster in a private folder,
// run by the system account "postgres" on 127.0.0.1 at OdbcTestConfig's
// port, with the superuser "portulon" (password "secret"). Stopped and
// removed when the object goes. reason() says why it could not start.
class PrivatePostgres {
 public:
  PrivatePostgres() {
    const std::string bin = PORTULON_PG_BIN_DIR;
    if (bin.empty() || std::string(PORTULON_PG_ODBC_DRIVER).empty()) {
      reason_ = "no PostgreSQL server or ODBC driver installed";
      return;
    }
    if (::geteuid() != 0) {
      reason_ = "starting a private PostgreSQL needs root (to run it as postgres)";
      return;
    }
    const std::string d = dir_.path();
    std::filesystem::permissions(d, std::filesystem::perms::all);
    plat::testing::WriteHostFile(d + "/pw", "secret\n");
    const std::string as = "runuser -u postgres -- ";
    if (Shell("chown postgres " + d + " " + d + "/pw") &&
        Shell(as + bin + "/initdb -D " + d + "/data -U portulon --pwfile=" + d +
              "/pw -A scram-sha-256 -E UTF8 --locale=C.UTF-8") &&
        Start()) {
      return;
    }
    reason_ = "the private PostgreSQL did not start: " +
              plat::testing::ReadHostFile(d + "/server.log") + plat::testing::ReadHostFile(d + "/out");
  }
  ~PrivatePostgres() { Stop(); }
  PrivatePostgres(const PrivatePostgres&) = delete;
  PrivatePostgres& operator=(const PrivatePostgres&) = delete;

  bool running() const { return running_; }
  const std::string& reason() const { return reason_; }

  // The server down (a database outage) and up again, on the same data.
  void Stop() {
    if (!running_) return;
    Shell("runuser -u postgres -- " + std::string(PORTULON_PG_BIN_DIR) + "/pg_ctl -D " +
          dir_.path() + "/data -m immediate stop");
    running_ = false;
  }
  bool Start() {
    const std::string d = dir_.path();
    running_ = Shell("runuser -u postgres -- " + std::string(PORTULON_PG_BIN_DIR) + "/pg_ctl -D " + d +
                     "/data -w -t 30 -l " + d + "/server.log -o \"-p " +
                     std::to_string(OdbcTestConfig::Get().pgPort()) + " -k " + d +
                     " -c listen_addresses=127.0.0.1\" start");
    return running_;
  }

 private:
  bool Shell(const std::string& command) {
    return std::system((command + " >>" + dir_.path() + "/out 2>&1").c_str()) == 0;
  }
  HostTempDir dir_;
  bool running_ = false;
  std::string reason_;
};

// Events of the current machine's Application log with this identifier.
inline int EventsWithId(plat::DWORD id, std::string* lastText = nullptr) {
  plat::EventLogReader reader;
  std::vector<plat::EventRecord> records;
  plat::EventLogReader::Open("", "Application", &reader);
  reader.ReadAll(&records);
  int n = 0;
  for (const auto& r : records) {
    if (r.eventId != id) continue;
    ++n;
    if (lastText) {
      lastText->clear();
      for (const auto& s : r.strings) *lastText += s + "|";
    }
  }
  return n;
}

}  // namespace svc::testing
