// The serial meter link as the window runs it: COMM2's settings, the controls that open and
// close the port, the speed stepping, and the receive handler H42RData, with a
// pseudo-terminal standing in for COM1.
#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/tfcomm.h"
#include "window_test_support.h"
#include "app/widgets.h"
#include "link/commport.h"
#include "link/test_commport_pty.h"

namespace {

using testpty::Bytes;
using testpty::OpenDescriptorsOf;
using testpty::Pty;
using testpty::PumpUntil;
using testpty::ToBytes;

// Eleven bytes: first byte with low digit A, nine data bytes, carriage return.
const Bytes kFrameLine = {0x3A, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x0D};
const char* const kFrameLineText = "123456789DA";

Bytes Join(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

// A window started in a folder holding a fresh record table, with the interactive hooks
// replaced, COM1 mapped to a pseudo-terminal and the serial decoder watched.
class SerialWindowTest : public WindowTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok()) << "no pseudo-terminal available";
        WindowTest::SetUp();
        if (HasFatalFailure()) return;
        EnterFolder();
    }

    // Starts the window with COM1 at the given device (the pseudo-terminal by default).
    TFCOMM& Start(std::string com1 = {}) {
        AppOptions options;
        options.com1Path = com1.empty() ? pty_.slave() : com1;
        StartWindow(options);
        window_->SerialDecoder = [this] { decodedFrames_.push_back(window_->State.FrameHex); };
        return *window_;
    }
    TFCOMM& w() { return *window_; }

    void Feed(const Bytes& bytes) { w().H42RData(bytes.data(), uint32_t(bytes.size())); }
    QString LastLog() const {
        const int n = Control<QListWidget>(*window_, "HistoryListBox")->count();
        return n ? Control<QListWidget>(*window_, "HistoryListBox")->item(n - 1)->text() : QString();
    }

    Pty pty_;
    QuietUi ui_;  // every dialog recorded instead of shown
    std::vector<QString>& messages_ = ui_.messages;
    std::vector<QString>& errors_ = ui_.errors;
    std::vector<std::string> decodedFrames_;
};

// What the controls show: the serial port open (true) or closed (false).
void ExpectOpenLook(TFCOMM& w, bool open) {
    EXPECT_EQ(Control<QAction>(w, "START1")->isChecked(), open);
    EXPECT_EQ(Control<QAction>(w, "START1")->isEnabled(), !open);
    EXPECT_EQ(Control<QAction>(w, "STOP1")->isEnabled(), open);
    EXPECT_EQ(Control<PanelLabel>(w, "BTCon")->isHidden(), open);
    EXPECT_EQ(Control<PanelLabel>(w, "BtDiscon")->isHidden(), !open);
    for (PanelLabel* p : {Control<PanelLabel>(w, "BtCOM1"), Control<PanelLabel>(w, "BtCOM2"),
                          Control<PanelLabel>(w, "BtCOM3"), Control<PanelLabel>(w, "BtCOM4")})
        EXPECT_EQ(p->isEnabled(), !open);
}

// What the controls show before the serial port was ever opened or closed.
void ExpectStartLook(TFCOMM& w) {
    EXPECT_FALSE(Control<PanelLabel>(w, "BTCon")->isHidden());
    EXPECT_TRUE(Control<PanelLabel>(w, "BtDiscon")->isHidden());
    EXPECT_FALSE(Control<QAction>(w, "START1")->isChecked());
    EXPECT_TRUE(Control<QAction>(w, "START1")->isEnabled());
    EXPECT_FALSE(Control<QAction>(w, "STOP1")->isChecked());
    EXPECT_TRUE(Control<QAction>(w, "STOP1")->isEnabled());
    for (PanelLabel* p : {Control<PanelLabel>(w, "BtCOM1"), Control<PanelLabel>(w, "BtCOM2"),
                          Control<PanelLabel>(w, "BtCOM3"), Control<PanelLabel>(w, "BtCOM4")})
        EXPECT_TRUE(p->isEnabled());
}

// ---- COMM2 at start ----

