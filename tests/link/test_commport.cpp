// The serial port driver over pseudo-terminals: the driver opens the slave side as its port,
// the test writes on the master side as the meter would, and reads the line settings back
// through the master.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <termios.h>
#include <vector>

#include "link/commport.h"
#include "link/commport_baud.h"
#include "link/commport_termios.h"
#include "link/test_commport_pty.h"

// ---- allocation counting for the receive path ----
namespace {
std::atomic<long> g_allocations{0};
}
void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }

namespace {

using testpty::Bytes;
using testpty::OpenDescriptorsOf;
using testpty::Pty;
using testpty::PumpFor;
using testpty::PumpUntil;
using testpty::ToBytes;

// Records what OnReceiveData hands over.
struct Receiver {
    std::vector<Bytes> chunks;
    std::vector<TCommPortDriver*> senders;

    TComPortReceiveDataEvent Handler() {
        return [this](TCommPortDriver* sender, const uint8_t* data, int32_t size) {
            senders.push_back(sender);
            chunks.emplace_back(data, data + size);
        };
    }
    Bytes All() const {
        Bytes all;
        for (const Bytes& c : chunks) all.insert(all.end(), c.begin(), c.end());
        return all;
    }
    size_t Total() const { return All().size(); }
};

// A driver whose COM1 is the slave of a pseudo-terminal, with a receiver bound.
class CommPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal available";
        port_.SetPortDeviceName(TComPortNumber::pnCOM1, pty_.slave());
        port_.SetComPort(TComPortNumber::pnCOM1);
        port_.SetOnReceiveData(rx_.Handler());
    }
    // Waits until the port's input queue holds n bytes (the pseudo-terminal hands written
    // bytes over asynchronously).
    bool WaitQueued(int32_t n) {
        return PumpUntil([&] { return port_.InputQueueCount() >= n; });
    }
    // Reads tick by tick, without the timer, until a tick delivers nothing.
    void DrainByTicks() {
        for (;;) {
            const size_t before = rx_.chunks.size();
            port_.ReceiveTick();
            if (rx_.chunks.size() == before) return;
        }
    }

    Pty pty_;
    TCommPortDriver port_;
    Receiver rx_;
};

// ---- properties and naming ----

TEST(CommPortDriverProperties, DefaultsOfANewDriver) {
    TCommPortDriver d;
    EXPECT_FALSE(d.IsOpen());
    EXPECT_EQ(d.ComPort(), TComPortNumber::pnCOM2);
    EXPECT_EQ(d.ComPortSpeed(), TComPortBaudRate::br9600);
    EXPECT_EQ(d.ComPortDataBits(), TComPortDataBits::db8BITS);
    EXPECT_EQ(d.ComPortStopBits(), TComPortStopBits::sb1BITS);
    EXPECT_EQ(d.ComPortParity(), TComPortParity::ptNONE);
    EXPECT_EQ(d.ComPortHwHandshaking(), TComPortHwHandshaking::hhNONE);
    EXPECT_EQ(d.ComPortSwHandshaking(), TComPortSwHandshaking::shNONE);
    EXPECT_EQ(d.ComPortInBufSize(), 2048);
    EXPECT_EQ(d.ComPortOutBufSize(), 2048);
    EXPECT_EQ(d.ComPortPollingDelay(), 50);
    EXPECT_TRUE(d.EnableDTROnOpen());
    EXPECT_EQ(d.OutputTimeout(), 4000);
    EXPECT_FALSE(d.OnReceiveData());
    EXPECT_EQ(d.ReceiveTimerPeriod(), 0);
    EXPECT_EQ(d.InputQueueCount(), 0);
}

