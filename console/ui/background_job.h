// Work that may wait on another machine (or read a long file), run off the
// window thread; its result comes back to the window thread. One piece of
// work at a time per job.
//
// A job destroyed while its work runs either waits for it (kWait: the work
// uses something its owner is about to destroy) or lets it finish alone
// (kLetGo: the work holds all it uses by value, and its result is dropped),
// so that closing a view or a dialog never waits on a hung server.
#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace pladmin::ui {

class BackgroundJob : public QObject {
  Q_OBJECT
 public:
  enum OnDestroy { kWait, kLetGo };
  explicit BackgroundJob(QObject* parent, OnDestroy onDestroy = kLetGo);
  ~BackgroundJob() override;

  bool busy() const { return busy_; }

  // A function any thread may call to run `f` on the window thread, as long
  // as the job exists; for progress reports of the work.
  std::function<void(std::function<void()>)> Poster() const;

  // Runs work() on a thread of its own, then done(result) on the window
  // thread; false (and nothing run) while earlier work is under way.
  template <typename Work, typename Done>
  bool Start(Work work, Done done) {
    if (busy_) return false;
    Join();
    busy_ = true;
    auto finish = std::make_shared<Done>(std::move(done));
    thread_ = std::thread([post = Poster(), work = std::move(work), finish, this]() mutable {
      auto result = std::make_shared<decltype(work())>(work());
      post([this, result, finish] {
        Join();
        busy_ = false;
        (*finish)(std::move(*result));
      });
    });
    return true;
  }

 private:
  // What the work's thread shares with the job: whether the job still exists.
  struct Link {
    std::mutex mutex;  // guards job
    BackgroundJob* job;
  };
  void Join();

  std::shared_ptr<Link> link_;
  OnDestroy onDestroy_;
  std::thread thread_;
  bool busy_ = false;  // window thread only
};

}  // namespace pladmin::ui
