#include "service/ConfigurationPath.h"

#include "vspdevices_install.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace service {
namespace {

std::string homeDir()
{
    if (const char* home = std::getenv("HOME"); home && *home)
        return home;
    const passwd* entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? entry->pw_dir : "";
}

bool endsWith(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}
}  // namespace

std::string chooseConfigurationFolder(const std::string& executableDir, bool executableDirWritable,
                                      bool installedByPackage, const std::string& xdgConfigHome,
                                      const std::string& home)
{
    if (executableDirWritable && !installedByPackage)
        return executableDir;
    // A relative $XDG_CONFIG_HOME is invalid and ignored, as the window ignores it.
    const std::string base = !xdgConfigHome.empty() && xdgConfigHome[0] == '/' ? xdgConfigHome : home + "/.config";
    return base + "/QuorlinVCP";
}

std::string configurationFolder()
{
    const std::string exeDir = vspdevices::install::executableDir();
    const bool writable = !exeDir.empty() && ::access(exeDir.c_str(), W_OK) == 0;
    const bool packaged = !vspdevices::install::layoutOf(exeDir).portable;  // the window's rule
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    return chooseConfigurationFolder(exeDir, writable, packaged, xdg ? xdg : "", homeDir());
}

std::string configurationPath(const std::string& argument, const std::string& folder)
{
    if (argument.find('/') != std::string::npos || endsWith(argument, ".qlc"))
        return argument;
    return folder + "/" + argument + ".qlc";
}

}  // namespace service
