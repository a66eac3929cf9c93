#pragma once
// Baud rates beyond the fixed termios speed codes (14400, 56000) and reading back the rate a
// port runs at. Kept apart from <termios.h>: the kernel's termios2 structure clashes with it.
#include <cstdint>

namespace commport_detail {
// Sets input and output speed of an open tty to any rate. False when the system refuses.
bool SetAnyBaudRate(int fd, uint32_t rate);
// The output speed the tty runs at, in baud; 0 when it cannot be read. On the master side of
// a pseudo-terminal this is the speed set on its slave side.
uint32_t PortBaudRate(int fd);
}  // namespace commport_detail
