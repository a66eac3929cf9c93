#include "link/commport.h"

#include <QTimerEvent>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "link/commport_baud.h"
#include "link/commport_termios.h"

namespace {

constexpr uint8_t kXonChar = 0x11;
constexpr uint8_t kXoffChar = 0x13;

size_t PortIndex(TComPortNumber port) { return static_cast<size_t>(port) & 3u; }

// The termios speed code of a rate, or B0 when termios has none for it.
speed_t SpeedCode(uint32_t rate) {
    switch (rate) {
        case 110: return B110;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        default: return B0;
    }
}

std::string SystemReason(const std::string& path, int error) { return path + ": " + std::strerror(error); }

void SetModemLine(int fd, int line, bool on) {
    int bits = line;
    // Not every tty has modem lines (a pseudo-terminal has none); the result is not looked at.
    (void)ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
}

}  // namespace

uint32_t BaudRateValue(TComPortBaudRate speed) {
    static constexpr uint32_t kRates[] = {110,   300,   600,   1200,  2400,  4800,  9600,
                                          14400, 19200, 38400, 56000, 57600, 115200};
    const auto i = static_cast<size_t>(speed);
    return i < std::size(kRates) ? kRates[i] : 9600;
}

std::string ComPortName(TComPortNumber port) { return "COM" + std::to_string(PortIndex(port) + 1); }

std::string DefaultPortDeviceName(TComPortNumber port) {
#ifdef _WIN32
    return ComPortName(port);
#else
    return "/dev/ttyS" + std::to_string(PortIndex(port));
#endif
}

TCommPortDriver::TCommPortDriver(QObject* owner) : QObject(owner), receiveBuffer_(inBufSize_) {}

TCommPortDriver::~TCommPortDriver() { ClosePort(); }

void TCommPortDriver::SetComPort(TComPortNumber port) {
    if (!IsOpen()) comPort_ = port;
}

void TCommPortDriver::SetComPortSpeed(TComPortBaudRate speed) {
    speed_ = speed;
    if (IsOpen()) ApplyLineSettings();
}

void TCommPortDriver::SetComPortDataBits(TComPortDataBits bits) {
    dataBits_ = bits;
    if (IsOpen()) ApplyLineSettings();
}

void TCommPortDriver::SetComPortStopBits(TComPortStopBits bits) {
    stopBits_ = bits;
    if (IsOpen()) ApplyLineSettings();
}

void TCommPortDriver::SetComPortParity(TComPortParity parity) {
    parity_ = parity;
    if (IsOpen()) ApplyLineSettings();
}

void TCommPortDriver::SetComPortHwHandshaking(TComPortHwHandshaking mode) {
    hwHandshaking_ = mode;
    if (IsOpen()) ApplyLineSettings();
}

void TCommPortDriver::SetComPortSwHandshaking(TComPortSwHandshaking mode) {
    swHandshaking_ = mode;
    if (IsOpen()) ApplyLineSettings();
}

void TCommPortDriver::SetComPortInBufSize(uint16_t size) {
    if (IsOpen()) return;
    // A fresh block of exactly that size (not a resize that might keep a larger capacity).
    std::vector<uint8_t>(size).swap(receiveBuffer_);
    inBufSize_ = size;
}

void TCommPortDriver::SetComPortOutBufSize(uint16_t size) {
    if (IsOpen()) outBufSize_ = size;
}

void TCommPortDriver::SetComPortPollingDelay(uint16_t delay) {
    if (delay == pollingDelay_) return;
    const bool open = IsOpen();
    if (open) StopTimer();
    pollingDelay_ = delay;
    if (open) StartTimer();
}

void TCommPortDriver::SetPortDeviceName(TComPortNumber port, std::string path) {
    deviceNames_[PortIndex(port)] = std::move(path);
}

std::string TCommPortDriver::PortDeviceName(TComPortNumber port) const {
    const std::string& mapped = deviceNames_[PortIndex(port)];
    return mapped.empty() ? DefaultPortDeviceName(port) : mapped;
}

bool TCommPortDriver::OpenPort() {
    if (IsOpen()) return true;
    const std::string path = PortDeviceName(comPort_);
    // Non-blocking: opening does not wait for a carrier, and a read returns at once.
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        lastError_ = SystemReason(path, errno);
        return false;
    }
    if (!isatty(fd)) {
        lastError_ = SystemReason(path, ENOTTY);
        ::close(fd);
        return false;
    }
    // No sharing: a port another program (or another driver) holds is refused, and while this
    // driver holds it nobody else may open it.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        lastError_ = error == EWOULDBLOCK ? path + ": the port is in use" : SystemReason(path, error);
        ::close(fd);
        return false;
    }
    (void)ioctl(fd, TIOCEXCL);
    fd_ = fd;
    lineLost_ = false;
    lastError_.clear();
    ApplyLineSettings();
    StartTimer();
    return true;
}

