// Baud rates outside the termios B-constants, on Linux.
#pragma once

namespace qx480 {
namespace detail {

// Sets the input and output speed of the tty `fd` to `rate` bits per second
// (termios2 with BOTHER). Returns the output speed that the driver kept, or
// -1 when the driver refused the settings.
int SetCustomBaudRate(int fd, int rate);

}  // namespace detail
}  // namespace qx480