TEST(CommPortDriverProperties, PortNamesAndDeviceMapping) {
    const struct {
        TComPortNumber port;
        const char* name;
        const char* device;
    } cases[] = {
        {TComPortNumber::pnCOM1, "COM1", "/dev/ttyS0"},
        {TComPortNumber::pnCOM2, "COM2", "/dev/ttyS1"},
        {TComPortNumber::pnCOM3, "COM3", "/dev/ttyS2"},
        {TComPortNumber::pnCOM4, "COM4", "/dev/ttyS3"},
    };
    TCommPortDriver d;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ComPortName(c.port), c.name);
        EXPECT_EQ(d.PortDeviceName(c.port), c.device);
    }
    d.SetPortDeviceName(TComPortNumber::pnCOM1, "/dev/ttyUSB0");
    EXPECT_EQ(d.PortDeviceName(TComPortNumber::pnCOM1), "/dev/ttyUSB0");
    EXPECT_EQ(d.PortDeviceName(TComPortNumber::pnCOM2), "/dev/ttyS1");  // the others keep theirs
    d.SetPortDeviceName(TComPortNumber::pnCOM1, "");
    EXPECT_EQ(d.PortDeviceName(TComPortNumber::pnCOM1), "/dev/ttyS0");
}

TEST(CommPortDriverProperties, SizesAndPortFollowTheirOpenClosedRules) {
    TCommPortDriver d;
    // While closed: the port and the input size are taken, the output size is not.
    d.SetComPort(TComPortNumber::pnCOM4);
    d.SetComPortInBufSize(100);
    d.SetComPortOutBufSize(100);
    EXPECT_EQ(d.ComPort(), TComPortNumber::pnCOM4);
    EXPECT_EQ(d.ComPortInBufSize(), 100);
    EXPECT_EQ(d.ComPortOutBufSize(), 2048);
    // A polling delay is stored while closed, but no poll starts.
    d.SetComPortPollingDelay(20);
    EXPECT_EQ(d.ComPortPollingDelay(), 20);
    EXPECT_EQ(d.ReceiveTimerPeriod(), 0);
}

TEST_F(CommPortTest, WhileOpenPortAndInputSizeAreIgnoredOutputSizeIsTaken) {
    Pty other;
    ASSERT_TRUE(other.ok());
    port_.SetPortDeviceName(TComPortNumber::pnCOM2, other.slave());
    port_.SetComPortPollingDelay(5);
    ASSERT_TRUE(port_.OpenPort());

    port_.SetComPort(TComPortNumber::pnCOM2);
    port_.SetComPortInBufSize(16);
    port_.SetComPortOutBufSize(512);
    EXPECT_EQ(port_.ComPort(), TComPortNumber::pnCOM1);
    EXPECT_EQ(port_.ComPortInBufSize(), 2048);
    EXPECT_EQ(port_.ComPortOutBufSize(), 512);

    // The port stays where it is: bytes of the other line do not arrive, bytes of COM1 do.
    ASSERT_GT(other.Write(ToBytes("other")), 0);
    const Bytes own = ToBytes("own line");
    ASSERT_EQ(pty_.Write(own), ssize_t(own.size()));
    ASSERT_TRUE(PumpUntil([&] { return rx_.Total() >= own.size(); }));
    PumpFor(30);
    EXPECT_EQ(rx_.All(), own);

    // Closed, the change is taken and the next open uses the other line.
    port_.ClosePort();
    port_.SetComPort(TComPortNumber::pnCOM2);
    EXPECT_EQ(port_.ComPort(), TComPortNumber::pnCOM2);
    ASSERT_TRUE(port_.OpenPort());
    rx_.chunks.clear();
    const Bytes second = ToBytes("second line");
    ASSERT_EQ(other.Write(second), ssize_t(second.size()));
    ASSERT_TRUE(PumpUntil([&] { return rx_.Total() >= second.size(); }));
    EXPECT_EQ(rx_.All(), second);
}

// ---- opening and closing ----

TEST_F(CommPortTest, OpenTwiceLeavesOneOpenPortAndCloseReleasesIt) {
    ASSERT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
    ASSERT_TRUE(port_.OpenPort());
    EXPECT_TRUE(port_.IsOpen());
    EXPECT_TRUE(port_.LastError().empty());
    EXPECT_TRUE(port_.OpenPort());
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 1);
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 50);

    port_.ClosePort();
    EXPECT_FALSE(port_.IsOpen());
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 0);
    port_.ClosePort();  // closing a closed port does nothing
    EXPECT_FALSE(port_.IsOpen());
}

