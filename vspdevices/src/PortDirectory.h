// The folder that holds the ports' links. A folder the library creates gets mode
// 0700. An existing one is used as it is, its mode never changed: it must be a real
// folder (not a link) owned by the user, and writable by no one else, since anyone
// who can write there could put their own links under the ports' names. Only links
// that point to a pseudo-terminal (/dev/pts/N) are ours to replace or remove;
// anything else found under a port's name is left alone and that port is not created.
// One library instance uses a port directory at a time: it holds an exclusive lock
// on the file .vspdevices.lock in it from initialize to release, and a second
// instance (in any process) is refused.
#pragma once

#include "vspdevices_holder.h"

#include <string>

namespace vsp {

using vspdevices::portDirectoryLockName;

// Creates the folder (mode 0700) or checks the existing one; false when unusable.
bool preparePortDirectory(const std::string& dir);
// Takes the folder's lock for this instance and writes "<pid> <program>" into the
// lock file, so a refused program can say who holds it: the lock's descriptor, or
// -1 when another instance holds it (or it cannot be made).
int lockPortDirectory(const std::string& dir);
void unlockPortDirectory(int lock);
// Removes every link and control socket (COM<n>.control) of ours left behind by an
// earlier run that did not end cleanly.
void removeStaleLinks(const std::string& dir);
// Points dir/COM<n> at the terminal, replacing a stale link of ours atomically.
bool createPortLink(const std::string& linkPath, const std::string& terminal);
// Removes the link only while it still points at the terminal.
void removePortLink(const std::string& linkPath, const std::string& terminal);

}  // namespace vsp