TEST_F(SerialWindowTest, PortSettingsAtStart) {
    TFCOMM& win = Start();
    const TCommPortDriver& p = *win.COMM2;
    EXPECT_FALSE(p.IsOpen());
    EXPECT_EQ(p.ComPort(), TComPortNumber::pnCOM1);
    EXPECT_EQ(p.ComPortSpeed(), TComPortBaudRate::br2400);
    EXPECT_EQ(p.ComPortDataBits(), TComPortDataBits::db8BITS);
    EXPECT_EQ(p.ComPortStopBits(), TComPortStopBits::sb1BITS);
    EXPECT_EQ(p.ComPortParity(), TComPortParity::ptNONE);
    EXPECT_EQ(p.ComPortHwHandshaking(), TComPortHwHandshaking::hhNONE);
    EXPECT_EQ(p.ComPortSwHandshaking(), TComPortSwHandshaking::shNONE);
    EXPECT_TRUE(p.EnableDTROnOpen());
    EXPECT_EQ(p.ComPortInBufSize(), 2048);
    EXPECT_EQ(p.ComPortOutBufSize(), 2048);
    EXPECT_EQ(p.ComPortPollingDelay(), 50);
    EXPECT_TRUE(p.OnReceiveData()) << "the start-up binds the receive handler";
    EXPECT_TRUE(win.State.SerialLoText.empty());
    EXPECT_TRUE(win.State.SerialLine.empty());
    ExpectStartLook(win);
}

TEST_F(SerialWindowTest, Com1DeviceFromOptionEnvironmentOrSystem) {
    const struct {
        const char* name;
        const char* option;
        const char* env;  // nullptr: not set
        const char* device;
    } cases[] = {
        {"option", "/dev/ttyUSB0", nullptr, "/dev/ttyUSB0"},
        {"option before environment", "/dev/ttyUSB0", "/dev/ttyACM0", "/dev/ttyUSB0"},
        {"environment", "", "/dev/ttyACM0", "/dev/ttyACM0"},
        {"empty environment", "", "", "/dev/ttyS0"},
        {"system default", "", nullptr, "/dev/ttyS0"},
    };
    const char* saved = std::getenv("MS42K_COM1");
    const std::string savedValue = saved ? saved : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.env)
            setenv("MS42K_COM1", c.env, 1);
        else
            unsetenv("MS42K_COM1");
        AppOptions options;
        options.com1Path = c.option;
        TFCOMM win(options);
        EXPECT_EQ(win.SerialCom1Device(), c.device);
        EXPECT_EQ(win.COMM2->PortDeviceName(TComPortNumber::pnCOM1), c.device);
    }
    if (saved)
        setenv("MS42K_COM1", savedValue.c_str(), 1);
    else
        unsetenv("MS42K_COM1");
}

// ---- opening and closing ----

TEST_F(SerialWindowTest, OpenAndCloseByEveryControl) {
    TFCOMM& win = Start();
    const struct {
        const char* name;
        std::function<void()> open;
        std::function<void()> close;
    } cases[] = {
        {"Connect / Disconnect panels", [&] { QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton); },
         [&] { QTest::mouseClick(Control<PanelLabel>(win, "BtDiscon"), Qt::LeftButton); }},
        {"Connect panel / STOP menu item",
         [&] { QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton); },
         [&] { Control<QAction>(win, "STOP1")->trigger(); }},
        {"MS22G COM down / up", [&] { QTest::mouseClick(Control<QToolButton>(win, "COMCon"), Qt::LeftButton); },
         [&] { QTest::mouseClick(Control<QToolButton>(win, "COMCon"), Qt::LeftButton); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        c.open();
        EXPECT_TRUE(win.COMM2->IsOpen());
        EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 1);
        ExpectOpenLook(win, true);
        EXPECT_FALSE(Control<QAction>(win, "STOP1")->isChecked());

        c.close();
        EXPECT_FALSE(win.COMM2->IsOpen());
        EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
        ExpectOpenLook(win, false);
        EXPECT_TRUE(Control<QAction>(win, "STOP1")->isChecked());
    }
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(errors_.empty());
}

TEST_F(SerialWindowTest, OpeningTwiceLeavesOneOpenPort) {
    TFCOMM& win = Start();
    QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton);
    const int logged = Control<QListWidget>(win, "HistoryListBox")->count();
    win.Button3Click();
    win.BTCon1Click();
    EXPECT_TRUE(win.COMM2->IsOpen());
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 1);
    EXPECT_EQ(Control<QListWidget>(win, "HistoryListBox")->count(), logged)
        << "a port already open is not reported again";
    // One close closes it.
    win.BtDiscon1Click();
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
    // Closing again does nothing.
    win.BtDiscon1Click();
    EXPECT_FALSE(win.COMM2->IsOpen());
    ExpectOpenLook(win, false);
}

