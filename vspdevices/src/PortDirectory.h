// The folder that holds the ports' links. It is private to the user: a folder owned
// by someone else, or one that is a link itself, is refused. Only links that point
// to a pseudo-terminal (/dev/pts/N) are ours to replace or remove; anything else
// found under a port's name is left alone and that port is not created.
// One library instance uses a port directory at a time.
#pragma once

#include <string>

namespace vsp {

// Creates the folder (mode 0700) or checks the existing one; false when unusable.
bool preparePortDirectory(const std::string& dir);
// Removes every link of ours left behind by an earlier run that did not end cleanly.
void removeStaleLinks(const std::string& dir);
// Points dir/COM<n> at the terminal, replacing a stale link of ours atomically.
bool createPortLink(const std::string& linkPath, const std::string& terminal);
// Removes the link only while it still points at the terminal.
void removePortLink(const std::string& linkPath, const std::string& terminal);

}  // namespace vsp
