// The class library's indented trace: "[Tick: %d, Thread %X] -<dots><text>",
// at most 512 characters, written only while the trace level exceeds 10 and a
// trace medium is attached. Each thread keeps its own indentation depth,
// raised by a TraceIndent object while it lives.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace QCL {

// Where indented trace lines go (a file, a window, a test's list).
class TraceMedium {
 public:
  virtual ~TraceMedium() = default;
  virtual void WriteLine(const std::string& line) = 0;
};

// Appends each line to a file named by a Windows path, one open-append-close
// per line, so several processes may share the file.
class FileTraceMedium : public TraceMedium {
 public:
  explicit FileTraceMedium(std::string windowsPath);
  void WriteLine(const std::string& line) override;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void SetTraceLevel(int level);
// Attaches the medium for the whole process; nullptr detaches it. Calls into
// the medium are serialized, so a medium needs no lock of its own; it must not
// trace itself.
void AttachTraceMedium(std::shared_ptr<TraceMedium> medium);

// Writes one indented line (printf-style).
void TraceLine(const char* format, ...) __attribute__((format(printf, 1, 2)));

class TraceIndent {
 public:
  // Writes `text` at the current depth, then raises the depth while alive.
  explicit TraceIndent(std::string_view text = {});
  ~TraceIndent();
  TraceIndent(const TraceIndent&) = delete;
  TraceIndent& operator=(const TraceIndent&) = delete;
};

}  // namespace QCL
