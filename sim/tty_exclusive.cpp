#include "tty_exclusive.h"

#include <sys/ioctl.h>

#if defined(__linux__) && defined(TIOCGEXCL)
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#endif

namespace qx480 {
namespace sim {

#if defined(__linux__) && defined(TIOCGEXCL)
namespace {

// How /proc/locks names a file: its file system's device in hex, then its inode ("00:19:3").
std::string LockedFileId(const struct stat& st) {
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(st.st_dev), minor(st.st_dev),
                  static_cast<unsigned long long>(st.st_ino));
    return id;
}

// True when /proc/locks lists a flock held on `fileId`, and when it cannot be
// read. Lines of waiting requests ("1: -> FLOCK ...") hold nothing.
bool FlockHeld(const std::string& fileId) {
    std::ifstream locks("/proc/locks");
    if (!locks) return true;
    std::string line;
    while (std::getline(locks, line)) {
        std::istringstream fields(line);
        std::string number, kind, strength, access, pid, file;
        if (fields >> number >> kind >> strength >> access >> pid >> file && kind == "FLOCK" && file == fileId) {
            return true;
        }
    }
    return false;
}

}  // namespace

bool ClearOrphanedExclusive(int fd) {
    int exclusive = 0;
    if (ioctl(fd, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || FlockHeld(LockedFileId(st))) return false;
    return ioctl(fd, TIOCNXCL) == 0;
}
#else
bool ClearOrphanedExclusive(int) { return false; }
#endif

}  // namespace sim
}  // namespace qx480
