// What both hook modules tell the remote-access service about a decision when
// it asks (its optional AdminDescribeDecision export): Portulon's own account
// of the dial-in, read back from what the service recorded.
#pragma once

#include "platform/win_types.h"

namespace hooks {

// The body of the export: common::DescribeDialOutcome for the caller
// `account` on `portName` whose call began at `callStart`, copied into `text`
// (NUL-terminated, cut to `textSize`). FALSE when there is nothing to say.
// Never throws.
plat::BOOL DescribeDecision(const char* portName, const char* account, plat::BOOL admitted,
                            long long callStart, char* text, plat::DWORD textSize);

}  // namespace hooks