TEST_F(CommPortTest, DestroyingAnOpenDriverClosesItsPort) {
    {
        TCommPortDriver d;
        d.SetPortDeviceName(TComPortNumber::pnCOM2, pty_.slave());
        ASSERT_TRUE(d.OpenPort());
        ASSERT_EQ(OpenDescriptorsOf(pty_.slave()), 1);
    }
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
}

TEST_F(CommPortTest, APortHeldByAnotherDriverIsRefused) {
    ASSERT_TRUE(port_.OpenPort());
    TCommPortDriver second;
    second.SetPortDeviceName(TComPortNumber::pnCOM2, pty_.slave());
    EXPECT_FALSE(second.OpenPort());
    EXPECT_FALSE(second.IsOpen());
    EXPECT_NE(second.LastError().find(pty_.slave()), std::string::npos) << second.LastError();
    EXPECT_NE(second.LastError().find("in use"), std::string::npos) << second.LastError();
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 1);
    // The first driver keeps receiving.
    port_.SetComPortPollingDelay(5);
    ASSERT_GT(pty_.Write(ToBytes("x")), 0);
    EXPECT_TRUE(PumpUntil([&] { return rx_.Total() == 1; }));
}

TEST(CommPortDriverOpen, PortsThatCannotBeOpenedGiveFalseAndTheSystemReason) {
    const struct {
        const char* path;
        int error;
    } cases[] = {
        {"/dev/ms42k-no-such-port", ENOENT},
        {"/dev/null", ENOTTY},  // opens, but is no serial line
        {"/", EISDIR},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        TCommPortDriver d;
        d.SetPortDeviceName(TComPortNumber::pnCOM2, c.path);
        EXPECT_FALSE(d.OpenPort());
        EXPECT_FALSE(d.IsOpen());
        EXPECT_EQ(d.ReceiveTimerPeriod(), 0);
        EXPECT_EQ(d.LastError(), std::string(c.path) + ": " + std::strerror(c.error));
        d.ReceiveTick();  // a tick on a port that failed to open reads nothing
        EXPECT_EQ(d.InputQueueCount(), 0);
    }
}

// ---- line settings ----

TEST_F(CommPortTest, EverySpeedIsAppliedAtOpenAndAtOnceWhileOpen) {
    using enum TComPortBaudRate;
    const TComPortBaudRate speeds[] = {br110,   br300,   br600,   br1200,  br2400,  br4800,  br9600,
                                       br14400, br19200, br38400, br56000, br57600, br115200};
    const uint32_t rates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
    static_assert(std::size(speeds) == std::size(rates));
    for (size_t i = 0; i < std::size(speeds); ++i) {
        SCOPED_TRACE(rates[i]);
        EXPECT_EQ(BaudRateValue(speeds[i]), rates[i]);
        // At open.
        port_.SetComPortSpeed(speeds[i]);
        ASSERT_TRUE(port_.OpenPort());
        EXPECT_EQ(commport_detail::PortBaudRate(pty_.master()), rates[i]);
        port_.ClosePort();
        // While open, from another speed.
        port_.SetComPortSpeed(speeds[(i + 1) % std::size(speeds)]);
        ASSERT_TRUE(port_.OpenPort());
        port_.SetComPortSpeed(speeds[i]);
        EXPECT_EQ(commport_detail::PortBaudRate(pty_.master()), rates[i]);
        port_.ClosePort();
    }
}

struct LineCase {
    const char* name;
    TComPortDataBits bits;
    TComPortStopBits stop;
    TComPortParity parity;
    TComPortHwHandshaking hw;
    TComPortSwHandshaking sw;
    tcflag_t size;
    tcflag_t parityFlags;  // of PARENB | PARODD | CMSPAR
    bool twoStop;
    bool rtscts;
    bool xonxoff;
};

