// CRC-32 (the one of zip and PNG): the package's list of files carries it for
// every file, so that setup tells a damaged file from a good one.
#pragma once

#include <cstdint>
#include <string_view>

namespace szdd {

uint32_t Crc32(std::string_view data);

}  // namespace szdd
