#include "hooks/decision_note.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/dial_outcome.h"

namespace hooks {

plat::BOOL DescribeDecision(const char* portName, const char* account, plat::BOOL admitted,
                            long long callStart, char* text, plat::DWORD textSize) {
  if (!portName || !account || !text || textSize == 0) return plat::FALSE;
  try {
    const std::string note =
        common::DescribeDialOutcome(admitted != plat::FALSE, portName, account, callStart);
    if (note.empty()) return plat::FALSE;
    const size_t n = std::min<size_t>(note.size(), textSize - 1);
    std::memcpy(text, note.data(), n);
    text[n] = 0;
    return plat::TRUE;
  } catch (...) {
    return plat::FALSE;  // the remote-access service's thread must never see an exception
  }
}

}  // namespace hooks
