// Which configuration file the service runs: a file named on the command line, or
// a configuration's name, looked up where the window keeps its files.
#pragma once

#include <string>

namespace service {

// The folder the window keeps its files in, by the window's own rule: the
// executable's folder when the user may write there and no package installed it
// (a portable install), otherwise $XDG_CONFIG_HOME/QuorlinVCP (an absolute one),
// else ~/.config/QuorlinVCP.
std::string chooseConfigurationFolder(const std::string& executableDir, bool executableDirWritable,
                                      bool installedByPackage, const std::string& xdgConfigHome,
                                      const std::string& home);
// The same for this process: its executable's folder, the environment, the home folder.
std::string configurationFolder();

// The file for an argument: a path (it holds a "/" or ends in ".qlc") as given,
// otherwise the name of a configuration: <folder>/<name>.qlc.
std::string configurationPath(const std::string& argument, const std::string& folder);

}  // namespace service
