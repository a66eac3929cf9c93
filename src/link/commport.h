#pragma once
// Serial port driver: opens one of the ports COM1 … COM4 with a set of line settings and hands
// the bytes that arrive to its owner through OnReceiveData. It receives by polling: a timer on
// the owner's (GUI) thread reads whatever the port holds every ComPortPollingDelay
// milliseconds and hands it over at once. There is no send operation.
//
// Port naming: pnCOM1 … pnCOM4 are /dev/ttyS0 … /dev/ttyS3 (COM1 … COM4 on Windows). Any of
// them can be mapped to another device path (SetPortDeviceName), e.g. COM1 to a USB-serial
// adapter at /dev/ttyUSB0.
//
// The port is driven through termios directly rather than through QSerialPort: the receive
// path then reads straight into the driver's one reusable buffer (no intermediate buffering
// that would allocate or merge ticks), a read returns at once with what the kernel queue holds,
// a purge drops exactly the kernel queues, and the exclusive open and modem lines are under
// the driver's control. The tests drive it over pseudo-terminals. A port to another system
// replaces the termios calls of commport.cpp, commport_baud.cpp and commport_termios.h; this
// interface stays.
#include <QBasicTimer>
#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class TComPortNumber : uint8_t { pnCOM1, pnCOM2, pnCOM3, pnCOM4 };

// Each value brN means N baud.
enum class TComPortBaudRate : uint8_t {
    br110,
    br300,
    br600,
    br1200,
    br2400,
    br4800,
    br9600,
    br14400,
    br19200,
    br38400,
    br56000,
    br57600,
    br115200,
};

enum class TComPortDataBits : uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum class TComPortStopBits : uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum class TComPortParity : uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
// hhRTSCTS: CTS output flow control and RTS handshake.
enum class TComPortHwHandshaking : uint8_t { hhNONE, hhRTSCTS };
// shXONXOFF: XON/XOFF flow control in both directions.
enum class TComPortSwHandshaking : uint8_t { shNONE, shXONXOFF };

// The number of baud a speed stands for (br2400 → 2400).
uint32_t BaudRateValue(TComPortBaudRate speed);
// "COM1" … "COM4": the port's name as the user knows it.
std::string ComPortName(TComPortNumber port);
// The system's device for a port when it is not mapped elsewhere ("/dev/ttyS0" for COM1).
std::string DefaultPortDeviceName(TComPortNumber port);

class TCommPortDriver;

// Sender: the driver; DataPtr: the received bytes, valid only during the call; DataSize: their
// count (above 0).
using TComPortReceiveDataEvent = std::function<void(TCommPortDriver* Sender, const uint8_t* DataPtr, int32_t DataSize)>;

class TCommPortDriver : public QObject {
public:
    // Closed, with the defaults below and a receive buffer of 2048 bytes.
    explicit TCommPortDriver(QObject* owner = nullptr);
    // Closes the port.
    ~TCommPortDriver() override;

    TCommPortDriver(const TCommPortDriver&) = delete;
    TCommPortDriver& operator=(const TCommPortDriver&) = delete;

    // ---- properties (default in brackets) ----
    // The port [pnCOM2]. A change is accepted only while the port is closed.
    TComPortNumber ComPort() const { return comPort_; }
    void SetComPort(TComPortNumber port);

    // Line settings [br9600, db8BITS, sb1BITS, ptNONE, hhNONE, shNONE]. Stored at once and,
    // while the port is open, applied at once (ApplyLineSettings: both queues are purged).
    TComPortBaudRate ComPortSpeed() const { return speed_; }
    void SetComPortSpeed(TComPortBaudRate speed);
    TComPortDataBits ComPortDataBits() const { return dataBits_; }
    void SetComPortDataBits(TComPortDataBits bits);
    TComPortStopBits ComPortStopBits() const { return stopBits_; }
    void SetComPortStopBits(TComPortStopBits bits);
    TComPortParity ComPortParity() const { return parity_; }
    void SetComPortParity(TComPortParity parity);
    TComPortHwHandshaking ComPortHwHandshaking() const { return hwHandshaking_; }
    void SetComPortHwHandshaking(TComPortHwHandshaking mode);
    TComPortSwHandshaking ComPortSwHandshaking() const { return swHandshaking_; }
    void SetComPortSwHandshaking(TComPortSwHandshaking mode);

    // Size of the receive buffer: the most bytes one OnReceiveData call carries [2048].
    // Accepted only while the port is closed; the buffer is reallocated then. With 0 nothing
    // is read (the bytes wait in the system's queue).
    uint16_t ComPortInBufSize() const { return inBufSize_; }
    void SetComPortInBufSize(uint16_t size);

    // Size of the system's output queue [2048]. Accepted only while the port is open; used at
    // the next ApplyLineSettings. (The kernel's tty queues have fixed sizes: the value is kept
    // for the owner, nothing sends.)
    uint16_t ComPortOutBufSize() const { return outBufSize_; }
    void SetComPortOutBufSize(uint16_t size);

