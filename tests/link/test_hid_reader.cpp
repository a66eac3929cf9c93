// The reader of a taken device: input reports and read errors handed to the GUI thread,
// starting and stopping, handlers that raise or stop their own reader, and a stress run of
// starting and stopping while reports keep arriving.
#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <thread>

#include "link/test_hid_support.h"

using namespace hidtest;

namespace {

class HidReaderTest : public HidFixture {
protected:
    // One readable device, taken, with the recorder's data and error handlers.
    THidDevice* TakeReading(int32_t sleepMs = 20) {
        path = PlugQuiet();
        MakeController();
        ctl->SetDevThreadSleepTime(sleepMs);
        ctl->SetOnDeviceDataError(THidDataErrorEvent(&rec, &Recorder::Error));
        THidDevice* d = Take(0);
        d->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
        return d;
    }
    std::string path;
};

TEST_F(HidReaderTest, ReportsReachTheHandlerWithIdFirstAndSizeOneLess) {
    THidDevice* d = TakeReading();
    ASSERT_NE(d->Reader(), nullptr);
    struct Case {
        const char* name;
        std::vector<uint8_t> wire;  // as read, report ID first
        std::optional<Report> delivered;
    };
    const std::vector<Case> cases = {
        {"nine bytes", {0x00, 0xF3, 0x5A, 0x01, 0x02, 0, 0, 0, 0}, Report{0x00, {0xF3, 0x5A, 0x01, 0x02, 0, 0, 0, 0}}},
        {"zero bytes reach nobody", {}, std::nullopt},
        {"only the report ID", {0x07}, Report{0x07, {}}},
        {"numbered report", {0x02, 0xAA, 0xBB}, Report{0x02, {0xAA, 0xBB}}},
        {"longer than the input report is cut",
         {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11},
         Report{1, {2, 3, 4, 5, 6, 7, 8, 9}}},
    };
    std::vector<Report> expected;
    for (const Case& c : cases) {
        sim->PushReport(path, c.wire);
        if (c.delivered) expected.push_back(*c.delivered);
    }
    ASSERT_TRUE(PumpUntil([&] { return sim->PendingInput(path) == 0 && rec.reports.size() >= expected.size(); }));
    Pump(50);
    EXPECT_EQ(rec.reports, expected);
    EXPECT_TRUE(rec.errors.empty());
    delete d;
}

TEST_F(HidReaderTest, NoReaderWithoutHandlerOrWhenNotTaken) {
    PlugQuiet();
    PlugQuiet();
    MakeController();
    ctl->Device(0)->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
    EXPECT_EQ(ctl->Device(0)->Reader(), nullptr) << "not taken";
    THidDevice* d = Take(1);
    EXPECT_EQ(d->Reader(), nullptr) << "no handler";
    d->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
    EXPECT_NE(d->Reader(), nullptr);
    delete d;
}

TEST_F(HidReaderTest, ClearingTheHandlerStopsAWaitingReaderAndGivesUpItsRead) {
    THidDevice* d = TakeReading(20);
    ASSERT_TRUE(PumpUntil([&] { return sim->ReadsStarted(path) >= 1; }));
    d->SetDataHandler({});
    EXPECT_EQ(d->Reader(), nullptr);
    EXPECT_EQ(sim->Cancels(path), 1) << "the pending read is given up";
    sim->PushReport(path, {0, 1, 2});
    Pump(50);
    EXPECT_TRUE(rec.reports.empty());
    EXPECT_EQ(sim->PendingInput(path), 1u) << "no reader took the report";
    // The read handle stays open for the next reader, which gets the report.
    d->SetDataHandler(THidDataEvent(&rec, &Recorder::Data));
    ASSERT_TRUE(PumpUntil([&] { return rec.reports.size() == 1; }));
    EXPECT_EQ(sim->Openings(path, HidAccess::Read), 1);
    delete d;
}

TEST_F(HidReaderTest, ReadErrorsReachTheErrorHandlerAndReadingGoesOn) {
    THidDevice* d = TakeReading();
    sim->PushReadError(path, EIO);
    sim->PushReport(path, {0, 0x31});
    sim->PushReadError(path, EPIPE);
    sim->PushReport(path, {0, 0x32});
    ASSERT_TRUE(PumpUntil([&] { return rec.reports.size() == 2; }));
    EXPECT_EQ(rec.errors, (std::vector<uint32_t>{EIO, EPIPE}));
    EXPECT_EQ(rec.reports, (std::vector<Report>{{0, {0x31}}, {0, {0x32}}}));
    delete d;
}

TEST_F(HidReaderTest, UnpluggedTakenDeviceReportsAReadErrorEachTurnUntilCleared) {
    THidDevice* d = TakeReading(10);
    ASSERT_TRUE(PumpUntil([&] { return sim->ReadsStarted(path) >= 1; }));
    sim->Unplug(path, false);
    ctl->DeviceChange();
    EXPECT_FALSE(d->Plugged());
    ASSERT_TRUE(PumpUntil([&] { return rec.errors.size() >= 4; }));
    for (uint32_t e : rec.errors) EXPECT_EQ(e, static_cast<uint32_t>(ENODEV));
    EXPECT_TRUE(rec.reports.empty());
    d->SetDataHandler({});
    EXPECT_EQ(d->Reader(), nullptr);
    const std::size_t errors = rec.errors.size();
    Pump(60);
    EXPECT_EQ(rec.errors.size(), errors) << "no errors after the handler is cleared";
    delete d;
}

// Raises on the first report it sees.
struct RaisingHandler {
    std::vector<Report> reports;
    void Data(THidDevice*, uint8_t id, const uint8_t* data, uint16_t size) {
        reports.push_back({id, std::vector<uint8_t>(data, data + size)});
        if (reports.size() == 1) throw std::runtime_error("handler failed");
    }
};

TEST_F(HidReaderTest, AHandlerThatRaisesEndsTheReadingUntilClearedAndSetAgain) {
    path = PlugQuiet();
    MakeController();
    ctl->SetDevThreadSleepTime(10);
    THidDevice* d = Take(0);
    RaisingHandler h;
    d->SetDataHandler(THidDataEvent(&h, &RaisingHandler::Data));
    sim->PushReport(path, {0, 1});
    ASSERT_TRUE(PumpUntil([&] { return d->Reader() && d->Reader()->Finished(); }));
    sim->PushReport(path, {0, 2});
    Pump(60);
    EXPECT_EQ(h.reports.size(), 1u);
    EXPECT_EQ(sim->PendingInput(path), 1u) << "the ended reader reads no more";

    d->SetDataHandler(THidDataEvent(&h, &RaisingHandler::Data));  // set, not cleared
    Pump(60);
    EXPECT_EQ(h.reports.size(), 1u) << "the ended reader still blocks a new one";

    d->SetDataHandler({});
    EXPECT_EQ(d->Reader(), nullptr);
    d->SetDataHandler(THidDataEvent(&h, &RaisingHandler::Data));
    ASSERT_TRUE(PumpUntil([&] { return h.reports.size() == 2; }));
    EXPECT_EQ(h.reports[1], (Report{0, {2}}));
    delete d;
}

// Stops the reading from inside its own hand-over: by clearing its handler, or by giving the
// device back (deleting it), as a window may do when a nested event loop runs a device change.
struct StoppingHandler {
    enum class How { ClearHandler, GiveBack };
    How how = How::ClearHandler;
    int calls = 0;
    void Data(THidDevice* d, uint8_t, const uint8_t*, uint16_t) {
        ++calls;
        if (how == How::ClearHandler)
            d->SetDataHandler({});
        else
            delete d;
    }
};

TEST_F(HidReaderTest, AHandlerMayStopItsOwnReader) {
    for (const auto how : {StoppingHandler::How::ClearHandler, StoppingHandler::How::GiveBack}) {
        sim = std::make_shared<HidSimBackend>();
        path = PlugQuiet();
        MakeController();
        ctl->SetDevThreadSleepTime(10);
        THidDevice* d = Take(0);
        StoppingHandler h;
        h.how = how;
        d->SetDataHandler(THidDataEvent(&h, &StoppingHandler::Data));
        sim->PushReport(path, {0, 1});
        sim->PushReport(path, {0, 2});
        ASSERT_TRUE(PumpUntil([&] { return h.calls == 1; }));
        Pump(60);
        EXPECT_EQ(h.calls, 1);
        EXPECT_EQ(sim->PendingInput(path), 1u);
        if (how == StoppingHandler::How::ClearHandler) {
            EXPECT_EQ(d->Reader(), nullptr);
            delete d;
        } else {
            ASSERT_EQ(ctl->DeviceCount(), 1);
            EXPECT_FALSE(ctl->Device(0)->Taken()) << "given back";
        }
        EXPECT_EQ(sim->OpenHandles(path), 0);
        ctl.reset();
    }
}

TEST_F(HidReaderTest, TwoDevicesReadIndependently) {
    const std::string a = PlugQuiet(), b = PlugQuiet();
    MakeController();
    ctl->SetDevThreadSleepTime(10);
    Recorder ra, rb;
    THidDevice* da = Take(0);
    THidDevice* db = Take(1);
    da->SetDataHandler(THidDataEvent(&ra, &Recorder::Data));
    db->SetDataHandler(THidDataEvent(&rb, &Recorder::Data));
    for (uint8_t i = 0; i < 20; ++i) {
        sim->PushReport(a, {0, i});
        sim->PushReport(b, {1, static_cast<uint8_t>(100 + i)});
    }
    ASSERT_TRUE(PumpUntil([&] { return ra.reports.size() == 20 && rb.reports.size() == 20; }));
    for (uint8_t i = 0; i < 20; ++i) {
        EXPECT_EQ(ra.reports[i], (Report{0, {i}}));
        EXPECT_EQ(rb.reports[i], (Report{1, {static_cast<uint8_t>(100 + i)}}));
    }
    delete da;
    delete db;
}

// Reports keep arriving from another thread while the GUI thread starts and stops the reader
// over and over: every report reaches the handler exactly once, in order.
TEST_F(HidReaderTest, StartingAndStoppingWhileReportsArriveLosesAndRepeatsNothing) {
    path = PlugQuiet();
    MakeController();
    ctl->SetDevThreadSleepTime(10);
    THidDevice* d = Take(0);
    const THidDataEvent handler(&rec, &Recorder::Data);

    std::atomic<bool> stop{false};
    std::atomic<uint32_t> pushed{0};
    std::thread producer([&] {
        uint32_t n = 0;
        while (!stop) {
            if (sim->PendingInput(path) < 8) {
                sim->PushReport(
                    path, {0, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16)});
                pushed = ++n;
            } else {
                std::this_thread::yield();
            }
        }
    });
    // Stops land before the first read, while a hand-over waits in the event loop, and right
    // after reports were handled.
    int stopsAfterReports = 0;
    for (int cycle = 0; cycle < 1000; ++cycle) {
        d->SetDataHandler(handler);
        if (cycle % 2 == 0) {
            const std::size_t before = rec.reports.size();
            if (PumpUntil([&] { return rec.reports.size() > before; }, 2000)) ++stopsAfterReports;
        } else if (cycle % 3 == 0) {
            QThread::usleep(200);  // the reader is likely waiting in a hand-over now
        }
        d->SetDataHandler({});
        if (cycle % 7 == 0) QCoreApplication::processEvents();
    }
    stop = true;
    producer.join();
    d->SetDataHandler(handler);
    ASSERT_TRUE(PumpUntil([&] { return rec.reports.size() >= pushed; }, 60000));
    d->SetDataHandler({});
    ASSERT_EQ(rec.reports.size(), pushed.load());
    for (uint32_t i = 0; i < rec.reports.size(); ++i) {
        const auto& data = rec.reports[i].data;
        ASSERT_EQ(data.size(), 3u);
        const uint32_t n = data[0] | (data[1] << 8) | (data[2] << 16);
        ASSERT_EQ(n, i) << "report lost or repeated";
    }
    EXPECT_EQ(stopsAfterReports, 500) << "every other cycle saw reports before its stop";
    RecordProperty("reports", static_cast<int>(rec.reports.size()));
    delete d;
}

}  // namespace
