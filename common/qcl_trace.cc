#include "common/qcl_trace.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <utility>

#include "platform/file.h"
#include "platform/sysinfo.h"

namespace QCL {

namespace {

constexpr size_t kMaxLine = 512;

std::atomic<int> g_level{0};

// Guards g_medium and serializes the calls into it.
std::mutex g_mediumMutex;
std::shared_ptr<TraceMedium> g_medium;

thread_local int t_depth = 0;

unsigned ThreadId() { return static_cast<unsigned>(::syscall(SYS_gettid)); }

void Emit(std::string_view text) {
  if (g_level.load() <= 10) return;
  std::lock_guard lock(g_mediumMutex);
  if (!g_medium) return;
  char prefix[64];
  std::snprintf(prefix, sizeof prefix, "[Tick: %d, Thread %X] -",
                static_cast<int>(plat::GetTickCount()), ThreadId());
  std::string line = prefix;
  line.append(static_cast<size_t>(t_depth > 0 ? t_depth : 0), '.');
  line.append(text);
  if (line.size() > kMaxLine) line.resize(kMaxLine);
  g_medium->WriteLine(line);
}

}  // namespace

FileTraceMedium::FileTraceMedium(std::string windowsPath) : path_(std::move(windowsPath)) {}

void FileTraceMedium::WriteLine(const std::string& line) {
  plat::AppendToFile(path_, line + "\n");
}

void SetTraceLevel(int level) { g_level.store(level); }

void AttachTraceMedium(std::shared_ptr<TraceMedium> medium) {
  std::lock_guard lock(g_mediumMutex);
  g_medium = std::move(medium);
}

void TraceLine(const char* format, ...) {
  // Checked before formatting: most processes never trace at this level.
  if (g_level.load() <= 10) return;
  char text[kMaxLine + 1];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  Emit(text);
}

TraceIndent::TraceIndent(std::string_view text) {
  if (!text.empty()) Emit(text);
  ++t_depth;
}

TraceIndent::~TraceIndent() { --t_depth; }

}  // namespace QCL
