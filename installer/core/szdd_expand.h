// Expansion of one file in the expand utility's format ("SZDD"), done by
// libmspack on memory buffers: the caller reads and writes the files through
// the platform layer.
#pragma once

#include <string>
#include <string_view>

#include "platform/win_types.h"

namespace setup {

using plat::DWORD;

// Expands `compressed` into *plain. ERROR_INVALID_DATA when it is not in the
// format, or its data ends before the length its header announces.
DWORD ExpandSzdd(std::string_view compressed, std::string* plain);

}  // namespace setup
