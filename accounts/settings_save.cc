#include "accounts/settings_save.h"

#include <mutex>
#include <thread>

#include "platform/errors.h"

namespace accounts {

Outcome SaveSettings(std::span<const SettingInfo> table, const SettingsPlace& place,
                     const SettingTexts& current, const SettingTexts& typed,
                     const std::vector<std::string>& notify, std::vector<std::string>* toNotify) {
  std::string why;
  const auto changes = ChangedSettingValues(table, current, typed, &why);
  if (!changes) return Outcome::Refused(why);
  if (Outcome o = WriteSettingValues(table, place, *changes); !o.ok()) return o;
  if (NeedsUpdate(table, *changes)) *toNotify = notify;
  return {};
}

UpdateNotice NotifyServer(const std::string& server) {
  UpdateNotice notice;
  notice.server = server;
  bool running = true;
  const Outcome o = SendUpdate(server, &running);
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

}  // namespace accounts
