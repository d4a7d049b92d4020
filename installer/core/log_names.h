// Daily logs named in the user's language: early versions formed the name
// "yyyy-MMM-dd.log" with the user's locale, the service always with US
// English. Setup renames such files to their English names.
#pragma once

#include <string_view>

namespace setup {

// Renames, in `logFolder`, every daily log of 1997-01-01 to 2000-12-31 whose
// name used the user's default locale where it differs from US English.
// Returns the number of files renamed; a file whose English name is taken
// already is left alone.
int RepairLogNames(std::string_view logFolder);

}  // namespace setup