const LineCase kLineCases[] = {
    {"8N1", TComPortDataBits::db8BITS, TComPortStopBits::sb1BITS, TComPortParity::ptNONE, TComPortHwHandshaking::hhNONE,
     TComPortSwHandshaking::shNONE, CS8, 0, false, false, false},
    {"7E1", TComPortDataBits::db7BITS, TComPortStopBits::sb1BITS, TComPortParity::ptEVEN, TComPortHwHandshaking::hhNONE,
     TComPortSwHandshaking::shNONE, CS7, PARENB, false, false, false},
    {"7O2", TComPortDataBits::db7BITS, TComPortStopBits::sb2BITS, TComPortParity::ptODD, TComPortHwHandshaking::hhNONE,
     TComPortSwHandshaking::shNONE, CS7, PARENB | PARODD, true, false, false},
    {"6M1", TComPortDataBits::db6BITS, TComPortStopBits::sb1BITS, TComPortParity::ptMARK, TComPortHwHandshaking::hhNONE,
     TComPortSwHandshaking::shNONE, CS6, PARENB | PARODD | CMSPAR, false, false, false},
    {"5S1.5", TComPortDataBits::db5BITS, TComPortStopBits::sb1HALFBITS, TComPortParity::ptSPACE,
     TComPortHwHandshaking::hhNONE, TComPortSwHandshaking::shNONE, CS5, PARENB | CMSPAR, true, false, false},
    {"8N1 RTS/CTS", TComPortDataBits::db8BITS, TComPortStopBits::sb1BITS, TComPortParity::ptNONE,
     TComPortHwHandshaking::hhRTSCTS, TComPortSwHandshaking::shNONE, CS8, 0, false, true, false},
    {"8N1 XON/XOFF", TComPortDataBits::db8BITS, TComPortStopBits::sb1BITS, TComPortParity::ptNONE,
     TComPortHwHandshaking::hhNONE, TComPortSwHandshaking::shXONXOFF, CS8, 0, false, false, true},
};

void SetLine(TCommPortDriver& d, const LineCase& c) {
    d.SetComPortDataBits(c.bits);
    d.SetComPortStopBits(c.stop);
    d.SetComPortParity(c.parity);
    d.SetComPortHwHandshaking(c.hw);
    d.SetComPortSwHandshaking(c.sw);
}

// What every setting shares: receiver on, modem status ignored, binary, no parity checking,
// reads at once, XON/XOFF characters.
void ExpectCommonSettings(const termios& t) {
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    EXPECT_EQ(t.c_iflag & (INPCK | ISTRIP | ICRNL | INLCR | IGNCR), tcflag_t(0));
    EXPECT_EQ(t.c_oflag & OPOST, tcflag_t(0));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

// The parts of a setting a pseudo-terminal keeps (it always runs 8 bits without parity).
void ExpectKeptByTerminal(const termios& t, const LineCase& c) {
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR), c.parityFlags & (PARODD | CMSPAR));
    EXPECT_EQ((t.c_cflag & CSTOPB) != 0, c.twoStop);
    EXPECT_EQ((t.c_cflag & CRTSCTS) != 0, c.rtscts);
    EXPECT_EQ((t.c_iflag & IXON) != 0, c.xonxoff);
    EXPECT_EQ((t.c_iflag & IXOFF) != 0, c.xonxoff);
    ExpectCommonSettings(t);
}

TEST(CommPortLineSettings, SettingsComposeTheTerminalDescription) {
    for (const LineCase& c : kLineCases) {
        SCOPED_TRACE(c.name);
        TCommPortDriver d;
        SetLine(d, c);
        d.SetComPortSpeed(TComPortBaudRate::br2400);
        termios t{};
        // Start from a description full of settings that must not survive.
        std::memset(&t, 0xFF, sizeof t);
        EXPECT_FALSE(commport_detail::ComposeLineSettings(t, d));
        EXPECT_EQ(t.c_cflag & CSIZE, c.size);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), c.parityFlags);
        ExpectKeptByTerminal(t, c);
        EXPECT_EQ(cfgetospeed(&t), speed_t(B2400));
        EXPECT_EQ(cfgetispeed(&t), speed_t(B2400));
    }
}

