#include "console/ui/background_job.h"

namespace pladmin::ui {

BackgroundJob::BackgroundJob(QObject* parent, OnDestroy onDestroy)
    : QObject(parent), link_(std::make_shared<Link>()), onDestroy_(onDestroy) {
  link_->job = this;
}

BackgroundJob::~BackgroundJob() {
  {
    std::lock_guard lock(link_->mutex);
    link_->job = nullptr;  // from here on the work posts nothing
  }
  if (!thread_.joinable()) return;
  if (onDestroy_ == kWait) {
    thread_.join();
  } else {
    thread_.detach();
  }
}

std::function<void(std::function<void()>)> BackgroundJob::Poster() const {
  return [link = link_](std::function<void()> f) {
    std::lock_guard lock(link->mutex);
    // Posted while the job lives; an event for a job destroyed before it
    // arrives is dropped with the job.
    if (link->job) QMetaObject::invokeMethod(link->job, std::move(f), Qt::QueuedConnection);
  };
}

void BackgroundJob::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace pladmin::ui
