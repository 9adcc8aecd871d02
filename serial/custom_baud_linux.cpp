// <asm/termbits.h> declares its own struct termios and cannot share a
// translation unit with <termios.h>, so the termios2 calls live here alone.
#include "custom_baud_linux.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace qx480 {
namespace detail {

int SetCustomBaudRate(int fd, int rate) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    tio.c_cflag &= ~(CBAUD | CIBAUD);
    tio.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    tio.c_ispeed = static_cast<speed_t>(rate);
    tio.c_ospeed = static_cast<speed_t>(rate);
    if (ioctl(fd, TCSETS2, &tio) != 0) return -1;
    termios2 kept{};
    if (ioctl(fd, TCGETS2, &kept) != 0) return -1;
    return static_cast<int>(kept.c_ospeed);
}

}  // namespace detail
}  // namespace qx480