TEST_F(SerialWindowTest, MS42KComBindsAndOpensWithoutTouchingTheControls) {
    TFCOMM& win = Start();
    win.COMM2->SetOnReceiveData(nullptr);
    Control<QPushButton>(win, "Button3")->click();
    EXPECT_TRUE(win.COMM2->IsOpen());
    EXPECT_TRUE(win.COMM2->OnReceiveData());
    ExpectStartLook(win);
    // Bytes reach H42RData.
    ASSERT_EQ(pty_.Write(kFrameLine), ssize_t(kFrameLine.size()));
    ASSERT_TRUE(PumpUntil([&] { return decodedFrames_.size() == 1; }));
    EXPECT_EQ(Control<QLabel>(win, "USBtxt")->text(), QString::fromLatin1(kFrameLineText));
}

// A port that vanishes while open (here: the pseudo-terminal's far side closes, reads fail
// with EIO and the line hangs up) is told with one log line; the port stays open and the
// poll goes on.
TEST_F(SerialWindowTest, AVanishedPortIsLoggedOnce) {
    auto gone = std::make_unique<Pty>();
    ASSERT_TRUE(gone->ok());
    TFCOMM& win = Start(gone->slave());
    win.BTCon1Click();
    ASSERT_TRUE(win.COMM2->IsOpen());
    ASSERT_EQ(gone->Write(kFrameLine), ssize_t(kFrameLine.size()));
    ASSERT_TRUE(PumpUntil([&] { return decodedFrames_.size() == 1; }));
    auto lostLines = [&] {
        int n = 0;
        for (int i = 0; i < Control<QListWidget>(win, "HistoryListBox")->count(); ++i)
            if (Control<QListWidget>(win, "HistoryListBox")->item(i)->text().contains(QStringLiteral(" lost: "))) ++n;
        return n;
    };
    EXPECT_EQ(lostLines(), 0);
    gone.reset();  // the far side closes
    ASSERT_TRUE(PumpUntil([&] { return lostLines() > 0; }));
    for (int i = 0; i < 20; ++i) win.COMM2->ReceiveTick();
    EXPECT_EQ(lostLines(), 1);
    EXPECT_TRUE(LastLog().startsWith(QStringLiteral("Serial port COM1 ("))) << LastLog().toStdString();
    EXPECT_TRUE(LastLog().contains(QStringLiteral(" lost: "))) << LastLog().toStdString();
    EXPECT_TRUE(win.COMM2->IsOpen());
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SerialWindowTest, StartDoesNotOpenTheSerialPort) {
    TFCOMM& win = Start();
    Control<QAction>(win, "START1")->trigger();
    EXPECT_FALSE(win.COMM2->IsOpen());
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
}

TEST_F(SerialWindowTest, APortThatCannotBeOpenedIsLoggedWithTheReasonButNotShown) {
    const std::string missing = "/dev/ms42k-no-such-port";
    TFCOMM& win = Start(missing);
    QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton);
    EXPECT_FALSE(win.COMM2->IsOpen());
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(errors_.empty());
    ExpectOpenLook(win, true);  // the controls switch to the open look all the same
    const QString log = LastLog();
    EXPECT_TRUE(log.contains(QStringLiteral("COM1"))) << log.toStdString();
    EXPECT_TRUE(log.contains(QString::fromStdString(missing))) << log.toStdString();
    EXPECT_TRUE(log.contains(QString::fromLocal8Bit(std::strerror(ENOENT)))) << log.toStdString();
    // Closing it again logs nothing and restores the look.
    const int logged = Control<QListWidget>(win, "HistoryListBox")->count();
    QTest::mouseClick(Control<PanelLabel>(win, "BtDiscon"), Qt::LeftButton);
    EXPECT_EQ(Control<QListWidget>(win, "HistoryListBox")->count(), logged);
    ExpectOpenLook(win, false);
}

TEST_F(SerialWindowTest, OpeningAndClosingAreLogged) {
    TFCOMM& win = Start();
    QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton);
    QString log = LastLog();
    EXPECT_TRUE(log.contains(QStringLiteral("COM1")) && log.contains(QString::fromStdString(pty_.slave())) &&
                log.contains(QStringLiteral("2400")))
        << log.toStdString();
    QTest::mouseClick(Control<PanelLabel>(win, "BtDiscon"), Qt::LeftButton);
    EXPECT_NE(LastLog(), log);
    EXPECT_TRUE(LastLog().contains(QStringLiteral("COM1"))) << LastLog().toStdString();
}

