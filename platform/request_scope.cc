#include "platform/request_scope.h"

#include <unordered_map>

namespace plat {
namespace {

// Per thread, so no lock: a scope belongs to the thread that opened it.
struct ScopeMemo {
  int depth = 0;
  std::unordered_map<std::string, std::string> resolved;  // kind:name -> what it resolved to
  std::unordered_map<std::string, posix::FileIdentity> versions;  // host path -> version
};

thread_local ScopeMemo memo;

}  // namespace

RequestScope::RequestScope() { ++memo.depth; }

RequestScope::~RequestScope() {
  if (--memo.depth == 0) {
    memo.resolved.clear();
    memo.versions.clear();
  }
}

namespace scope {

bool Active() { return memo.depth > 0; }

bool Recall(std::string_view key, std::string* value) {
  if (memo.depth == 0) return false;
  const auto it = memo.resolved.find(std::string(key));
  if (it == memo.resolved.end()) return false;
  *value = it->second;
  return true;
}

void Remember(std::string_view key, const std::string& value) {
  if (memo.depth > 0) memo.resolved.insert_or_assign(std::string(key), value);
}

bool FindIdentity(const std::string& hostPath, posix::FileIdentity* id) {
  if (memo.depth == 0) return false;
  const auto it = memo.versions.find(hostPath);
  if (it == memo.versions.end()) return false;
  *id = it->second;
  return true;
}

void NoteIdentity(const std::string& hostPath, const posix::FileIdentity& id) {
  if (memo.depth > 0) memo.versions.insert_or_assign(hostPath, id);
}

void Forget(const std::string& hostPath) {
  if (memo.depth > 0) memo.versions.erase(hostPath);
}

}  // namespace scope
}  // namespace plat