TEST(CommPortLineSettings, SpeedsWithoutATermiosCodeAreMarkedForSeparateSetting) {
    const struct {
        TComPortBaudRate speed;
        bool separate;
    } cases[] = {{TComPortBaudRate::br14400, true},
                 {TComPortBaudRate::br56000, true},
                 {TComPortBaudRate::br110, false},
                 {TComPortBaudRate::br1200, false},
                 {TComPortBaudRate::br115200, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(BaudRateValue(c.speed));
        TCommPortDriver d;
        d.SetComPortSpeed(c.speed);
        termios t{};
        EXPECT_EQ(commport_detail::ComposeLineSettings(t, d), c.separate);
    }
}

TEST_F(CommPortTest, LineSettingsReachTheTerminal) {
    for (const LineCase& c : kLineCases) {
        SCOPED_TRACE(c.name);
        // Set while closed, applied at open.
        SetLine(port_, c);
        ASSERT_TRUE(port_.OpenPort());
        ExpectKeptByTerminal(pty_.Settings(), c);
        port_.ClosePort();
    }
    // Set while open, each applied at once.
    ASSERT_TRUE(port_.OpenPort());
    for (const LineCase& c : kLineCases) {
        SCOPED_TRACE(std::string("while open: ") + c.name);
        SetLine(port_, c);
        ExpectKeptByTerminal(pty_.Settings(), c);
    }
}

// ---- receiving ----

TEST_F(CommPortTest, BytesArriveInOrderThroughThePoll) {
    port_.SetComPortPollingDelay(5);
    ASSERT_TRUE(port_.OpenPort());
    Bytes sent;
    for (int burst = 0; burst < 5; ++burst) {
        Bytes b;
        for (int i = 0; i < 300; ++i) b.push_back(uint8_t((burst * 300 + i) * 7));
        ASSERT_EQ(pty_.Write(b), ssize_t(b.size()));
        sent.insert(sent.end(), b.begin(), b.end());
        PumpFor(3);
    }
    ASSERT_TRUE(PumpUntil([&] { return rx_.Total() >= sent.size(); }));
    EXPECT_EQ(rx_.All(), sent);
    for (size_t i = 0; i < rx_.chunks.size(); ++i) {
        EXPECT_FALSE(rx_.chunks[i].empty()) << "call " << i << " without bytes";
        EXPECT_LE(rx_.chunks[i].size(), 2048u);
        EXPECT_EQ(rx_.senders[i], &port_);
    }
}

TEST_F(CommPortTest, OneCallCarriesAtMostTheInputSize) {
    const struct {
        uint16_t inBufSize;
        size_t written;
    } cases[] = {{1, 5}, {16, 100}, {64, 64}, {2048, 700}, {100, 1000}};
    port_.SetComPortPollingDelay(60000);  // only the test's own ticks read
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.inBufSize) + " / " + std::to_string(c.written));
        rx_.chunks.clear();
        port_.SetComPortInBufSize(c.inBufSize);
        ASSERT_TRUE(port_.OpenPort());
        Bytes sent;
        for (size_t i = 0; i < c.written; ++i) sent.push_back(uint8_t(i * 13 + c.inBufSize));
        ASSERT_EQ(pty_.Write(sent), ssize_t(sent.size()));
        ASSERT_TRUE(WaitQueued(int32_t(sent.size())));
        DrainByTicks();
        EXPECT_EQ(rx_.All(), sent);
        // Full calls while bytes wait beyond the buffer; the rest waits for the next tick.
        const size_t full = c.written / c.inBufSize;
        const size_t rest = c.written % c.inBufSize;
        ASSERT_EQ(rx_.chunks.size(), full + (rest ? 1 : 0));
        for (size_t i = 0; i < full; ++i) EXPECT_EQ(rx_.chunks[i].size(), c.inBufSize);
        if (rest) {
            EXPECT_EQ(rx_.chunks.back().size(), rest);
        }
        port_.ClosePort();
    }
}

TEST_F(CommPortTest, NoCallWithoutBytes) {
    port_.SetComPortPollingDelay(2);
    ASSERT_TRUE(port_.OpenPort());
    for (int i = 0; i < 20; ++i) port_.ReceiveTick();
    PumpFor(60);
    EXPECT_TRUE(rx_.chunks.empty());
    // Bytes then arrive by the same poll.
    ASSERT_GT(pty_.Write(ToBytes("Z")), 0);
    ASSERT_TRUE(PumpUntil([&] { return rx_.Total() == 1; }));
    PumpFor(30);
    EXPECT_EQ(rx_.chunks.size(), 1u);
}