TEST_F(SerialWindowTest, ClosingTheWindowClosesThePort) {
    TFCOMM& win = Start();
    win.BTCon1Click();
    ASSERT_EQ(OpenDescriptorsOf(pty_.slave()), 1);
    window_.reset();
    EXPECT_EQ(OpenDescriptorsOf(pty_.slave()), 0);
}

// ---- receiving ----

TEST_F(SerialWindowTest, ReceivedLinesOverThePort) {
    TFCOMM& win = Start();
    win.State.FrameHex = "5A00";
    QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton);
    // Two frame lines and a short line between them, written as the meter sends them.
    ASSERT_GT(pty_.Write(Join({kFrameLine, ToBytes("12\r"), kFrameLine})), 0);
    ASSERT_TRUE(PumpUntil([&] { return decodedFrames_.size() == 2; }));
    EXPECT_EQ(decodedFrames_, (std::vector<std::string>{"5A00", "5A00"}));
    EXPECT_EQ(Control<QLabel>(win, "USBtxt")->text(), QString::fromLatin1(kFrameLineText));
    EXPECT_EQ(win.State.FrameHex, "5A00") << "the serial path never writes the frame text";
}

TEST_F(SerialWindowTest, ReceiveHandlerTable) {
    const struct {
        const char* name;
        std::vector<Bytes> calls;  // one H42RData call each
        size_t decoded;
        const char* usbText;
        const char* serialLine;
        const char* loText;
    } cases[] = {
        {"one frame line", {kFrameLine}, 1, kFrameLineText, kFrameLineText, ""},
        {"first byte not A",
         {{0x3B, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x0D}},
         0,
         kFrameLineText,
         kFrameLineText,
         ""},
        {"ten-byte line",
         {{0x3A, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x0D}},
         0,
         "12345678DDA",
         "12345678DDA",
         ""},
        {"bytes without carriage return", {ToBytes("A1B")}, 0, "112", "", "112"},
        {"frame line, then more bytes", {Join({kFrameLine, ToBytes("\x4A\x45")})}, 1, "A5", kFrameLineText, "A5"},
        {"frame lines in a row, one call",
         {Join({kFrameLine, kFrameLine, kFrameLine})},
         3,
         kFrameLineText,
         kFrameLineText,
         ""},
        {"frame lines in a row, one call each", {kFrameLine, kFrameLine}, 2, kFrameLineText, kFrameLineText, ""},
        {"frame line split over three calls",
         {{0x3A, 0x31, 0x32}, {0x33, 0x34, 0x35, 0x36}, {0x37, 0x38, 0x39, 0x0D}},
         1,
         kFrameLineText,
         kFrameLineText,
         ""},
        {"noise line, then a frame line",
         {Join({ToBytes("xyz\r"), kFrameLine})},
         1,
         kFrameLineText,
         kFrameLineText,
         ""},
        {"frame line, then a short line", {Join({kFrameLine, ToBytes("\x3A\x0D")})}, 1, "DDA", "DDA", ""},
        {"empty call", {Bytes{}}, 0, "6001", "", ""},
    };
    TFCOMM& win = Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        win.State.SerialLoText.clear();
        win.State.SerialLine.clear();
        Control<QLabel>(win, "USBtxt")->setText(QStringLiteral("6001"));
        win.State.FrameHex = std::string("5A") + c.name;
        decodedFrames_.clear();
        for (const Bytes& b : c.calls) Feed(b);
        EXPECT_EQ(decodedFrames_.size(), c.decoded);
        for (const std::string& f : decodedFrames_) EXPECT_EQ(f, std::string("5A") + c.name);
        EXPECT_EQ(Control<QLabel>(win, "USBtxt")->text(), QString::fromLatin1(c.usbText));
        EXPECT_EQ(win.State.SerialLine, c.serialLine);
        EXPECT_EQ(win.State.SerialLoText, c.loText);
    }
    EXPECT_TRUE(errors_.empty());
}