    // Period of the receive poll in milliseconds [50]. A new value while the port is open
    // restarts the poll with it; the value it already has changes nothing. A period of 0 polls
    // every millisecond.
    uint16_t ComPortPollingDelay() const { return pollingDelay_; }
    void SetComPortPollingDelay(uint16_t delay);

    // DTR is switched on while the port is open [true]; used at the next ApplyLineSettings.
    bool EnableDTROnOpen() const { return enableDtr_; }
    void SetEnableDTROnOpen(bool on) { enableDtr_ = on; }

    // Stored only; no operation uses it [4000].
    uint16_t OutputTimeout() const { return outputTimeout_; }
    void SetOutputTimeout(uint16_t ms) { outputTimeout_ = ms; }

    // Receives the bytes read [none].
    const TComPortReceiveDataEvent& OnReceiveData() const { return onReceiveData_; }
    void SetOnReceiveData(TComPortReceiveDataEvent handler) { onReceiveData_ = std::move(handler); }

    // Told once when the open port's line goes away (read error such as EIO, or hang-up),
    // with the system's reason; again only after data has come in since [none].
    using TComPortLineLostEvent = std::function<void(TCommPortDriver* Sender, const std::string& Reason)>;
    void SetOnLineLost(TComPortLineLostEvent handler) { onLineLost_ = std::move(handler); }

    // ---- port naming ----
    // Maps a port to a device path; an empty path restores the system's default. Takes
    // effect at the next OpenPort.
    void SetPortDeviceName(TComPortNumber port, std::string path);
    // The device path OpenPort uses for a port.
    std::string PortDeviceName(TComPortNumber port) const;

    // ---- operations ----
    // Opens ComPort exclusively, applies the line settings, makes reads return at once and
    // starts the receive poll. True when the port is open afterwards (also when it already
    // was: then nothing changes). False when it cannot be opened; LastError says why.
    bool OpenPort();
    // When open: stops the poll and closes the port. Closing a closed port does nothing.
    void ClosePort();
    bool IsOpen() const { return fd_ >= 0; }
    // While open: applies all line settings and DTR/RTS, then drops the bytes waiting in both
    // queues. Failures of the system calls are not looked at.
    void ApplyLineSettings();
    // While open: drops the bytes waiting in the input and/or output queue.
    void PurgeBuffers(bool input, bool output);

    // The receive step each poll tick runs: reads up to ComPortInBufSize bytes and, when there
    // are any, hands them to OnReceiveData. Does nothing when the port is closed, when the read
    // fails or finds nothing, and while an OnReceiveData call is still running (a tick inside a
    // handler's nested event loop leaves the bytes in the queue for a later tick instead of
    // overwriting the bytes being handled). Allocates nothing.
    void ReceiveTick();

    // Bytes waiting in the system's input queue; 0 when closed.
    int32_t InputQueueCount() const;
    // Period the receive poll runs with, in milliseconds; 0 when it is not running.
    int ReceiveTimerPeriod() const { return timer_.isActive() ? activePeriod_ : 0; }
    // The system's reason why the last OpenPort failed (e.g. "/dev/ttyS0: No such file or
    // directory"); empty after a successful open.
    const std::string& LastError() const { return lastError_; }

protected:
    // Every timer event of the driver runs the receive step, whatever its id.
    void timerEvent(QTimerEvent* event) override;

private:
    void StartTimer();
    void StopTimer();

    TComPortNumber comPort_ = TComPortNumber::pnCOM2;
    TComPortBaudRate speed_ = TComPortBaudRate::br9600;
    TComPortDataBits dataBits_ = TComPortDataBits::db8BITS;
    TComPortStopBits stopBits_ = TComPortStopBits::sb1BITS;
    TComPortParity parity_ = TComPortParity::ptNONE;
    TComPortHwHandshaking hwHandshaking_ = TComPortHwHandshaking::hhNONE;
    TComPortSwHandshaking swHandshaking_ = TComPortSwHandshaking::shNONE;
    uint16_t inBufSize_ = 2048;
    uint16_t outBufSize_ = 2048;
    uint16_t pollingDelay_ = 50;
    bool enableDtr_ = true;
    uint16_t outputTimeout_ = 4000;
    TComPortReceiveDataEvent onReceiveData_;

    std::array<std::string, 4> deviceNames_;  // mapped device paths; empty: the default
    int fd_ = -1;                             // the open port; -1 when closed
    std::vector<uint8_t> receiveBuffer_;      // ComPortInBufSize bytes, reused at every tick
    QBasicTimer timer_;
    int activePeriod_ = 0;
    bool delivering_ = false;
    bool lineLost_ = false;
    TComPortLineLostEvent onLineLost_;
    std::string lastError_;
};
