// The window's USB cable link: the device list, connecting, the feature report and the
// request, input reports turned into frames and rows, the watchdog, device events, and the
// simulated cable end to end.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDeadlineTimer>
#include <QTest>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <cerrno>
#include <functional>
#include <memory>
#include <vector>

#include "app/application.h"
#include "app/cli.h"
#include "app/tfcomm.h"
#include "window_test_support.h"
#include "app/widgets.h"
#include "common/frames.h"
#include "link/cableconnection.h"
#include "link/cablelink.h"
#include "link/hidcontroller.h"
#include "link/hidsim_backend.h"
#include "link/simcable_backend.h"
#include "link/simmeter.h"
#include "records/recordtable.h"

namespace {

using testframes::kTestFrame;
std::vector<uint8_t> Bytes(const std::string& hex) { return testframes::FrameBytes(hex); }

// Runs the event loop until cond holds; false when it still does not after the time given
// (a guard against hanging, not a measurement). The simulated cable hands over one report
// per turn of the event loop: QTest::qWaitFor sleeps 10 ms between its turns, which makes
// the cable tests seven times slower, so this loop turns without sleeping.
bool RunUntil(const std::function<bool()>& cond, int ms = 30000) {
    QDeadlineTimer deadline(ms);
    while (!cond()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the event loop for the time given (work that is not to happen gets its chance to).
void Settle(int ms = 50) { QTest::qWait(ms); }

// A window over a given HID backend, started in a folder with a fresh record table, with the
// interactive hooks replaced so that nothing blocks.
class UsbWindow : public WindowTest {
protected:
    void Open(std::shared_ptr<HidBackend> backend) {
        AppOptions o = InFolder();
        o.hidBackend = std::move(backend);
        StartWindow(o, false);
    }

    QStringList Entries() {
        QStringList l;
        for (int i = 0; i < Control<QListWidget>(w(), "DevListBox")->count(); ++i)
            l << Control<QListWidget>(w(), "DevListBox")->item(i)->text();
        return l;
    }
    QStringList LogLines() {
        QStringList l;
        for (int i = 0; i < Control<QListWidget>(w(), "HistoryListBox")->count(); ++i)
            l << Control<QListWidget>(w(), "HistoryListBox")->item(i)->text();
        return l;
    }
    bool Logged(const QString& line) { return LogLines().contains(line); }
    int LoggedStartingWith(const QString& prefix) {
        int n = 0;
        for (const QString& l : LogLines()) n += l.startsWith(prefix);
        return n;
    }
    // Presses "Connect" as the user does (the button goes down, then its handler runs).
    void PressConnect() {
        Control<QToolButton>(w(), "USBCon")->setChecked(!Control<QToolButton>(w(), "USBCon")->isChecked());
        w().USBConClick();
    }

    QuietUi ui_;  // every dialog recorded instead of shown
    std::vector<QString>& messages_ = ui_.messages;
    std::vector<QString>& errors_ = ui_.errors;
};

HidSimDeviceProfile Device(std::optional<std::u16string> product, std::u16string serial = u"", uint16_t vid = 0x1234,
                           uint16_t pid = 0x0001) {
    HidSimDeviceProfile s;
    s.product = std::move(product);
    s.serial = std::move(serial);
    s.attributes.VendorID = vid;
    s.attributes.ProductID = pid;
    return s;
}

// ============================================================ device list (scripted devices)

struct ListCase {
    const char* name;
    std::vector<HidSimDeviceProfile> devices;
    QStringList entries;
    int selected;
};

TEST_F(UsbWindow, DeviceListNamesAndCableSelection) {
    const std::vector<ListCase> cases = {
        {"the cable alone", {Device(u"USB to Serial")}, {"USB to Serial"}, 0},
        {"cable among others",
         {Device(u"Keyboard"), Device(u"USB to Serial"), Device(u"Mouse")},
         {"Keyboard", "USB to Serial", "Mouse"},
         1},
        {"two cables: the later one",
         {Device(u"USB to Serial"), Device(u"USB to Serial")},
         {"USB to Serial", "USB to Serial"},
         1},
        {"a serial number is not the cable", {Device(u"USB to Serial", u"0042")}, {"USB to Serial (Serial=0042)"}, -1},
        {"no product string", {Device(std::nullopt, u"", 0x04B4, 0x000A)}, {"Device VID=04B4 PID=000A"}, -1},
        {"no devices", {}, {}, -1},
    };
    for (const auto& c : cases) {
        auto sim = std::make_shared<HidSimBackend>();
        for (const auto& d : c.devices) sim->Plug(d, false);
        Open(sim);
        EXPECT_EQ(Entries(), c.entries) << c.name;
        EXPECT_EQ(Control<QListWidget>(w(), "DevListBox")->currentRow(), c.selected) << c.name;
        // Every listed device is taken and attached to its entry.
        for (int i = 0; i < Control<QListWidget>(w(), "DevListBox")->count(); ++i) {
            ASSERT_NE(w().DevListDevice(i), nullptr) << c.name;
            EXPECT_TRUE(w().DevListDevice(i)->Taken()) << c.name;
        }
        window_.reset();
    }
}

// ============================================================ connecting (scripted cable)

class ScriptedCable : public UsbWindow {
protected:
    void SetUp() override {
        UsbWindow::SetUp();
        sim_ = std::make_shared<HidSimBackend>();
        path_ = sim_->Plug(Device(u"USB to Serial"), false);
        Open(sim_);
        Control<QTimer>(w(), "ConTimer")->stop();
    }
    std::shared_ptr<HidSimBackend> sim_;
    std::string path_;
};

TEST_F(ScriptedCable, ConnectSendsTheFeatureReportAndTheFirstRequest) {
    PressConnect();
    ASSERT_EQ(sim_->Features(path_).size(), 1u);
    EXPECT_EQ(sim_->Features(path_)[0], Bytes("00802500000300000000"));
    ASSERT_EQ(sim_->Writes(path_).size(), 1u);
    EXPECT_EQ(sim_->Writes(path_)[0], Bytes("00025A000000000000"));
    EXPECT_EQ(LogLines(), (QStringList{"80 25 00 00 03 00 00 00 00 00 ", "02 5A 00 00 00 00 00 00 00 "}));
    EXPECT_TRUE(Control<QToolButton>(w(), "USBCon")->isChecked());
    EXPECT_TRUE(messages_.empty());
    ASSERT_NE(w().SelectedDevice, nullptr);
    EXPECT_NE(w().SelectedDevice->Reader(), nullptr) << "the reader runs";
}

struct RateCase {
    const char* name;
    bool b9600, b4800, b2400;
    std::string report;
};

TEST_F(ScriptedCable, FeatureReportFollowsTheRateBoxes) {
    const std::vector<RateCase> cases = {
        {"9600", true, false, false, "00802500000300000000"},
        {"4800", false, true, false, "00C01200000300000000"},
        {"2400 wins over 9600", true, false, true, "00600900000300000000"},
        {"none", false, false, false, "00000000000300000000"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        Control<QCheckBox>(w(), "B9600")->setChecked(c.b9600);
        Control<QCheckBox>(w(), "B4800")->setChecked(c.b4800);
        Control<QCheckBox>(w(), "B2400")->setChecked(c.b2400);
        w().SetFeatureClick();
        ASSERT_EQ(sim_->Features(path_).size(), i + 1) << c.name;
        EXPECT_EQ(sim_->Features(path_).back(), Bytes(c.report)) << c.name;
    }
}

TEST_F(ScriptedCable, ReportsBecomeAFrameARowAndTheNextRequest) {
    PressConnect();
    const size_t rowsBefore = w().T22GDB->RowCount();
    // The test frame in two bursts of 20 and 21 bytes, seven bytes per report at most.
    const std::vector<uint8_t> frame = Bytes(kTestFrame);
    auto push = [&](size_t from, size_t to) {
        for (const auto& r : testframes::BurstReports(frame, from, to, 9)) sim_->PushReport(path_, r);
    };
    push(0, 20);
    push(20, 41);
    ASSERT_TRUE(RunUntil([&] { return sim_->Writes(path_).size() == 2; }));
    Settle();
    EXPECT_EQ(w().State.FrameHex, kTestFrame);
    EXPECT_EQ(w().State.FrameLen, 82);
    EXPECT_EQ(Control<QLabel>(w(), "USBtxt1")->text(), "82");
    EXPECT_EQ(Control<QPlainTextEdit>(w(), "Memo1")->toPlainText().toStdString(), kTestFrame);
    EXPECT_EQ(w().UsbFramesDecoded, 1u);
    ASSERT_EQ(w().T22GDB->RowCount(), rowsBefore + 1);
    EXPECT_EQ(w().T22GDB->CellText(rowsBefore, ColValue), "00.66");
    EXPECT_EQ(w().T22GDB->CellText(rowsBefore, ColDcAc), "DC");
    // Each report with meter data is logged; reports without are not.
    EXPECT_EQ(LoggedStartingWith("R 00  F7 "), 5);
    EXPECT_EQ(LoggedStartingWith("R 00  F0 "), 0);
    EXPECT_EQ(sim_->Writes(path_)[1], Bytes("00025A000000000000"));
    EXPECT_EQ(w().State.IdleReports, 1);
}

TEST_F(ScriptedCable, ADecoderFailureIsLoggedAndTheLinkGoesOn) {
    PressConnect();
    std::string bad = kTestFrame;
    bad[13] = 'A';  // mode digit A: not a decimal digit
    for (const std::string& f : {bad, kTestFrame}) {
        const auto b = Bytes(f);
        for (const auto& r : testframes::BurstReports(b, 0, b.size())) sim_->PushReport(path_, r);
    }
    ASSERT_TRUE(RunUntil([&] { return sim_->Writes(path_).size() == 3; }));
    Settle();
    EXPECT_EQ(w().UsbFramesDecoded, 2u);
    EXPECT_EQ(w().T22GDB->RowCount(), 1u) << "only the good frame is recorded";
    // Besides the report lines, the feature line and the three requests: one line for the
    // failing frame, naming the conversion that failed.
    QStringList other;
    for (const QString& l : LogLines())
        if (!l.startsWith("R ") && !l.startsWith("02 5A 00 ") && !l.startsWith("80 25 00 ")) other << l;
    ASSERT_EQ(other.size(), 1) << other.join(" | ").toStdString();
    EXPECT_TRUE(other[0].contains("'A' is not a valid integer value")) << other[0].toStdString();
    EXPECT_EQ(LoggedStartingWith("02 5A 00 "), 3);
    EXPECT_TRUE(errors_.empty()) << "no dialog stops the reading";
    EXPECT_NE(w().SelectedDevice->Reader(), nullptr);
    EXPECT_FALSE(w().SelectedDevice->Reader()->Finished());
}

TEST_F(ScriptedCable, ReconnectingDoesNotRecordTheLastFrameAgain) {
    // The reading stopped in the middle of a burst after a complete frame; the first report
    // of the new connection must not decode that old frame once more.
    w().State.FrameHex = kTestFrame;
    w().State.FrameLen = 82;
    w().State.BurstPending = true;
    w().State.BurstText = "0102";
    PressConnect();
    sim_->PushReport(path_, {0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(RunUntil([&] { return sim_->PendingInput(path_) == 0; }));
    Settle();
    EXPECT_EQ(w().UsbFramesDecoded, 0u);
    EXPECT_EQ(w().T22GDB->RowCount(), 0u);
    EXPECT_EQ(sim_->Writes(path_).size(), 1u) << "only the connect request";
}

TEST_F(ScriptedCable, DisconnectStopsTheReader) {
    PressConnect();
    PressConnect();
    EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
    ASSERT_NE(w().SelectedDevice, nullptr);
    EXPECT_EQ(w().SelectedDevice->Reader(), nullptr);
    sim_->PushReport(path_, {0x00, 0xF2, 0x5A, 0x00});
    Settle(100);
    EXPECT_EQ(sim_->PendingInput(path_), 1u) << "nothing reads the cable";
}

TEST_F(ScriptedCable, ReadErrorsAreLogged) {
    PressConnect();
    sim_->PushReadError(path_, EIO);
    ASSERT_TRUE(RunUntil([&] { return LoggedStartingWith("READ ERROR: ") > 0; }));
    EXPECT_TRUE(Logged(cable::ReadErrorLine(cable::SystemErrorText(EIO), EIO)));
    EXPECT_TRUE(LogLines().last().endsWith(" (5)"));
}

TEST_F(ScriptedCable, DeviceArrivalAndRemovalAreLogged) {
    const std::string mouse = sim_->Plug(Device(u"USB Optical Mouse"));
    ASSERT_TRUE(RunUntil([&] { return Logged("Arrival of USB Optical Mouse"); }));
    EXPECT_EQ(Entries(), (QStringList{"USB to Serial", "USB Optical Mouse"}));
    EXPECT_EQ(Control<QListWidget>(w(), "DevListBox")->currentRow(), 0);
    sim_->Unplug(mouse);
    ASSERT_TRUE(RunUntil([&] { return Logged("Removal of USB Optical Mouse"); }));
    EXPECT_EQ(Entries(), QStringList{"USB to Serial"});
}

TEST_F(ScriptedCable, CableWithoutReadWriteAccessIsNotConnectedAndTheUserIsToldWhy) {
    window_.reset();
    auto sim = std::make_shared<HidSimBackend>();
    HidSimDeviceProfile readOnly = Device(u"USB to Serial");
    readOnly.writable = false;
    sim->Plug(readOnly, false);
    Open(sim);
    PressConnect();
    EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
    // The user is told why and what to do, once, and the log says it too.
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_TRUE(messages_[0].contains(cable::SystemErrorText(EACCES))) << messages_[0].toStdString();
    EXPECT_TRUE(messages_[0].contains("70-ms42k-cable.rules")) << messages_[0].toStdString();
    EXPECT_EQ(LoggedStartingWith("ACCESS REFUSED: "), 1);
    ASSERT_NE(w().SelectedDevice, nullptr);
    EXPECT_EQ(w().SelectedDevice->Reader(), nullptr);
}

TEST_F(ScriptedCable, ADeviceChangeKeepsOneRequestOutstanding) {
    PressConnect();
    ASSERT_EQ(sim_->Writes(path_).size(), 1u);
    const std::vector<uint8_t> frame = Bytes(kTestFrame);
    auto push = [&](size_t from, size_t to) {
        for (const auto& r : testframes::BurstReports(frame, from, to, 9)) sim_->PushReport(path_, r);
    };
    // The first half of the answer has come when a mouse is plugged in and out four times.
    push(0, 20);
    ASSERT_TRUE(RunUntil([&] { return sim_->PendingInput(path_) == 0; }));
    Settle();
    for (int pair = 1; pair <= 4; ++pair) {
        const std::string mouse = sim_->Plug(Device(u"USB Optical Mouse"));
        ASSERT_TRUE(RunUntil([&] { return LoggedStartingWith("Arrival of USB Optical Mouse") == pair; }));
        sim_->Unplug(mouse);
        ASSERT_TRUE(RunUntil([&] { return LoggedStartingWith("Removal of USB Optical Mouse") == pair; }));
    }
    Settle();
    EXPECT_EQ(LoggedStartingWith("Link resumed"), 8);
    EXPECT_EQ(sim_->Writes(path_).size(), 1u) << "no second request while the answer is on its way";
    // The rest of the answer: one frame, one next request.
    push(20, 41);
    ASSERT_TRUE(RunUntil([&] { return w().UsbFramesDecoded == 1; }));
    Settle();
    EXPECT_EQ(sim_->Writes(path_).size(), 2u);
    EXPECT_EQ(w().T22GDB->RowCount(), 1u);
}

TEST_F(ScriptedCable, ClosingTheWindowWhileAReportWaitsInTheHandOverShowsNothing) {
    PressConnect();
    // The report that ends a complete frame has been read and waits to be handed over when
    // the window goes.
    w().State.BurstText = kTestFrame;
    w().State.BurstPending = true;
    sim_->PushReport(path_, {0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0});
    QDeadlineTimer deadline(10000);
    while (sim_->PendingInput(path_) != 0 && !deadline.hasExpired()) QThread::msleep(1);
    ASSERT_EQ(sim_->PendingInput(path_), 0u);
    const size_t writes = sim_->Writes(path_).size();
    window_.reset();
    EXPECT_TRUE(messages_.empty()) << messages_.front().toStdString();
    EXPECT_EQ(sim_->Writes(path_).size(), writes) << "no request once closing began";
}

struct NoCableCase {
    const char* name;
    std::function<void(TFCOMM&)> action;
};

TEST_F(UsbWindow, WithoutACableTheUserIsToldOnce) {
    const std::vector<NoCableCase> cases = {
        {"Connect",
         [](TFCOMM& w) {
             Control<QToolButton>(w, "USBCon")->setChecked(true);
             w.USBConClick();
         }},
        {"USBSendData", [](TFCOMM& w) { w.SendDataClick(); }},
        {"SetFeature", [](TFCOMM& w) { w.SetFeatureClick(); }},
    };
    for (const auto& c : cases) {
        messages_.clear();
        Open(std::make_shared<HidSimBackend>());
        Control<QToolButton>(w(), "USBCon")->setChecked(true);
        c.action(w());
        ASSERT_EQ(messages_.size(), 1u) << c.name;
        EXPECT_EQ(messages_[0], "USB interface cable is not securely connected, please check and re-try.") << c.name;
        EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked()) << c.name;
        EXPECT_EQ(Control<QListWidget>(w(), "HistoryListBox")->count(), 0) << c.name;
        window_.reset();
    }
}

// ============================================================ the simulated cable end to end

class SimulatedCable : public UsbWindow {
protected:
    void SetUp() override {
        UsbWindow::SetUp();
        SimCableOptions o;
        o.reportIntervalUs = 0;
        o.answerDelayReports = 2;
        o.seed = 11;
        sim_ = std::make_shared<SimCableBackend>(o);
        Open(sim_);
    }
    void ConnectAndWaitFor(uint64_t frames) {
        PressConnect();
        ASSERT_TRUE(Control<QToolButton>(w(), "USBCon")->isChecked());
        ASSERT_TRUE(RunUntil([&] { return w().UsbFramesDecoded >= frames; }));
    }
    std::shared_ptr<SimCableBackend> sim_;
};

TEST_F(SimulatedCable, HundredFramesGiveHundredRightRows) {
    EXPECT_EQ(Entries(), QStringList{"USB to Serial"});
    EXPECT_EQ(Control<QListWidget>(w(), "DevListBox")->currentRow(), 0);
    const size_t before = w().T22GDB->RowCount();
    ConnectAndWaitFor(100);
    sim_->SetReportBudget(0);  // hold the cable so the table stops growing while we look
    Settle();
    ASSERT_GE(w().T22GDB->RowCount(), before + 100);
    for (uint64_t k = 0; k < 100; ++k) {
        const SimShown s = sim_->CycleShown(k);
        const size_t row = before + k;
        EXPECT_EQ(w().T22GDB->CellText(row, ColNo), std::to_string(k + 1)) << k;
        EXPECT_EQ(w().T22GDB->CellText(row, ColValue), s.valueText) << k;
        EXPECT_EQ(w().T22GDB->CellText(row, ColUnit), s.unitText) << k;
        EXPECT_EQ(w().T22GDB->CellText(row, ColDcAc), s.acDcText) << k;
        EXPECT_EQ(w().T22GDB->CellText(row, ColAuto), s.autoText) << k;
    }
    EXPECT_EQ(sim_->Stats().baud, 9600);
    EXPECT_EQ(sim_->Stats().featureReports, 1u);
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(Control<ImageButton>(w(), "CONok")->isVisibleTo(Control<QFrame>(w(), "KD")))
        << "frames arrive: the connection picture is lit";
}

TEST_F(SimulatedCable, SilentMeterIsAskedAgainAt600AndGivenUpAt3000) {
    Control<QTimer>(w(), "ConTimer")->stop();  // the test ticks the watchdog itself
    ConnectAndWaitFor(3);
    // Hold the cable, silence the meter, let the frame in flight arrive.
    sim_->SetReportBudget(0);
    sim_->SetSilent(true);
    // At most two frames are on their way (about 150 reports); the rest is silence.
    sim_->AddReportBudget(1500);
    ASSERT_TRUE(RunUntil([&] { return sim_->ReportBudget() == 0u && w().State.IdleReports >= 1300; }))
        << "budget left " << sim_->ReportBudget().value_or(-1) << ", idle " << w().State.IdleReports << ", frames "
        << w().UsbFramesDecoded << ", answered " << sim_->Stats().framesAnswered;
    Settle();
    const int32_t idle = w().State.IdleReports;
    ASSERT_EQ(w().State.IdleSinceRequest, idle);

    // Delivers idle reports until the window has counted `target` since the last report with data.
    auto idleUpTo = [&](int32_t target) {
        const int32_t have = w().State.IdleReports;
        ASSERT_LE(have, target);
        sim_->AddReportBudget(uint64_t(target - have));
        ASSERT_TRUE(RunUntil([&] { return w().State.IdleReports == target; }));
        Settle(20);
        ASSERT_EQ(w().State.IdleReports, target);
    };
    auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i) w().ConTimerTimer();
    };
    auto requests = [&] { return sim_->Stats().requests; };

    // With 1300-odd idle reports since the last request, the third tick asks again.
    uint64_t r0 = requests();
    ticks(2);
    EXPECT_EQ(requests(), r0) << "two ticks do not look at the counters";
    ticks(1);
    EXPECT_EQ(requests(), r0 + 1);
    EXPECT_EQ(w().State.IdleSinceRequest, 0);
    EXPECT_TRUE(Control<ImageButton>(w(), "CONokN")->isVisibleTo(Control<QFrame>(w(), "KD")));

    // 599 more: no request; the 600th: the next check asks again.
    r0 = requests();
    idleUpTo(w().State.IdleReports + 599);
    ticks(3);
    EXPECT_EQ(requests(), r0);
    idleUpTo(w().State.IdleReports + 1);
    ticks(3);
    EXPECT_EQ(requests(), r0 + 1);

    // Up to 2999 nothing is given up; at 3000 the link is dropped with the message, once.
    idleUpTo(2999);
    ticks(3);
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(Control<QToolButton>(w(), "USBCon")->isChecked());
    idleUpTo(3000);
    ticks(3);
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], "USB interface cable is securely connected, please check if the meter is ready.");
    EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
    EXPECT_EQ(w().State.IdleReports, 0);
    ASSERT_NE(w().SelectedDevice, nullptr);
    EXPECT_EQ(w().SelectedDevice->Reader(), nullptr) << "the reading stopped";
    ticks(9);
    EXPECT_EQ(messages_.size(), 1u);
    // Nothing reads the cable any more.
    sim_->AddReportBudget(50);
    Settle(100);
    EXPECT_EQ(sim_->ReportBudget(), 50u);
}

TEST_F(SimulatedCable, UnpluggingTheCableEndsTheConnection) {
    ConnectAndWaitFor(5);
    sim_->UnplugCable();
    ASSERT_TRUE(RunUntil([&] { return Logged("Removal of USB to Serial"); }));
    Settle(100);
    EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
    EXPECT_TRUE(Entries().isEmpty());
    EXPECT_EQ(Control<QListWidget>(w(), "DevListBox")->currentRow(), -1);
    EXPECT_EQ(w().SelectedDevice, nullptr);
    EXPECT_EQ(LoggedStartingWith("Link resumed"), 0);
    const uint64_t decoded = w().UsbFramesDecoded;
    Settle(200);
    EXPECT_EQ(w().UsbFramesDecoded, decoded);
    EXPECT_TRUE(errors_.empty());

    // Plugged in again: listed and selected; the user connects again and frames flow.
    sim_->PlugCable();
    ASSERT_TRUE(RunUntil([&] { return Logged("Arrival of USB to Serial"); }));
    EXPECT_EQ(Entries(), QStringList{"USB to Serial"});
    EXPECT_EQ(Control<QListWidget>(w(), "DevListBox")->currentRow(), 0);
    EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
    PressConnect();
    ASSERT_TRUE(RunUntil([&] { return w().UsbFramesDecoded >= decoded + 5; }));
}

TEST_F(SimulatedCable, AnotherDeviceComingAndGoingDoesNotStopTheReading) {
    ConnectAndWaitFor(5);
    sim_->PlugMouse();
    ASSERT_TRUE(RunUntil([&] { return Logged("Arrival of USB Optical Mouse"); }));
    EXPECT_EQ(Entries(), (QStringList{"USB to Serial", "USB Optical Mouse"}));
    EXPECT_EQ(Control<QListWidget>(w(), "DevListBox")->currentRow(), 0);
    EXPECT_TRUE(Logged("Link resumed: USB to Serial"));
    uint64_t decoded = w().UsbFramesDecoded;
    ASSERT_TRUE(RunUntil([&] { return w().UsbFramesDecoded >= decoded + 10; })) << "reading resumed";
    EXPECT_TRUE(Control<QToolButton>(w(), "USBCon")->isChecked());

    sim_->UnplugMouse();
    ASSERT_TRUE(RunUntil([&] { return Logged("Removal of USB Optical Mouse"); }));
    EXPECT_TRUE(Control<QToolButton>(w(), "USBCon")->isChecked()) << "only the cable's removal ends the connection";
    EXPECT_EQ(LoggedStartingWith("Link resumed"), 2);
    decoded = w().UsbFramesDecoded;
    ASSERT_TRUE(RunUntil([&] { return w().UsbFramesDecoded >= decoded + 10; })) << "reading resumed again";
    EXPECT_TRUE(errors_.empty());
    EXPECT_TRUE(messages_.empty());
}

TEST_F(SimulatedCable, DeviceChangeWhileDisconnectedDoesNotConnect) {
    sim_->PlugMouse();
    ASSERT_TRUE(RunUntil([&] { return Logged("Arrival of USB Optical Mouse"); }));
    Settle(100);
    EXPECT_EQ(LoggedStartingWith("Link resumed"), 0);
    EXPECT_EQ(sim_->Stats().requests, 0u);
    EXPECT_EQ(w().UsbFramesDecoded, 0u);
}

TEST_F(SimulatedCable, AReadingRequestedBeforeADisconnectIsNotRecordedAtTheNextConnect) {
    ConnectAndWaitFor(3);
    // Hold the cable: the answer to the last request waits in the read handle.
    sim_->SetReportBudget(0);
    Settle();
    PressConnect();
    ASSERT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
    const size_t rows = w().T22GDB->RowCount();
    // From now on the meter shows something else; the next connection must record that.
    sim_->SetReplay({Bytes(kTestFrame)});
    sim_->SetReportBudget(std::nullopt);
    Settle(50);
    PressConnect();
    ASSERT_TRUE(RunUntil([&] { return sim_->ReplayDone() && w().T22GDB->RowCount() > rows; }));
    Settle(100);
    ASSERT_EQ(w().T22GDB->RowCount(), rows + 1);
    EXPECT_EQ(w().T22GDB->CellText(rows, ColValue), "00.66") << "the old answer was recorded at the connect";
}

TEST_F(SimulatedCable, DeviceChangesKeepOneFrameInFlight) {
    ConnectAndWaitFor(3);
    for (int pair = 1; pair <= 4; ++pair) {
        sim_->PlugMouse();
        ASSERT_TRUE(RunUntil([&] { return LoggedStartingWith("Arrival of USB Optical Mouse") == pair; }));
        sim_->UnplugMouse();
        ASSERT_TRUE(RunUntil([&] { return LoggedStartingWith("Removal of USB Optical Mouse") == pair; }));
    }
    const uint64_t decoded = w().UsbFramesDecoded;
    ASSERT_TRUE(RunUntil([&] { return w().UsbFramesDecoded >= decoded + 20; }));
    sim_->SetReportBudget(0);
    Settle();
    EXPECT_LE(sim_->Stats().framesInFlight, 1u);
    EXPECT_LE(w().UsbLink->OutstandingRequests(), 1);
}

TEST_F(SimulatedCable, ReplayedFramesInOrder) {
    std::string bad = kTestFrame;
    bad[13] = 'B';  // a frame the decoder cannot finish
    std::string negative = kTestFrame;
    negative.replace(42, 2, "2D");  // sign byte '-'
    sim_->SetReplay({Bytes(kTestFrame), Bytes(bad), Bytes(negative)});
    PressConnect();
    ASSERT_TRUE(RunUntil([&] { return sim_->ReplayDone() && w().UsbFramesDecoded == 3; }));
    Settle();
    ASSERT_EQ(w().T22GDB->RowCount(), 2u);
    EXPECT_EQ(w().T22GDB->CellText(0, ColValue), "00.66");
    EXPECT_EQ(w().T22GDB->CellText(1, ColValue), "-00.66");
    EXPECT_TRUE(errors_.empty());
}

// ============================================================ the headless logger

// The rows of a text-form file: one vector of fields per line after the header.
std::vector<std::vector<std::string>> TextRows(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QList<QByteArray> lines = f.readAll().split('\n');
    std::vector<std::vector<std::string>> rows;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r')) line.chop(1);
        if (line.isEmpty()) continue;
        std::vector<std::string> fields;
        for (const QByteArray& field : line.split('\t')) fields.push_back(field.toStdString());
        rows.push_back(fields);
    }
    return rows;
}

