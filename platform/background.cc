#include "platform/background.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace plat {

namespace {

// The thread and its queue. The thread waits on an atomic rather than a
// condition variable: a child forked while it waited would inherit a waiter
// that never wakes, which a condition variable's next signal may wait for.
class Runner {
 public:
  Runner() {
    // The queue stays whole across a fork: no thread is halfway through it.
    ::pthread_atfork([] { The().mutex_.lock(); }, [] { The().mutex_.unlock(); },
                     [] { The().mutex_.unlock(); });
  }

  // exit(): what was handed in runs first.
  ~Runner() {
    if (owner_.load() != ::getpid()) return;  // no thread of this process
    stopping_.store(true);
    Wake();
    finished_.wait(false);
  }

  static Runner& The();

  void Add(std::function<void()> task) {
    bool started = true;
    {
      std::lock_guard lock(mutex_);
      const pid_t self = ::getpid();
      if (owner_.load() != self) {
        queue_.clear();  // a parent's, if any
        completed_.store(submitted_.load());
        owner_.store(self);
        try {
          std::thread([this] { Work(); }).detach();
        } catch (const std::system_error&) {
          owner_.store(0);
          started = false;
        }
      }
      if (started) {
        queue_.push_back(std::move(task));
        submitted_.fetch_add(1);
      }
    }
    if (!started) {
      task();  // no thread to be had: the caller waits after all
      return;
    }
    Wake();
  }

  void Wait() {
    const std::uint64_t target = submitted_.load();
    for (std::uint64_t done = completed_.load(); done < target; done = completed_.load()) {
      completed_.wait(done);
    }
  }

 private:
  void Wake() {
    signal_.fetch_add(1);
    signal_.notify_one();
  }

  void Work() {
    // A batch thread does not preempt the thread that woke it: the caller
    // that handed a task in goes on at once, on a busy machine too, while
    // the task still gets its fair share of the processor.
    sched_param param{};
    ::pthread_setschedparam(::pthread_self(), SCHED_BATCH, &param);
    for (;;) {
      const std::uint32_t seen = signal_.load();
      std::function<void()> task;
      {
        std::lock_guard lock(mutex_);
        if (!queue_.empty()) {
          task = std::move(queue_.front());
          queue_.pop_front();
        }
      }
      if (task) {
        task();
        task = nullptr;  // what it held goes here too, not on a caller's path
        completed_.fetch_add(1);
        completed_.notify_all();
        continue;
      }
      if (stopping_.load()) {
        finished_.store(true);
        finished_.notify_all();
        return;
      }
      signal_.wait(seen);
    }
  }

  std::mutex mutex_;  // guards queue_ and the start of the thread (owner_)
  std::deque<std::function<void()>> queue_;
  std::atomic<pid_t> owner_{0};  // the process whose thread runs the queue
  std::atomic<std::uint32_t> signal_{0};
  std::atomic<std::uint64_t> submitted_{0};
  std::atomic<std::uint64_t> completed_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> finished_{false};
};

Runner& Runner::The() {
  static Runner runner;
  return runner;
}

}  // namespace

void RunInBackground(std::function<void()> task) { Runner::The().Add(std::move(task)); }

void WaitForBackground() { Runner::The().Wait(); }

}  // namespace plat
