#include "PortLookup.h"

#include "vspdevices_ports.h"

#include <dirent.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace vsp::preload {
namespace {

struct Key {
    dev_t rdev;
    long ctimeSec;
    long ctimeNsec;
};

struct Entry {
    Key key;
    int com;  // 0: not a port
    bool used;
};

constexpr int cacheSize = 32;
Entry cache[cacheSize];
int nextSlot = 0;
pthread_mutex_t cacheLock = PTHREAD_MUTEX_INITIALIZER;

// Unix 98 pseudo-terminal slaves (/dev/pts/N).
bool isPtySlave(const struct stat& st)
{
    return S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

bool sameKey(const Key& a, const Key& b)
{
    return a.rdev == b.rdev && a.ctimeSec == b.ctimeSec && a.ctimeNsec == b.ctimeNsec;
}

int cached(const Key& key, bool& found)
{
    pthread_mutex_lock(&cacheLock);
    found = false;
    int com = 0;
    for (const Entry& e : cache)
        if (e.used && sameKey(e.key, key)) {
            found = true;
            com = e.com;
            break;
        }
    pthread_mutex_unlock(&cacheLock);
    return com;
}

void remember(const Key& key, int com)
{
    pthread_mutex_lock(&cacheLock);
    cache[nextSlot] = {key, com, true};
    nextSlot = (nextSlot + 1) % cacheSize;
    pthread_mutex_unlock(&cacheLock);
}

// The port whose link points at this terminal, found in the port directory.
int findInDirectory(dev_t rdev)
{
    char dir[256];
    if (!portDirectory(dir, sizeof dir) || vspdevices::portDirectoryFault(dir) != vspdevices::PortDirectoryFault::None)
        return 0;
    DIR* folder = opendir(dir);
    if (!folder)
        return 0;
    int found = 0;
    while (const dirent* entry = readdir(folder)) {
        const int com = vspdevices::portLinkNumber(entry->d_name).value_or(0);
        if (com == 0)
            continue;
        char path[512];
        snprintf(path, sizeof path, "%s/%s", dir, entry->d_name);
        struct stat link {};
        struct stat target {};
        if (lstat(path, &link) == 0 && S_ISLNK(link.st_mode) && stat(path, &target) == 0 && isPtySlave(target) &&
            target.st_rdev == rdev) {
            found = com;
            break;
        }
    }
    closedir(folder);
    return found;
}

}  // namespace

bool portDirectory(char* out, size_t size)
{
    int n;
    if (const char* dir = getenv("VSP_PORT_DIR"); dir && *dir)
        n = snprintf(out, size, "%s", dir);
    else if (const char* runtime = getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        n = snprintf(out, size, "%s/vspdevices", runtime);
    else
        n = snprintf(out, size, "/tmp/vspdevices-%u", static_cast<unsigned>(getuid()));
    return n > 0 && static_cast<size_t>(n) < size;
}

Port portOf(int fd)
{
    struct stat st {};
    if (fstat(fd, &st) != 0)
        return {};
    return portOfFile(st);
}

Port portOfFile(const struct stat& st)
{
    if (!isPtySlave(st))
        return {};
    const Key key{st.st_rdev, static_cast<long>(st.st_ctim.tv_sec), st.st_ctim.tv_nsec};
    bool found = false;
    int com = cached(key, found);
    if (!found) {
        com = findInDirectory(st.st_rdev);
        remember(key, com);
    }
    return {com, com ? st.st_rdev : 0};
}

void resetLookupAfterFork()
{
    pthread_mutex_init(&cacheLock, nullptr);
}

}  // namespace vsp::preload
