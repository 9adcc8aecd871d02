// The output speed of a tty as the termios2 ioctl reports it. <asm/termbits.h>
// cannot share a translation unit with <termios.h>, so this stands alone.
#include <asm/termbits.h>
#include <sys/ioctl.h>

int ReadOutputBaudRate(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) return -1;
    return static_cast<int>(tio.c_ospeed);
}
