#include "common/trace.h"

#include <cstdio>
#include <memory>
#include <utility>
#include <vector>

#include "common/service_values.h"
#include "platform/background.h"
#include "platform/errors.h"
#include "platform/file.h"
#include "platform/registry.h"
#include "platform/sysinfo.h"

namespace common {

namespace {

constexpr std::time_t kLimitRereadSeconds = 300;

// started_ and limitKB_ are read by every line without the state mutex, so
// every access to them goes through atomic_ref; stores happen under the mutex.
bool LoadFlag(bool& flag) { return std::atomic_ref<bool>(flag).load(std::memory_order_acquire); }
void StoreFlag(bool& flag, bool value) {
  std::atomic_ref<bool>(flag).store(value, std::memory_order_release);
}
plat::DWORD LoadLimit(plat::DWORD& limit) {
  return std::atomic_ref<plat::DWORD>(limit).load(std::memory_order_acquire);
}
void StoreLimit(plat::DWORD& limit, plat::DWORD value) {
  std::atomic_ref<plat::DWORD>(limit).store(value, std::memory_order_release);
}

std::string Body(std::string_view label, std::string_view text, long number) {
  std::string body;
  body.reserve(label.size() + text.size() + 24);
  body.append(label).append(": ").append(text).append(" : ").append(std::to_string(number));
  return body;
}

std::string GetVersionString(const std::string& module) {
  plat::FileVersionInfo info;
  const plat::DWORD err = plat::GetFileVersionInfo(module, &info);
  char text[160];
  if (err == plat::ERROR_SUCCESS) {
    std::snprintf(text, sizeof text, "%hd,%hd,%hd,%hd", static_cast<short>(info.fileVersion[0]),
                  static_cast<short>(info.fileVersion[1]), static_cast<short>(info.fileVersion[2]),
                  static_cast<short>(info.fileVersion[3]));
  } else {
    // "%ud" prints the code followed by a literal 'd'; support staff know the
    // text in that form, so it stays.
    std::snprintf(text, sizeof text, "[Version size failed (%ud)] - Build Date: %s @ %s", err,
                  __DATE__, __TIME__);
  }
  return text;
}

}  // namespace

TraceOptions ServiceTraceOptions() {
  return {"C:\\qcl_trace_plsvc.txt", kServiceKey, kServiceLogMaxSizeKBDefault, "plsvc.exe"};
}

TraceOptions RasHookTraceOptions() {
  return {"C:\\qcl_trace_plras.txt", kRasHookKey, kModuleLogMaxSizeKBDefault, "pl_ras.dll"};
}

TraceOptions RrasHookTraceOptions() {
  return {"C:\\qcl_trace_plrras.txt", kRrasHookKey, kModuleLogMaxSizeKBDefault, "pl_rras.dll"};
}

TraceWriter::TraceWriter(TraceOptions options, Clock clock)
    : options_(std::move(options)),
      clock_(std::move(clock)),
      file_(std::make_shared<plat::AppendingFile>()) {
  if (!clock_) clock_ = [] { return plat::Now(); };
}

void TraceWriter::SetEnabled(bool enabled) { enabled_.store(enabled); }

void TraceWriter::SetConsoleMode(bool console) { console_.store(console); }

void TraceWriter::Write(std::string_view label, std::string_view text, long number) {
  if (!enabled_.load()) return;
  std::string body = Body(label, text, number);

  if (console_.load()) {
    body.push_back('\n');
    std::fwrite(body.data(), 1, body.size(), stdout);
    std::fflush(stdout);
    ++lineCounter_;
    return;
  }

  if (!LoadFlag(started_) || LoadLimit(limitKB_) == 0) {
    std::lock_guard lock(stateMutex_);
    const std::time_t now = clock_();
    if (!LoadFlag(started_)) {
      file_.load()->Close();
      plat::DeleteFile(options_.file);
      ReadLimit(now);
      if (LoadLimit(limitKB_) != 0) WriteHeader("Portulon starting...");
      StoreFlag(started_, true);
    } else if (LoadLimit(limitKB_) == 0) {
      if (now >= limitReadAt_ && now - limitReadAt_ < kLimitRereadSeconds) return;
      ReadLimit(now);
      if (LoadLimit(limitKB_) == 0) return;
      // The file was deleted when the limit went to 0; it starts afresh.
      WriteHeader(lineCounter_.load() == 0 ? "Portulon starting..." : "Portulon log reset...");
    }
    if (LoadLimit(limitKB_) == 0) return;
  }

  std::uint64_t size = 0;
  if (overLimit_.exchange(false)) {
    std::lock_guard lock(stateMutex_);
    // Another thread may have reset the file while this one waited.
    std::shared_ptr<plat::AppendingFile> full = file_.load();
    if (full->Size(options_.file, &size) == plat::ERROR_SUCCESS &&
        size > std::uint64_t{LoadLimit(limitKB_)} * 1024) {
      // Deleted while still open, the name goes at once; closing the last
      // descriptor is what lets the blocks go, and that waits for no line.
      plat::DeleteFile(options_.file);
      file_.store(std::make_shared<plat::AppendingFile>());
      plat::RunInBackground([old = std::move(full)]() mutable { old.reset(); });
      ReadLimit(clock_());
      if (LoadLimit(limitKB_) != 0) WriteHeader("Portulon log reset...");
    }
    if (LoadLimit(limitKB_) == 0) return;
  }

  WriteNumbered(body);
}

void TraceWriter::ReadLimit(std::time_t now) {
  plat::DWORD limit = 0;
  if (plat::RegReadDword(options_.registryKey, kLogMaxSizeKBValue, &limit) != plat::ERROR_SUCCESS) {
    limit = options_.defaultLimitKB;
  }
  StoreLimit(limitKB_, limit);
  limitReadAt_ = now;
}

void TraceWriter::WriteNumbered(std::string_view body) {
  const long number = ++lineCounter_;
  const std::time_t now = clock_();
  std::string stamp;
  {
    std::lock_guard lock(stampMutex_);
    if (now != stampSecond_) {
      const std::tm local = plat::LocalTime(now);
      const plat::LCID lcid = plat::GetUserDefaultLCID();
      stampText_ = plat::GetDateFormat(lcid, local) + " " + plat::GetTimeFormat(lcid, local);
      stampSecond_ = now;
    }
    stamp = stampText_;
  }
  std::string line = std::to_string(number);
  line.append(" ").append(stamp).append(" -> ").append(body).append("\n");
  // A line that cannot be written is lost; tracing never fails its caller.
  std::uint64_t size = 0;
  if (file_.load()->Append(options_.file, line, &size) == plat::ERROR_SUCCESS &&
      size > std::uint64_t{LoadLimit(limitKB_)} * 1024) {
    overLimit_.store(true);
  }
}

void TraceWriter::WriteHeader(const char* firstLine) {
  // Looked up once, when first needed: it means reading the module file.
  if (versionText_.empty()) versionText_ = GetVersionString(options_.versionModule);
  WriteNumbered(firstLine);
  WriteNumbered("Version is : " + versionText_);
  WriteNumbered("Log max size is " + std::to_string(LoadLimit(limitKB_)) + " KB");
}

namespace {

// The current process writer. Writers replaced by ConfigureProcessTrace stay
// alive until exit, so a reference taken before a replacement never dangles.
struct ProcessTraceState {
  std::mutex mutex;  // guards `writers`
  std::vector<std::unique_ptr<TraceWriter>> writers;
  std::atomic<TraceWriter*> current{nullptr};

  ProcessTraceState() {
    writers.push_back(std::make_unique<TraceWriter>(ServiceTraceOptions()));
    writers.back()->SetEnabled(false);
    current.store(writers.back().get());
  }
};

ProcessTraceState& State() {
  static ProcessTraceState state;
  return state;
}

}  // namespace

TraceWriter& ProcessTrace() { return *State().current.load(); }

void ConfigureProcessTrace(TraceOptions options, TraceWriter::Clock clock) {
  ProcessTraceState& state = State();
  std::lock_guard lock(state.mutex);
  state.writers.push_back(std::make_unique<TraceWriter>(std::move(options), std::move(clock)));
  state.current.store(state.writers.back().get());
}

void Trace(std::string_view label, std::string_view text, long number) {
  ProcessTrace().Write(label, text, number);
}

}  // namespace common