TEST_F(CommPortTest, BytesAreReadAndDroppedWithoutAHandler) {
    port_.SetOnReceiveData(nullptr);
    port_.SetComPortPollingDelay(60000);
    ASSERT_TRUE(port_.OpenPort());
    ASSERT_GT(pty_.Write(ToBytes("lost")), 0);
    ASSERT_TRUE(WaitQueued(4));
    port_.ReceiveTick();
    EXPECT_EQ(port_.InputQueueCount(), 0);
}

TEST_F(CommPortTest, ChangingALineSettingWhileOpenDropsWaitingBytes) {
    const struct {
        const char* name;
        std::function<void(TCommPortDriver&)> change;
    } cases[] = {
        {"speed", [](TCommPortDriver& d) { d.SetComPortSpeed(TComPortBaudRate::br4800); }},
        {"same speed again", [](TCommPortDriver& d) { d.SetComPortSpeed(d.ComPortSpeed()); }},
        {"data bits", [](TCommPortDriver& d) { d.SetComPortDataBits(TComPortDataBits::db7BITS); }},
        {"stop bits", [](TCommPortDriver& d) { d.SetComPortStopBits(TComPortStopBits::sb2BITS); }},
        {"parity", [](TCommPortDriver& d) { d.SetComPortParity(TComPortParity::ptEVEN); }},
        {"hardware handshaking",
         [](TCommPortDriver& d) { d.SetComPortHwHandshaking(TComPortHwHandshaking::hhRTSCTS); }},
        {"software handshaking",
         [](TCommPortDriver& d) { d.SetComPortSwHandshaking(TComPortSwHandshaking::shXONXOFF); }},
        {"ApplyLineSettings", [](TCommPortDriver& d) { d.ApplyLineSettings(); }},
        {"PurgeBuffers input", [](TCommPortDriver& d) { d.PurgeBuffers(true, false); }},
    };
    port_.SetComPortPollingDelay(60000);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        rx_.chunks.clear();
        ASSERT_TRUE(port_.OpenPort());
        ASSERT_EQ(pty_.Write(ToBytes("old bytes")), 9);
        ASSERT_TRUE(WaitQueued(9));
        c.change(port_);
        EXPECT_EQ(port_.InputQueueCount(), 0);
        port_.ReceiveTick();
        EXPECT_TRUE(rx_.chunks.empty());
        // Reception goes on with the bytes that come after.
        ASSERT_EQ(pty_.Write(ToBytes("new")), 3);
        ASSERT_TRUE(WaitQueued(3));
        port_.ReceiveTick();
        EXPECT_EQ(rx_.All(), ToBytes("new"));
        port_.ClosePort();
        port_.SetComPortSpeed(TComPortBaudRate::br9600);
        port_.SetComPortDataBits(TComPortDataBits::db8BITS);
        port_.SetComPortStopBits(TComPortStopBits::sb1BITS);
        port_.SetComPortParity(TComPortParity::ptNONE);
        port_.SetComPortHwHandshaking(TComPortHwHandshaking::hhNONE);
        port_.SetComPortSwHandshaking(TComPortSwHandshaking::shNONE);
    }
}

TEST_F(CommPortTest, PurgingOnlyTheOutputKeepsWaitingInput) {
    port_.SetComPortPollingDelay(60000);
    ASSERT_TRUE(port_.OpenPort());
    ASSERT_EQ(pty_.Write(ToBytes("kept")), 4);
    ASSERT_TRUE(WaitQueued(4));
    port_.PurgeBuffers(false, true);
    port_.ReceiveTick();
    EXPECT_EQ(rx_.All(), ToBytes("kept"));
}

TEST_F(CommPortTest, CloseStopsDelivery) {
    port_.SetComPortPollingDelay(2);
    ASSERT_TRUE(port_.OpenPort());
    ASSERT_GT(pty_.Write(ToBytes("before")), 0);
    ASSERT_TRUE(PumpUntil([&] { return rx_.Total() == 6; }));
    port_.ClosePort();
    rx_.chunks.clear();
    (void)pty_.Write(ToBytes("after"));  // may fail once the slave side is closed
    port_.ReceiveTick();
    PumpFor(40);
    EXPECT_TRUE(rx_.chunks.empty());
}