void TCommPortDriver::ClosePort() {
    if (!IsOpen()) return;
    StopTimer();
    (void)ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the lock
    fd_ = -1;
}

bool commport_detail::ComposeLineSettings(termios& t, const TCommPortDriver& port) {
    cfmakeraw(&t);  // binary: no line editing, echo, translation or signals

    const uint32_t rate = BaudRateValue(port.ComPortSpeed());
    const speed_t code = SpeedCode(rate);
    // A rate without a speed code is set through the kernel's termios2 afterwards.
    cfsetispeed(&t, code != B0 ? code : B38400);
    cfsetospeed(&t, code != B0 ? code : B38400);

    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    // Ignore the modem status lines for receiving; drop DTR when the port is closed.
    t.c_cflag |= CLOCAL | CREAD | HUPCL;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[static_cast<size_t>(port.ComPortDataBits()) & 3u];
    switch (port.ComPortParity()) {
        case TComPortParity::ptNONE: break;
        case TComPortParity::ptODD: t.c_cflag |= PARENB | PARODD; break;
        case TComPortParity::ptEVEN: t.c_cflag |= PARENB; break;
        case TComPortParity::ptMARK: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case TComPortParity::ptSPACE: t.c_cflag |= PARENB | CMSPAR; break;
    }
    // One and a half stop bits: the UART gives 1.5 for the "two stop bits" setting when the
    // word has five data bits; termios has no setting of its own for it.
    if (port.ComPortStopBits() != TComPortStopBits::sb1BITS) t.c_cflag |= CSTOPB;
    if (port.ComPortHwHandshaking() == TComPortHwHandshaking::hhRTSCTS) t.c_cflag |= CRTSCTS;

    // Parity is generated but not checked.
    t.c_iflag &= ~(INPCK | IGNPAR | PARMRK | ISTRIP | IXON | IXOFF | IXANY);
    if (port.ComPortSwHandshaking() == TComPortSwHandshaking::shXONXOFF) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = kXonChar;
    t.c_cc[VSTOP] = kXoffChar;
    // A read returns at once with what the queue holds.
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    return code == B0;
}

void TCommPortDriver::ApplyLineSettings() {
    if (!IsOpen()) return;
    termios t{};
    if (tcgetattr(fd_, &t) != 0) std::memset(&t, 0, sizeof t);
    const bool anyRate = commport_detail::ComposeLineSettings(t, *this);
    (void)tcsetattr(fd_, TCSANOW, &t);
    if (anyRate) (void)commport_detail::SetAnyBaudRate(fd_, BaudRateValue(speed_));

    SetModemLine(fd_, TIOCM_DTR, enableDtr_);
    // Without hardware handshaking RTS stays off; with it the kernel drives RTS.
    SetModemLine(fd_, TIOCM_RTS, hwHandshaking_ == TComPortHwHandshaking::hhRTSCTS);

    PurgeBuffers(true, true);
}

void TCommPortDriver::PurgeBuffers(bool input, bool output) {
    if (!IsOpen()) return;
    if (input && output)
        (void)tcflush(fd_, TCIOFLUSH);
    else if (input)
        (void)tcflush(fd_, TCIFLUSH);
    else if (output)
        (void)tcflush(fd_, TCOFLUSH);
}

void TCommPortDriver::ReceiveTick() {
    if (!IsOpen() || delivering_ || receiveBuffer_.empty()) return;
    const ssize_t n = ::read(fd_, receiveBuffer_.data(), receiveBuffer_.size());
    if (n <= 0) {
        // Nothing read: no data yet, or the line has gone (a USB adapter pulled out, the far
        // end hung up). The first is normal; the second is told once, and polling goes on.
        const int readError = n < 0 ? errno : 0;
        if (readError == EAGAIN || readError == EWOULDBLOCK || readError == EINTR) return;
        pollfd p{fd_, POLLIN, 0};
        const bool hungUp = ::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if ((readError != 0 || hungUp) && !lineLost_) {
            lineLost_ = true;
            const std::string reason = readError != 0 ? std::strerror(readError) : std::string("hang-up");
            if (onLineLost_) onLineLost_(this, reason);
        }
        return;
    }
    lineLost_ = false;
    if (!onReceiveData_) return;
    delivering_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{delivering_};
    onReceiveData_(this, receiveBuffer_.data(), static_cast<int32_t>(n));
}

int32_t TCommPortDriver::InputQueueCount() const {
    if (!IsOpen()) return 0;
    int count = 0;
    if (ioctl(fd_, FIONREAD, &count) != 0) return 0;
    return count;
}

void TCommPortDriver::timerEvent(QTimerEvent*) { ReceiveTick(); }

void TCommPortDriver::StartTimer() {
    activePeriod_ = std::max<int>(pollingDelay_, 1);
    timer_.start(activePeriod_, Qt::PreciseTimer, this);
}

void TCommPortDriver::StopTimer() {
    timer_.stop();
    activePeriod_ = 0;
}