// A frames file: cycle frames of the simulated meter (waveform frames among them), with
// spoilt frames, repeats and comment lines in between.
struct FramesFile {
    QString path;
    std::vector<SimShown> expected;  // what the decodable frames show, in order
};

FramesFile WriteFramesFile(const QTemporaryDir& dir) {
    FramesFile out;
    out.path = dir.filePath("frames.txt");
    SimMeter meter(21);
    meter.SetFramesPerScene(2);
    QFile f(out.path);
    f.open(QIODevice::WriteOnly);
    f.write("# recorded frames\n");
    auto put = [&](const Frame& fr) {
        f.write(QByteArray::fromStdString(cable::HexText(fr.data(), fr.size())) + "\n");
    };
    for (uint64_t k = 0; k < 40; ++k) {
        put(meter.CycleFrame(k));
        out.expected.push_back(meter.CycleShown(k));
        if (k == 5) {  // a frame cut short
            const Frame whole = meter.CycleFrame(k);
            put(Frame(whole.begin(), whole.begin() + 20));
        }
        if (k == 9) {
            Frame bad = meter.CycleFrame(k);
            bad[6] = 0x8C;  // mode digit C: the decoder cannot finish it
            put(bad);
        }
        if (k == 12) {
            Frame noStart = meter.CycleFrame(k);
            noStart[0] = 0x5B;
            put(noStart);
        }
        if (k == 20) {  // the same reading twice more
            put(meter.CycleFrame(k));
            out.expected.push_back(meter.CycleShown(k));
            put(meter.CycleFrame(k));
            out.expected.push_back(meter.CycleShown(k));
        }
        if (k == 30) f.write("\n   \n");
    }
    return out;
}