TEST_F(CommPortTest, PollingDelayRestartsTheRunningPoll) {
    port_.SetComPortPollingDelay(30);
    ASSERT_TRUE(port_.OpenPort());
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 30);
    port_.SetComPortPollingDelay(30);
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 30);
    port_.SetComPortPollingDelay(7);
    EXPECT_EQ(port_.ComPortPollingDelay(), 7);
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 7);
    // The restarted poll delivers.
    ASSERT_GT(pty_.Write(ToBytes("tick")), 0);
    EXPECT_TRUE(PumpUntil([&] { return rx_.Total() == 4; }));
    // A delay of 0 polls as fast as the timer allows, without stopping.
    port_.SetComPortPollingDelay(0);
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 1);
    port_.ClosePort();
    EXPECT_EQ(port_.ReceiveTimerPeriod(), 0);
}

TEST_F(CommPortTest, ATickInsideTheHandlerLeavesTheBytesBeingHandledAlone) {
    port_.SetComPortInBufSize(4);
    port_.SetComPortPollingDelay(60000);
    std::vector<Bytes> seen;
    std::vector<Bytes> afterNestedTick;
    port_.SetOnReceiveData([&](TCommPortDriver* sender, const uint8_t* data, int32_t size) {
        seen.emplace_back(data, data + size);
        sender->ReceiveTick();  // as a nested event loop (a modal box) would
        afterNestedTick.emplace_back(data, data + size);
    });
    ASSERT_TRUE(port_.OpenPort());
    ASSERT_EQ(pty_.Write(ToBytes("ABCDEFGH")), 8);
    ASSERT_TRUE(WaitQueued(8));
    port_.ReceiveTick();
    port_.ReceiveTick();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], ToBytes("ABCD"));
    EXPECT_EQ(seen[1], ToBytes("EFGH"));
    EXPECT_EQ(afterNestedTick, seen);
}

TEST_F(CommPortTest, AHandlerThatThrowsDoesNotStopLaterTicks) {
    port_.SetComPortInBufSize(2);
    port_.SetComPortPollingDelay(60000);
    int calls = 0;
    port_.SetOnReceiveData([&](TCommPortDriver*, const uint8_t*, int32_t) {
        ++calls;
        throw std::runtime_error("bad frame");
    });
    ASSERT_TRUE(port_.OpenPort());
    ASSERT_EQ(pty_.Write(ToBytes("abcd")), 4);
    ASSERT_TRUE(WaitQueued(4));
    EXPECT_THROW(port_.ReceiveTick(), std::runtime_error);
    EXPECT_THROW(port_.ReceiveTick(), std::runtime_error);
    EXPECT_EQ(calls, 2);
}

TEST_F(CommPortTest, TheReceivePathAllocatesNothing) {
    std::array<uint8_t, 4096> store{};
    size_t stored = 0;
    port_.SetOnReceiveData([&](TCommPortDriver*, const uint8_t* data, int32_t size) {
        for (int32_t i = 0; i < size && stored < store.size(); ++i) store[stored++] = data[i];
    });
    port_.SetComPortInBufSize(64);
    port_.SetComPortPollingDelay(60000);
    ASSERT_TRUE(port_.OpenPort());
    Bytes sent(1000);
    for (size_t i = 0; i < sent.size(); ++i) sent[i] = uint8_t(i);
    ASSERT_EQ(pty_.Write(sent), ssize_t(sent.size()));
    ASSERT_TRUE(WaitQueued(int32_t(sent.size())));

    const long before = g_allocations.load();
    for (int i = 0; i < 40; ++i) port_.ReceiveTick();  // 16 full ticks, then idle ones
    const long after = g_allocations.load();
    EXPECT_EQ(after - before, 0);
    ASSERT_EQ(stored, sent.size());
    EXPECT_TRUE(std::equal(sent.begin(), sent.end(), store.begin()));
}

}  // namespace
