#pragma once
// Pseudo-terminals standing in for a serial port in tests: the code under test opens the
// slave side by its path, the test writes on the master side as the meter would.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <cstdint>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace testpty {

using Bytes = std::vector<uint8_t>;

inline Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// One pseudo-terminal pair; the slave is left for the driver to open by its path.
class Pty {
public:
    Pty() {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) return;
        char name[128] = {};
        if (ptsname_r(master_, name, sizeof name) == 0) slave_ = name;
    }
    ~Pty() {
        if (master_ >= 0) ::close(master_);
    }
    Pty(const Pty&) = delete;
    Pty& operator=(const Pty&) = delete;

    bool ok() const { return master_ >= 0 && !slave_.empty(); }
    int master() const { return master_; }
    const std::string& slave() const { return slave_; }

    // Writes as the meter would; the result is the count written (-1 when the side is gone).
    ssize_t Write(const Bytes& bytes) const { return ::write(master_, bytes.data(), bytes.size()); }

    termios Settings() const {
        termios t{};
        tcgetattr(master_, &t);
        return t;
    }

private:
    int master_ = -1;
    std::string slave_;
};

// Runs the event loop until pred holds or five seconds have passed; the result is pred.
template <class Pred>
inline bool PumpUntil(Pred pred) {
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > 5000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
    return true;
}

// Runs the event loop for a while (no result: used to give ticks a chance to happen).
inline void PumpFor(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

// How many descriptors of this process refer to the device.
inline int OpenDescriptorsOf(const std::string& device) {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    while (dirent* e = readdir(dir)) {
        const std::string link = std::string("/proc/self/fd/") + e->d_name;
        char target[256] = {};
        const ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
        if (n > 0 && device == std::string(target, size_t(n))) ++count;
    }
    closedir(dir);
    return count;
}

}  // namespace testpty
