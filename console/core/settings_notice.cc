#include "console/core/settings_notice.h"

#include <mutex>
#include <thread>

#include "accounts/settings_store.h"
#include "platform/errors.h"

namespace pladmin {

UpdateNotice NotifyServer(const std::string& server) {
  UpdateNotice notice;
  notice.server = server;
  bool running = true;
  const accounts::Outcome o = accounts::SendUpdate(server, &running);
  if (o.ok()) {
    notice.took = true;
    notice.text = server + (running ? " re-read the settings" : " is not running; it reads the settings at its start");
  } else if (o.error == plat::ERROR_SEM_TIMEOUT || o.error == plat::ERROR_PIPE_BUSY) {
    notice.text = server + " did not answer; it will read the settings at its next start";
  } else {
    notice.text = o.message + "; it will read the settings at its next start";
  }
  return notice;
}

std::vector<UpdateNotice> NotifyServers(const std::vector<std::string>& servers,
                                        const std::function<void(const UpdateNotice&)>& each) {
  std::vector<UpdateNotice> notices(servers.size());
  std::mutex mutex;  // guards the calls of `each`
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < servers.size(); ++i) {
    threads.emplace_back([&, i] {
      notices[i] = NotifyServer(servers[i]);
      std::lock_guard lock(mutex);
      if (each) each(notices[i]);
    });
  }
  for (std::thread& t : threads) t.join();
  return notices;
}

std::string NoticeSummary(const std::vector<UpdateNotice>& notices) {
  std::string text;
  for (const UpdateNotice& n : notices) text += (text.empty() ? "" : "; ") + n.text;
  return text;
}

std::string NoticeFailures(const std::vector<UpdateNotice>& notices) {
  std::string text;
  for (const UpdateNotice& n : notices) {
    if (!n.took) text += n.text + "\n";
  }
  return text;
}

}  // namespace pladmin
