#include "installer/core/install_files.h"

#include "common/data_folder.h"

namespace setup {

namespace {

// The console's runtime (Qt 6) comes with the operating system's packages,
// and its help is built into pladmin.exe, so no runtime libraries or help
// files are shipped; readme.htm and securitynotes.htm are our own documents.
constexpr InstallFile kFiles[] = {
    {"readme.htm", 1, FileGroup::Always},
    {"securitynotes.htm", 1, FileGroup::Always},
    {"_pladmin.dll", 2, FileGroup::Always},
    {"pladmin.exe", 30, FileGroup::Console},
    // The account and settings tools serve a server without a display as
    // well as the console's machine.
    {"pluser.exe", 31, FileGroup::Always},
    {"plsettings.exe", 32, FileGroup::Always},
    {"plsvc.exe", 55, FileGroup::Server},
    {"pl_msg.dll", 65, FileGroup::Server},
    {"plcollect.exe", 67, FileGroup::Server},
    {"_plsvc.dll", 68, FileGroup::Server},
    {kRasHook, 84, FileGroup::Hook},
    {kRrasHook, 84, FileGroup::Hook},
    {common::kSystemDataFile, 85, FileGroup::MasterData},
    {common::kUsersFile, 86, FileGroup::MasterData},
    {common::kCombinedLogFile, 87, FileGroup::MasterData},
    {kUninstaller, 96, FileGroup::Uninstaller},
};

}  // namespace

std::span<const InstallFile> InstallFiles() { return kFiles; }

}  // namespace setup
