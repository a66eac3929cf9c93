// The cable connection on its own, without a window: its events, and exactly one request
// outstanding at any time, over the simulated cable and over scripted devices.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "common/frames.h"
#include "link/cableconnection.h"
#include "link/hidcontroller.h"
#include "link/hidsim_backend.h"
#include "link/simcable_backend.h"
#include "test_hid_support.h"

namespace {
using namespace hidtest;

// What the connection raised.
struct Seen {
    std::vector<QString> log;
    std::vector<QString> refused;
    int frames = 0;
    int silent = 0;
    int removed = 0;
    int notConnected = 0;
    int maxOutstanding = 0;
    uint64_t maxInFlight = 0;
};

class Connection : public ::testing::Test {
protected:
    void Make(std::shared_ptr<HidBackend> backend) {
        backend_ = std::move(backend);
        ctl_ = std::make_unique<THidDeviceController>(nullptr, backend_);
        link_ = std::make_unique<CableConnection>(st_.Vars(), noFrameTicks_);
        auto& on = link_->On;
        on.LogLine = [this](const QString& l) { seen_.log.push_back(l); };
        on.FrameReady = [this] {
            ++seen_.frames;
            noFrameTicks_ = 0;
            if (sim_) seen_.maxInFlight = std::max(seen_.maxInFlight, sim_->Stats().framesInFlight);
        };
        on.MeterSilent = [this] { ++seen_.silent; };
        on.CableRemoved = [this] { ++seen_.removed; };
        on.AccessRefused = [this](const QString& why) { seen_.refused.push_back(why); };
        on.NotConnected = [this] { ++seen_.notConnected; };
        on.ReportHandled = [this] {
            seen_.maxOutstanding = std::max(seen_.maxOutstanding, link_->OutstandingRequests());
        };
        ctl_->SetOnRemoval(THidPlugEvent::Bind(this, [this](THidDevice* d) { link_->DeviceRemoved(d); }));
    }
    // Takes the device at position i and hands it to the connection.
    THidDevice* TakeCable(int i = 0) {
        THidDevice* d = nullptr;
        EXPECT_TRUE(ctl_->TakeByIndex(i, d));
        taken_.push_back(d);
        link_->SetCable(d);
        return d;
    }
    void TearDown() override {
        link_.reset();
        for (THidDevice* d : taken_) delete d;
        ctl_.reset();
    }
    std::shared_ptr<SimCableBackend> SimCable(int answerDelay = 2) {
        SimCableOptions o;
        o.reportIntervalUs = 0;
        o.answerDelayReports = answerDelay;
        sim_ = std::make_shared<SimCableBackend>(o);
        return sim_;
    }

