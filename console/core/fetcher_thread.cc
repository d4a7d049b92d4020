#include "console/core/fetcher_thread.h"

namespace QCL {

Thread::~Thread() { Stop(); }

void Thread::Start() {
  if (started_) return;
  started_ = true;
  thread_ = std::thread([this] {
    Run();
    finished_.store(true, std::memory_order_release);
    AfterFinish();
  });
}

void Thread::Stop() {
  keepRunning_.store(false);
  if (thread_.joinable()) thread_.join();
}

}  // namespace QCL

namespace pladmin {

CServerFetcherThread::CServerFetcherThread(CServer copy, RasAdmin& admin,
                                           std::shared_ptr<FetchNotifier> notifier)
    : record_(std::move(copy)), id_(record_.id), admin_(admin), notifier_(std::move(notifier)) {}

CServerFetcherThread::~CServerFetcherThread() { Stop(); }

void CServerFetcherThread::Run() {
  const std::uint64_t id = id_;
  FetchControl control;
  control.keepRunning = [this] { return keepRunning(); };
  control.progress = [&](int state) { notifier_->Post(kMsgServerRedraw, id, state); };
  completed_ = FetchServer(&record_, admin_, control);
  message_ = record_.changeMask != 0 ? kMsgServerChanged : kMsgServerRedraw;
  finalState_ = record_.state;
}

void CServerFetcherThread::AfterFinish() {
  // Stopped: nobody waits for news of this server.
  if (completed_) notifier_->Post(message_, id_, finalState_);
}

}  // namespace pladmin
