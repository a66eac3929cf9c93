#pragma once
// How the driver's line settings map onto a POSIX terminal description.
#include <termios.h>

class TCommPortDriver;

namespace commport_detail {
// Turns t into the description of the driver's line settings: raw binary input and output,
// speed, data bits, parity (generated, not checked), stop bits, RTS/CTS and XON/XOFF flow
// control, XON 0x11 / XOFF 0x13, receiver on, modem status ignored, reads returning at once.
// The result is true when the speed has no termios code and must be set separately
// (SetAnyBaudRate); t then carries B38400.
bool ComposeLineSettings(termios& t, const TCommPortDriver& port);
}  // namespace commport_detail