TEST_F(SerialWindowTest, AFrameThatFailsToDecodeIsReportedAndReceptionGoesOn) {
    TFCOMM& win = Start();
    int runs = 0;
    win.SerialDecoder = [&] {
        ++runs;
        throw std::runtime_error("'5X' is not a valid integer value");
    };
    Feed(Join({kFrameLine, kFrameLine, ToBytes("\x31\x32")}));
    EXPECT_EQ(runs, 2);
    // Logged once per failing frame, no dialog that would hold up reception.
    EXPECT_TRUE(errors_.empty());
    int logged = 0;
    for (int i = 0; i < Control<QListWidget>(win, "HistoryListBox")->count(); ++i)
        if (Control<QListWidget>(win, "HistoryListBox")->item(i)->text() ==
            QStringLiteral("Frame not shown: '5X' is not a valid integer value"))
            ++logged;
    EXPECT_EQ(logged, 2);
    EXPECT_EQ(Control<QLabel>(win, "USBtxt")->text(), QStringLiteral("12"));
    EXPECT_EQ(win.State.SerialLoText, "12");
}

TEST_F(SerialWindowTest, TheWindowsOwnDecoderRunsOnTheFrameItHolds) {
    TFCOMM& win = Start();
    win.SerialDecoder = nullptr;
    // The built-in test frame puts a frame into FrameHex and decodes it.
    win.Button4Click();
    if (win.State.FrameHex.empty()) GTEST_SKIP() << "this build has no built-in test frame";
    const std::string frame = win.State.FrameHex;
    win.State.ValueText.clear();
    win.State.NoFrameTicks = 2;
    Feed(kFrameLine);
    EXPECT_EQ(win.State.FrameHex, frame);
    EXPECT_EQ(win.State.NoFrameTicks, 0) << "the decoder marks the link alive";
    EXPECT_FALSE(win.State.ValueText.empty());
    EXPECT_TRUE(errors_.empty());
}

// ---- speed stepping ----

TEST_F(SerialWindowTest, FiveClicksFrom2400) {
    TFCOMM& win = Start();
    using enum TComPortBaudRate;
    const TComPortBaudRate after[] = {br4800, br9600, br19200, br1200, br1200};
    const char* texts[] = {"Baud Rate:4800", "Baud Rate:9600", "Baud Rate:19200", "Baud Rate:1200", "Baud Rate:1200"};
    for (size_t i = 0; i < std::size(after); ++i) {
        SCOPED_TRACE(i + 1);
        Control<QPushButton>(win, "Button2")->click();
        EXPECT_EQ(win.COMM2->ComPortSpeed(), after[i]);
        ASSERT_EQ(messages_.size(), i + 1);
        EXPECT_EQ(messages_.back(), QString::fromLatin1(texts[i]));
    }
}

TEST_F(SerialWindowTest, OneClickFromEachSpeed) {
    using enum TComPortBaudRate;
    const struct {
        TComPortBaudRate from, to;
        const char* text;  // nullptr: no message
    } cases[] = {
        {br2400, br4800, "Baud Rate:4800"},  {br4800, br9600, "Baud Rate:9600"}, {br9600, br19200, "Baud Rate:19200"},
        {br19200, br1200, "Baud Rate:1200"}, {br1200, br1200, "Baud Rate:1200"}, {br110, br110, nullptr},
        {br14400, br14400, nullptr},         {br38400, br38400, nullptr},        {br115200, br115200, nullptr},
    };
    TFCOMM& win = Start();
    for (const auto& c : cases) {
        SCOPED_TRACE(BaudRateValue(c.from));
        messages_.clear();
        win.COMM2->SetComPortSpeed(c.from);
        win.Button2Click();
        EXPECT_EQ(win.COMM2->ComPortSpeed(), c.to);
        if (c.text) {
            ASSERT_EQ(messages_.size(), 1u);
            EXPECT_EQ(messages_[0], QString::fromLatin1(c.text));
        } else {
            EXPECT_TRUE(messages_.empty());
        }
    }
}

TEST_F(SerialWindowTest, SpeedStepWhileOpenDropsWaitingBytes) {
    TFCOMM& win = Start();
    QTest::mouseClick(Control<PanelLabel>(win, "BTCon"), Qt::LeftButton);
    win.COMM2->SetComPortPollingDelay(60000);  // keep the bytes waiting in the queue
    ASSERT_EQ(pty_.Write(kFrameLine), ssize_t(kFrameLine.size()));
    ASSERT_TRUE(PumpUntil([&] { return win.COMM2->InputQueueCount() == int32_t(kFrameLine.size()); }));
    win.Button2Click();
    EXPECT_EQ(win.COMM2->ComPortSpeed(), TComPortBaudRate::br4800);
    EXPECT_EQ(win.COMM2->InputQueueCount(), 0);
    win.COMM2->ReceiveTick();
    EXPECT_TRUE(decodedFrames_.empty());
    EXPECT_TRUE(win.State.SerialLoText.empty());
}

}  // namespace
