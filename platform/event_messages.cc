#include "platform/event_messages.h"

#include "platform/errors.h"
#include "platform/eventlog.h"
#include "platform/registry.h"
#include "platform/text.h"

namespace plat {

std::string EventMessageFiles::Text(const std::string& root, std::string_view log,
                                    std::string_view source, DWORD eventId) {
  const std::string key = ToLowerAscii(root + "|" + std::string(log) + "|" + std::string(source));
  std::lock_guard lock(mutex_);
  auto it = files_.find(key);
  if (it == files_.end()) {
    std::unique_ptr<Loaded> loaded;
    RegKey hklm, sourceKey;
    std::string file;
    if (RegKey::ConnectRoot(root, Hive::LocalMachine, &hklm) == ERROR_SUCCESS &&
        hklm.OpenSubKey(std::string(kEventLogServicesKey) + "\\" + std::string(log) + "\\" +
                            std::string(source),
                        &sourceKey) == ERROR_SUCCESS &&
        sourceKey.QueryString("EventMessageFile", &file) == ERROR_SUCCESS && !file.empty()) {
      loaded = std::make_unique<Loaded>();
      if (loaded->module.Load(file) == ERROR_SUCCESS) {
        loaded->module.Export(kEventMessageTextExport, &loaded->text);
      }
      if (!loaded->text) loaded.reset();
    }
    it = files_.emplace(key, std::move(loaded)).first;
  }
  if (!it->second) return {};
  const char* text = it->second->text(eventId);
  return text ? std::string(text) : std::string();
}

}  // namespace plat