struct LoggerCase {
    const char* name;
    CliArgs extra;                       // options besides --frames and --out
    std::function<void(TFCOMM&)> setUp;  // the window's controls set alike
};

class Logger : public UsbWindow {};

TEST_F(Logger, RecordsWhatTheWindowRecordsFromTheSameFrames) {
    const FramesFile frames = WriteFramesFile(dir_);
    const std::vector<LoggerCase> cases = {
        {"plain", {}, [](TFCOMM&) {}},
        {"repeat suppression", {"--repeat"}, [](TFCOMM& w) { Control<QCheckBox>(w, "RepeatSet")->setChecked(true); }},
        {"record limit", {"--limit", "7"}, [](TFCOMM& w) { w.State.RecordLimit = 7; }},
    };
    for (const auto& c : cases) {
        // The logger.
        const QString out = dir_.filePath(QStringLiteral("log-%1.txt").arg(c.name));
        CliArgs args = {"--frames", frames.path.toStdString(), "--out", out.toStdString()};
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        ASSERT_EQ(CmdLog(args), 0) << c.name;
        const auto logged = TextRows(out);

        // The window, reading the same frames from the simulated cable.
        // The pace the logger replays at; see cmd_log.cpp.
        auto sim = std::make_shared<SimCableBackend>(SimCableOptions{1, 0, 500, 2, 8});
        QString error;
        sim->SetReplay(*SimMeter::LoadHexLines(frames.path, &error));
        Open(sim);
        c.setUp(w());
        PressConnect();
        ASSERT_TRUE(RunUntil([&] { return sim->ReplayDone(); })) << c.name;
        Settle(200);
        ASSERT_EQ(logged.size(), w().T22GDB->RowCount()) << c.name;
        for (size_t i = 0; i < logged.size(); ++i) {
            ASSERT_EQ(logged[i].size(), 6u) << c.name << " row " << i;
            EXPECT_EQ(logged[i][0], w().T22GDB->CellText(i, ColNo)) << c.name << " row " << i;
            EXPECT_EQ(logged[i][2], w().T22GDB->CellText(i, ColDcAc)) << c.name << " row " << i;
            EXPECT_EQ(logged[i][3], w().T22GDB->CellText(i, ColValue)) << c.name << " row " << i;
            EXPECT_EQ(logged[i][4], w().T22GDB->CellText(i, ColUnit)) << c.name << " row " << i;
            EXPECT_EQ(logged[i][5], w().T22GDB->CellText(i, ColAuto)) << c.name << " row " << i;
        }
        window_.reset();

        if (std::string(c.name) == "plain") {
            // Every decodable frame of the file, in order, and nothing else.
            ASSERT_EQ(logged.size(), frames.expected.size());
            for (size_t i = 0; i < logged.size(); ++i) {
                EXPECT_EQ(logged[i][0], std::to_string(i + 1)) << i;
                EXPECT_EQ(logged[i][3], frames.expected[i].valueText) << i;
                EXPECT_EQ(logged[i][4], frames.expected[i].unitText) << i;
                EXPECT_EQ(logged[i][2], frames.expected[i].acDcText) << i;
                EXPECT_EQ(logged[i][5], frames.expected[i].autoText) << i;
            }
        }
        if (std::string(c.name) == "repeat suppression") {
            EXPECT_LT(logged.size(), frames.expected.size());
        }
        if (std::string(c.name) == "record limit") {
            // The limit gate stops recording at the limit (give or take the one row the gate's
            // own rule allows); the comparison with the window above is what matters.
            EXPECT_GE(logged.size(), 7u);
            EXPECT_LE(logged.size(), 8u);
        }
    }
}

