// Installation folders for tests: every file setup installs, compressed and
// listed as the package script does, with small stand-in contents unless a
// test names a real program of the build.
#pragma once

#include <map>
#include <string>

namespace setup::testing {

// Contents of each installed file by default: "<name> of the test package".
std::string StandInContents(const std::string& name);

// Writes the package into host folder `folder` (created). `real` maps an
// installed name to the host file whose contents it gets instead.
void BuildPackage(const std::string& folder, const std::map<std::string, std::string>& real = {});

// Puts one file into the package, as plcompress does.
void AddToPackage(const std::string& folder, const std::string& name, const std::string& contents);

}  // namespace setup::testing