    cable::CableState st_;
    int32_t noFrameTicks_ = 0;
    std::shared_ptr<HidBackend> backend_;
    std::shared_ptr<SimCableBackend> sim_;
    std::unique_ptr<THidDeviceController> ctl_;
    std::unique_ptr<CableConnection> link_;
    std::vector<THidDevice*> taken_;
    Seen seen_;
};

TEST_F(Connection, FramesFlowWithExactlyOneRequestOutstanding) {
    Make(SimCable());
    TakeCable();
    ASSERT_TRUE(link_->Connect(cable::FeatureBufferForBaud(9600)));
    EXPECT_TRUE(link_->Connected());
    ASSERT_GE(seen_.log.size(), 2u);
    EXPECT_EQ(seen_.log[0], "80 25 00 00 03 00 00 00 00 00 ");
    EXPECT_EQ(seen_.log[1], "02 5A 00 00 00 00 00 00 00 ");
    EXPECT_EQ(link_->OutstandingRequests(), 1);
    ASSERT_TRUE(PumpUntil([&] { return seen_.frames >= 50; }));
    sim_->SetReportBudget(0);
    Pump(20);
    // One request per frame plus the first; never two waiting at once.
    const SimCableStats st = sim_->Stats();
    EXPECT_EQ(st.requests, link_->FramesCompleted() + 1);
    EXPECT_EQ(seen_.maxOutstanding, 1);
    EXPECT_LE(seen_.maxInFlight, 1u);
    EXPECT_EQ(link_->OutstandingRequests(), 1);
    EXPECT_EQ(st.baud, 9600);
    EXPECT_EQ(seen_.silent + seen_.removed + int(seen_.refused.size()) + seen_.notConnected, 0);
}

TEST_F(Connection, SilentMeterIsGivenUpOnceAndTheReadingStops) {
    Make(SimCable());
    THidDevice* d = TakeCable();
    ASSERT_TRUE(link_->Connect(cable::FeatureBufferForBaud(9600)));
    ASSERT_TRUE(PumpUntil([&] { return seen_.frames >= 2; }));
    sim_->SetSilent(true);
    ASSERT_TRUE(PumpUntil([&] {
        link_->Tick();
        return seen_.silent > 0;
    }));
    EXPECT_EQ(seen_.silent, 1);
    EXPECT_FALSE(link_->Connected());
    EXPECT_EQ(d->Reader(), nullptr);
    for (int i = 0; i < 9; ++i) link_->Tick();
    EXPECT_EQ(seen_.silent, 1);
}

TEST_F(Connection, RemovalOfTheCableIsRaisedOnce) {
    Make(SimCable());
    TakeCable();
    ASSERT_TRUE(link_->Connect(cable::FeatureBufferForBaud(9600)));
    ASSERT_TRUE(PumpUntil([&] { return seen_.frames >= 2; }));
    sim_->UnplugCable();
    ASSERT_TRUE(PumpUntil([&] { return seen_.removed > 0; }));
    EXPECT_EQ(seen_.removed, 1);
    EXPECT_FALSE(link_->Connected());
}

TEST_F(Connection, WithoutACableNothingIsSentAndTheCallerIsTold) {
    Make(std::make_shared<HidSimBackend>());
    EXPECT_FALSE(link_->Connect(cable::FeatureBufferForBaud(9600)));
    link_->SendRequest();
    EXPECT_EQ(seen_.notConnected, 2);
    EXPECT_TRUE(seen_.log.empty());
}

// A scripted backend whose devices another program holds.
class HeldElsewhere : public HidSimBackend {
public:
    std::shared_ptr<void> Claim(const std::string&, uint32_t& error) override {
        error = EBUSY;
        return nullptr;
    }
};

struct RefusalCase {
    const char* name;
    std::shared_ptr<HidSimBackend> backend;
    bool writable;
    std::vector<QString> mustName;
};

TEST_F(Connection, AccessRefusedSaysWhy) {
    const std::vector<RefusalCase> cases = {
        {"no read-write access",
         std::make_shared<HidSimBackend>(),
         false,
         {cable::SystemErrorText(EACCES), "70-ms42k-cable.rules"}},
        {"in use by another program",
         std::make_shared<HeldElsewhere>(),
         true,
         {"in use", cable::SystemErrorText(EBUSY)}},
    };
    for (const auto& c : cases) {
        HidSimDeviceProfile p = Profile(u"USB to Serial");
        p.writable = c.writable;
        const std::string path = c.backend->Plug(p, false);
        Make(c.backend);
        TakeCable();
        EXPECT_FALSE(link_->Connect(cable::FeatureBufferForBaud(9600))) << c.name;
        ASSERT_EQ(seen_.refused.size(), 1u) << c.name;
        for (const QString& part : c.mustName)
            EXPECT_TRUE(seen_.refused[0].contains(part)) << c.name << ": " << seen_.refused[0].toStdString();
        EXPECT_EQ(link_->RefusalReason(), seen_.refused[0]) << c.name;
        EXPECT_FALSE(link_->Connected()) << c.name;
        EXPECT_EQ(taken_.back()->Reader(), nullptr) << c.name << ": nothing reads";
        EXPECT_TRUE(c.backend->Writes(path).empty()) << c.name << ": no request";
        TearDown();
        taken_.clear();
        seen_ = {};
    }
}

// An answer the meter sent for a request made before the disconnect waits in the read
// handle; the next connection must not take it for the answer to its own request.
TEST_F(Connection, WhatArrivedWhileNotReadingIsDropped) {
    auto sim = std::make_shared<HidSimBackend>();
    const std::string path = sim->Plug(Profile(u"USB to Serial"), false);
    Make(sim);
    TakeCable();
    ASSERT_TRUE(link_->Connect(cable::FeatureBufferForBaud(9600)));
    ASSERT_TRUE(PumpUntil([&] { return sim->ReadsStarted(path) >= 1; })) << "the read handle is open";
    link_->Disconnect();
    // The answer arrives while nothing reads: the 41-byte frame in 7-byte reports, then idle.
    const std::vector<uint8_t> frame = testframes::FrameBytes(testframes::kTestFrame);
    for (const auto& r : testframes::BurstReports(frame, 0, frame.size(), 9)) sim->PushReport(path, r);
    ASSERT_TRUE(link_->Connect(cable::FeatureBufferForBaud(9600)));
    sim->PushReport(path, {0x00, 0xF0, 0, 0, 0, 0, 0, 0, 0});
    ASSERT_TRUE(PumpUntil([&] { return sim->PendingInput(path) == 0; }));
    Pump(30);
    EXPECT_EQ(seen_.frames, 0) << "the old answer was recorded as a new reading";
    EXPECT_EQ(sim->Writes(path).size(), 2u) << "the two connect requests only";
}

}  // namespace