TEST_F(Logger, CountStopsAfterThatManyDecodedFrames) {
    const FramesFile frames = WriteFramesFile(dir_);
    const QString out = dir_.filePath("count.txt");
    ASSERT_EQ(CmdLog({"--frames", frames.path.toStdString(), "--count", "4", "--out", out.toStdString()}), 0);
    const auto rows = TextRows(out);
    ASSERT_EQ(rows.size(), 4u);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(rows[i][3], frames.expected[i].valueText) << i;
}

TEST_F(Logger, SamplingIntervalKeepsLaterReadingsOut) {
    // The run is far shorter than the interval: only the first reading gets in.
    const FramesFile frames = WriteFramesFile(dir_);
    const QString out = dir_.filePath("interval.txt");
    ASSERT_EQ(CmdLog({"--frames", frames.path.toStdString(), "--count", "10", "--interval", "3600", "--out",
                      out.toStdString()}),
              0);
    const auto rows = TextRows(out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][3], frames.expected[0].valueText);
}

TEST_F(Logger, ParadoxOutput) {
    const FramesFile frames = WriteFramesFile(dir_);
    const QString out = dir_.filePath("log.db");
    ASSERT_EQ(CmdLog({"--frames", frames.path.toStdString(), "--count", "6", "--out", out.toStdString()}), 0);
    RecordTable t;
    t.Open(out.toStdString());
    ASSERT_EQ(t.RowCount(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(t.CellText(i, ColValue), frames.expected[i].valueText) << i;
}

struct BadRunCase {
    const char* name;
    CliArgs args;
    int status;
};

TEST_F(Logger, RefusesWhatItCannotDo) {
    const FramesFile frames = WriteFramesFile(dir_);
    const std::string f = frames.path.toStdString();
    const std::string folder = dir_.path().toStdString();
    const std::vector<BadRunCase> cases = {
        {"output folder missing", {"--frames", f, "--out", folder + "/missing/x.txt"}, 1},
        {"output is a folder", {"--frames", f, "--out", folder}, 1},
        {"frames file missing", {"--frames", folder + "/none.txt"}, 1},
        {"unknown option", {"--fast"}, 2},
        {"count not a number", {"--frames", f, "--count", "x"}, 2},
        {"count zero", {"--frames", f, "--count", "0"}, 2},
        {"negative limit", {"--frames", f, "--limit", "-1"}, 2},
        {"option without value", {"--frames"}, 2},
        {"simulate and frames", {"--simulate", "--frames", f}, 2},
    };
    for (const auto& c : cases) EXPECT_EQ(CmdLog(c.args), c.status) << c.name;
    EXPECT_FALSE(QFile::exists(dir_.filePath("missing")));
}

TEST_F(Logger, UnwritableOutputFoundAtTheEndKeepsTheRun) {
    // The folder goes away while logging: the save fails with a message and a non-zero status.
    const FramesFile frames = WriteFramesFile(dir_);
    QTemporaryDir gone;
    const QString out = gone.filePath("x.txt");
    ASSERT_TRUE(QDir(gone.path()).exists());
    int status = -1;
    QTimer::singleShot(0, [&] { gone.remove(); });
    status = CmdLog({"--frames", frames.path.toStdString(), "--out", out.toStdString()});
    EXPECT_EQ(status, 1);
    EXPECT_FALSE(QFile::exists(out));
}

TEST_F(Logger, WithoutACableItSaysSo) {
    if (!QDir(QStringLiteral("/dev")).entryList({QStringLiteral("hidraw*")}, QDir::System).isEmpty())
        GTEST_SKIP() << "HID devices are present here; the test needs a machine without a cable";
    EXPECT_EQ(CmdLog({"--count", "1"}), 1);
}

// ============================================================ ms42k scan

TEST(Scan, TheSimulatedCableIsMarkedAndUsable) {
    EXPECT_EQ(CmdScan({"--simulate"}), 0);
    EXPECT_EQ(CmdScan({"--help"}), 0);
    EXPECT_EQ(CmdScan({"--fast"}), 2);
    EXPECT_EQ(CmdScan({"extra"}), 2);
}

// ============================================================ the --simulate option

TEST(WindowOptions, SimulateSelectsTheSimulatedCable) {
    AppOptions o;
    EXPECT_TRUE(ApplyWindowOption("--simulate", o));
    EXPECT_NE(std::dynamic_pointer_cast<SimCableBackend>(o.hidBackend), nullptr);
    AppOptions other;
    EXPECT_FALSE(ApplyWindowOption("--simulated", other));
    EXPECT_FALSE(ApplyWindowOption("--frames", other));
    EXPECT_EQ(other.hidBackend, nullptr);
}

}  // namespace
