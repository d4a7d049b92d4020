// The trace writer: diagnostic lines of label, text and number, each one
// append of the whole line to a file kept open between lines, for support
// staff.
//
// Line in the file:  "<n> <date> <time> -> <label>: <text> : <number>"
// (date in the user's short date format, time in the user's time format).
// The size limit is the DWORD LogMaxSizeKB under
// the program's own key (product_keys.h); 0 switches tracing off.
//
// - The first line of a run deletes the file and reads the limit; with a limit,
//   the header "Portulon starting...", "Version is : %s", "Log max size is %d KB"
//   comes first (lines 1 to 3).
// - While the limit is 0 it is read again at most every 300 seconds.
// - Before each line, a file larger than limit x 1024 bytes is deleted, the
//   limit read again and the header "Portulon log reset..." written; the line
//   counter keeps counting. The deleted file's blocks are let go off the
//   line's path (plat::RunInBackground): that is what a restart costs most.
// - In console mode the body "%s: %s : %d" goes to standard output instead,
//   whatever the limit; the file is not touched.
//
// Lines from several threads need no lock: each is one append of the whole
// line. The counter is atomic.
#pragma once

#include <atomic>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "common/product_keys.h"
#include "platform/file.h"
#include "platform/win_types.h"

namespace common {

struct TraceOptions {
  std::string file;            // Windows path, "C:\qcl_trace_plsvc.txt"
  std::string registryKey;     // kServiceKey, kRasHookKey, kRrasHookKey
  plat::DWORD defaultLimitKB;  // used when LogMaxSizeKB is absent
  std::string versionModule;   // "plsvc.exe": its file version goes into the header
};

// The writers of our programs.
TraceOptions ServiceTraceOptions();   // C:\qcl_trace_plsvc.txt, Service, 512, plsvc.exe
TraceOptions RasHookTraceOptions();   // C:\qcl_trace_plras.txt, PL_RAS, 100, pl_ras.dll
TraceOptions RrasHookTraceOptions();  // C:\qcl_trace_plrras.txt, PL_RRAS, 100, pl_rras.dll

class TraceWriter {
 public:
  using Clock = std::function<std::time_t()>;

  // `clock` gives the current time (seconds since 1970); tests inject one.
  explicit TraceWriter(TraceOptions options, Clock clock = nullptr);

  // Nothing is written while disabled (the service enables it once it knows
  // whether it runs as a service or on the console).
  void SetEnabled(bool enabled);
  void SetConsoleMode(bool console);

  void Write(std::string_view label, std::string_view text, long number);

  long linesWritten() const { return lineCounter_.load(); }
  const TraceOptions& options() const { return options_; }

 private:
  // Reads LogMaxSizeKB (or the default) and notes when it was read.
  void ReadLimit(std::time_t now);
  void WriteNumbered(std::string_view body);
  void WriteHeader(const char* firstLine);

  TraceOptions options_;
  Clock clock_;
  std::atomic<bool> enabled_{true};
  std::atomic<bool> console_{false};
  std::atomic<long> lineCounter_{0};
  // Guards the limit and the first-line state: the rare path where the file is
  // started, reset or the limit is read again. Ordinary lines do not take it.
  std::mutex stateMutex_;
  bool started_ = false;
  plat::DWORD limitKB_ = 0;
  std::time_t limitReadAt_ = 0;
  std::string versionText_;
  // The date and time text of the latest second a line was written in: the
  // locale and time zone behind it are registry reads, too slow for every
  // line of a busy service. Guards stampSecond_ and stampText_.
  std::mutex stampMutex_;
  std::time_t stampSecond_ = -1;
  std::string stampText_;
  // The trace file, kept open between lines. A restart puts a new one here
  // and hands the old one, still open, to the background to close.
  std::atomic<std::shared_ptr<plat::AppendingFile>> file_;
  // Set when a line took the file past the limit: the next line resets it
  // first. Learnt from the write itself, so an ordinary line costs no look at
  // the file's size of its own.
  std::atomic<bool> overLimit_{false};
};

// The process's trace writer, used by every Trace call. Until configured it is
// the service's writer, disabled.
TraceWriter& ProcessTrace();
// Replaces the process's writer with a new, enabled one. Meant for start-up,
// before other threads trace: a line in flight on another thread may still go
// to the previous writer. Previous writers live until exit, so a reference
// obtained from ProcessTrace() stays valid.
void ConfigureProcessTrace(TraceOptions options, TraceWriter::Clock clock = nullptr);

// Writes one line through the process's trace writer.
void Trace(std::string_view label, std::string_view text, long number);

}  // namespace common
