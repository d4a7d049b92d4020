// Work that no caller should wait for: letting a large file's blocks go,
// trimming a full log. Tasks run one at a time, in the order handed in, on one
// thread of the process, started with the first task.
//
// - A task must not throw, and reports its own failures: nobody waits for it.
// - Leaving the process through exit() or a return from main first lets the
//   tasks handed in run; _exit() and a kill lose them, so a task must leave
//   its files as a kill at any point would.
// - A forked child has no such thread: its first task starts its own, and
//   what the parent had queued stays the parent's.
//
// Thread safety: all calls.
#pragma once

#include <functional>

namespace plat {

void RunInBackground(std::function<void()> task);

// Returns once every task handed in before the call has run.
void WaitForBackground();

}  // namespace plat
