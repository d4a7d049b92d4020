// The LZ compression of the expand utility ("SZDD"): what the package holds
// beside setup. The format: the magic "SZDD" 88 F0 27 33, the mode 'A', the
// last character of the original name, the uncompressed length (32 bits,
// little-endian), then groups of a flag byte and eight items; a set flag bit
// (lowest first) is a literal byte, a clear one a two-byte reference
// (position low 8 bits; position high 4 bits << 4 | length - 3) into a
// 4096-byte window that starts filled with blanks and written from 4080.
#pragma once

#include <string>
#include <string_view>

namespace szdd {

// Compresses `data`; `missingChar` is the original name's last character
// (the one a compressed name replaces by '_'). Never fails.
std::string Compress(std::string_view data, char missingChar);

// "pladmin.exe" -> "pladmin.ex_"; a name without an extension gets "._".
std::string CompressedName(std::string_view name);

}  // namespace szdd
