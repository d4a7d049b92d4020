// The worker threads of the console: QCL::Thread, a thread that runs one job
// and can be asked to stop, and CServerFetcherThread, which refreshes one
// server's record and reports to the user-interface thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "console/core/server.h"
#include "console/core/server_fetch.h"

namespace QCL {

// Runs Run() on a thread of its own. Destroying the object clears
// keep-running and waits for the thread's end.
class Thread {
 public:
  Thread() = default;
  virtual ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  void Start();
  // Asks the job to end early; it notices at its next check.
  void RequestStop() { keepRunning_.store(false); }
  bool started() const { return started_; }
  bool keepRunning() const { return keepRunning_.load(); }
  // True once Run() has returned; what it wrote is then visible to the caller.
  bool finished() const { return finished_.load(std::memory_order_acquire); }

 protected:
  virtual void Run() = 0;
  // Runs on the thread after finished() turned true: what the owner may take
  // is no longer touched here.
  virtual void AfterFinish() {}
  // Must be called at the start of the destructor of a derived class, before
  // the members Run() uses go.
  void Stop();

 private:
  bool started_ = false;
  std::atomic<bool> keepRunning_{true};
  std::atomic<bool> finished_{false};
  std::thread thread_;
};

}  // namespace QCL

namespace pladmin {

// Where fetches report. Called on fetcher threads: implementations post the
// notification to the user-interface thread and return at once.
class FetchNotifier {
 public:
  virtual ~FetchNotifier() = default;
  // message: kMsgServerChanged or kMsgServerRedraw; state: the record's state.
  virtual void Post(int message, std::uint64_t serverId, int state) = 0;
};

// One fetch of one server. Works on its own copy of the record; the owner
// takes the result over (TakeResult) once finished() is true.
class CServerFetcherThread : public QCL::Thread {
 public:
  CServerFetcherThread(CServer copy, RasAdmin& admin, std::shared_ptr<FetchNotifier> notifier);
  ~CServerFetcherThread() override;

  // True when the fetch ran to its end (not stopped on the way). Only after finished().
  bool completed() const { return completed_; }
  // The refreshed record; only after finished().
  CServer TakeResult() { return std::move(record_); }

 protected:
  void Run() override;
  void AfterFinish() override;

 private:
  CServer record_;  // written by the thread until finished(), then by the owner
  int message_ = 0;  // the final notification; the thread's own
  int finalState_ = 0;
  const std::uint64_t id_;
  RasAdmin& admin_;
  std::shared_ptr<FetchNotifier> notifier_;
  bool completed_ = false;
};

}  // namespace pladmin
