// A child for the process tests: reports what it received and how it runs.
//   argv_helper argv OUT ARG...   writes each ARG to OUT, NUL-terminated
//   argv_helper exit N            exits with N
//   argv_helper signal N          dies of signal N
//   argv_helper print TEXT        writes TEXT to stdout and stderr
//   argv_helper sleep MS          sleeps, then exits 0
//   argv_helper fds OUT           writes its open descriptors, one a line
//   argv_helper cwd OUT           writes its working directory
//   argv_helper env OUT NAME...   writes NAME=value lines
#include <dirent.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
  if (argc < 3) return 100;
  const std::string mode = argv[1];
  if (mode == "exit") return std::atoi(argv[2]);
  if (mode == "signal") {
    std::signal(std::atoi(argv[2]), SIG_DFL);
    std::raise(std::atoi(argv[2]));
    return 101;
  }
  if (mode == "print") {
    std::printf("%s\n", argv[2]);
    std::fprintf(stderr, "%s\n", argv[2]);
    return 0;
  }
  if (mode == "sleep") {
    ::usleep(static_cast<useconds_t>(std::atoi(argv[2])) * 1000);
    return 0;
  }
  std::ofstream out(argv[2], std::ios::binary);
  if (mode == "argv") {
    for (int i = 3; i < argc; ++i) out << argv[i] << '\0';
  } else if (mode == "fds") {
    out.close();  // its descriptor must not show up in the list
    std::string list;
    DIR* d = ::opendir("/proc/self/fd");
    if (!d) return 102;
    while (dirent* e = ::readdir(d)) {
      if (e->d_name[0] != '.' && std::atoi(e->d_name) != ::dirfd(d)) list += std::string(e->d_name) + "\n";
    }
    ::closedir(d);
    std::ofstream(argv[2]) << list;
  } else if (mode == "cwd") {
    char buf[4096];
    out << (::getcwd(buf, sizeof buf) ? buf : "?");
  } else if (mode == "env") {
    for (int i = 3; i < argc; ++i) {
      const char* v = std::getenv(argv[i]);
      out << argv[i] << "=" << (v ? v : "(unset)") << "\n";
    }
  } else {
    return 103;
  }
  return 0;
}
