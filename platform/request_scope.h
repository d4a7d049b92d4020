// One request's view of the files: while a RequestScope lives on a thread,
// each path that thread resolves and each shared file whose version it checks
// is looked at once, and taken as it was for the rest of the scope. The
// service opens one for each message it handles: a message sees every file as
// of its first look at it, another process's change is seen by the next
// message, and the dozens of look-ups one decision makes on the same files
// (share folder, domain file, profiles, hives) cost one file-system call each
// instead of one per use.
//
// What this process itself writes through the platform is noted at once, so
// a scope never hides its own changes. Writers still lock and look at the file
// afresh: a scope only ever serves reads. Without a scope nothing is memorised.
//
// Out parameters on failure: Recall and FindIdentity leave them as they were
// when they return false.
#pragma once

#include <string>
#include <string_view>

#include "platform/posix_fd.h"

namespace plat {

class RequestScope {
 public:
  RequestScope();
  ~RequestScope();
  RequestScope(const RequestScope&) = delete;
  RequestScope& operator=(const RequestScope&) = delete;
};

// For the platform's own modules.
namespace scope {

// Whether the calling thread is inside a RequestScope.
bool Active();

// A name resolved earlier in this scope (a Windows path to its host path, a
// machine or share to its folder); false when not (yet) known. Keys start with
// what kind of name they are ("path:", "machine:", "share:", "domain:"). Names resolve
// for the rest of the scope as they did at the first look.
bool Recall(std::string_view key, std::string* value);
void Remember(std::string_view key, const std::string& value);

// The version of a host file seen earlier in this scope; false when not known.
bool FindIdentity(const std::string& hostPath, posix::FileIdentity* id);
// What this thread has just learnt of a file (read it, or wrote it).
void NoteIdentity(const std::string& hostPath, const posix::FileIdentity& id);
// The file changed in a way not worth following (deleted, replaced): look again.
void Forget(const std::string& hostPath);

}  // namespace scope
}  // namespace plat
