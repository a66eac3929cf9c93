// The HID device controller on the scriptable backend: discovery, device changes, taking and
// giving back devices, property propagation, strings and reports written.
#include <cerrno>
#include <optional>

#include "link/hidraw_backend.h"
#include "link/test_hid_support.h"

using namespace hidtest;

// ---------------------------------------------------------------------------------------------
// Events as object-and-method references

TEST(HidEventTest, EqualityIsByMethodPartAndAssignmentByMethod) {
    Recorder a, b;
    static const int tagOne = 0, tagTwo = 0;
    const THidPlugEvent none;
    const THidPlugEvent aArrival(&a, &Recorder::Arrival);
    const THidPlugEvent bArrival(&b, &Recorder::Arrival);
    const THidPlugEvent aRemoval(&a, &Recorder::Removal);
    const auto lambdaOne = THidPlugEvent::Bind(&tagOne, [](THidDevice*) {});
    const auto lambdaOneAgain = THidPlugEvent::Bind(&tagOne, [](THidDevice*) {});
    const auto lambdaTwo = THidPlugEvent::Bind(&tagTwo, [](THidDevice*) {});

    struct Case {
        const char* name;
        const THidPlugEvent& x;
        const THidPlugEvent& y;
        bool equal;
    };
    const Case cases[] = {
        {"same method, other object", aArrival, bArrival, true},
        {"other method, same object", aArrival, aRemoval, false},
        {"none vs method", none, aArrival, false},
        {"none vs none", none, THidPlugEvent(), true},
        {"same tag", lambdaOne, lambdaOneAgain, true},
        {"other tag", lambdaOne, lambdaTwo, false},
        {"tag vs method", lambdaOne, aArrival, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.x == c.y, c.equal) << c.name;
        EXPECT_EQ(c.y == c.x, c.equal) << c.name;
    }
    EXPECT_FALSE(static_cast<bool>(none));
    EXPECT_TRUE(static_cast<bool>(aArrival));
    EXPECT_EQ(bArrival.Object(), &b);
}

TEST(HidEventTest, CallsTheBoundObject) {
    Recorder a, b;
    const THidDataErrorEvent e(&b, &Recorder::Error);
    e(nullptr, 5);
    EXPECT_TRUE(a.errors.empty());
    EXPECT_EQ(b.errors, std::vector<uint32_t>{5});
}

// ---------------------------------------------------------------------------------------------
// Discovery

class HidDiscoveryTest : public HidFixture {};

TEST_F(HidDiscoveryTest, InterfacesThatCannotBeOpenedOrIdentifiedAreLeftOut) {
    struct Case {
        const char* name;
        bool openable, writable, identifiable;
        bool listed;
        bool readWrite;
    };
    const Case cases[] = {
        {"ordinary", true, true, true, true, true},
        {"queries only", true, false, true, true, false},
        {"cannot be opened", false, true, true, false, false},
        {"cannot be identified", true, true, false, false, false},
        {"queries only, cannot be identified", true, false, false, false, false},
    };
    std::vector<std::string> paths;
    for (const Case& c : cases) {
        HidSimDeviceProfile s;
        s.openable = c.openable;
        s.writable = c.writable;
        s.identifiable = c.identifiable;
        paths.push_back(PlugQuiet(s));
    }
    MakeController();
    const std::vector<std::string> listed = ListedPaths();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        const auto it = std::find(listed.begin(), listed.end(), paths[i]);
        ASSERT_EQ(it != listed.end(), c.listed) << c.name;
        if (!c.listed) continue;
        THidDevice* d = ctl->Device(static_cast<int32_t>(it - listed.begin()));
        EXPECT_EQ(d->ReadWriteAccess(), c.readWrite) << c.name;
        EXPECT_EQ(d->AccessNote().isEmpty(), c.readWrite) << c.name;
        EXPECT_TRUE(d->Plugged()) << c.name;
        EXPECT_FALSE(d->Taken()) << c.name;
        EXPECT_EQ(sim->OpenHandles(paths[i]), 0) << c.name << ": scan leaves handles open";
    }
}

TEST_F(HidDiscoveryTest, LeftOutInterfacesProduceNoArrival) {
    MakeController();
    ctl->SetOnArrival(THidPlugEvent(&rec, &Recorder::Arrival));
    HidSimDeviceProfile broken;
    broken.identifiable = false;
    sim->Plug(broken, false);
    HidSimDeviceProfile closed;
    closed.openable = false;
    sim->Plug(closed, false);
    const std::string good = sim->Plug({}, false);
    ctl->DeviceChange();
    EXPECT_EQ(rec.log, std::vector<std::string>{"arrival " + good});
}

TEST_F(HidDiscoveryTest, NoAccessInterfaceIsListedAndQueryableButGetsNoReader) {
    HidSimDeviceProfile keyboard = Profile(u"Keyboard");
    keyboard.writable = false;
    keyboard.attributes.VendorID = 0x046D;
    keyboard.attributes.ProductID = 0xC31C;
    const std::string path = PlugQuiet(keyboard);
    MakeController();
    ctl->SetOnDeviceData(THidDataEvent(&rec, &Recorder::Data));
    THidDevice* d = Take(0);
    ASSERT_NE(d, nullptr);
    EXPECT_FALSE(d->ReadWriteAccess());
    EXPECT_EQ(d->Reader(), nullptr);
    EXPECT_EQ(d->ProductText(), QStringLiteral("Keyboard"));
    EXPECT_EQ(d->HiddAttributes().VendorID, 0x046D);
    EXPECT_EQ(d->HiddAttributes().ProductID, 0xC31C);
    EXPECT_EQ(d->HiddAttributes().Size, 12u);
    EXPECT_EQ(d->QueryCaps().InputReportByteLength, 9);
    EXPECT_TRUE(d->AccessNote().contains(QString::fromLatin1(kHidrawUdevRule)));
    EXPECT_TRUE(d->AccessNote().contains(QString::fromStdString(path)));
    const uint8_t report[3] = {0, 1, 2};
    uint32_t written = 99;
    EXPECT_FALSE(d->SendFeature(report, 3));
    EXPECT_FALSE(d->WriteReport(report, 3, written));
    EXPECT_EQ(written, 0u);
    delete d;
}

TEST_F(HidDiscoveryTest, FirstAssignmentOfOnDeviceChangeReportsOnce) {
    PlugQuiet();
    MakeController();
    const std::string before = sim->Plug({}, false);
    ctl->SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));
    EXPECT_EQ(rec.changes, 1) << "first assignment runs a device change and reports it";
    EXPECT_EQ(rec.changeSender, ctl.get());

    const int scansBefore = sim->Openings(before, HidAccess::ReadWrite);
    ctl->SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));  // the same method
    EXPECT_EQ(sim->Openings(before, HidAccess::ReadWrite), scansBefore) << "assigning an equal handler does nothing";

    ctl->SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::OtherChange));
    EXPECT_EQ(rec.otherChanges, 0) << "a later assignment runs a device change; nothing changed";
    ctl->DeviceChange();
    EXPECT_EQ(rec.otherChanges, 0) << "nothing changed: no report";
    sim->Plug({}, false);
    ctl->DeviceChange();
    EXPECT_EQ(rec.otherChanges, 1) << "an arrival is reported";
    EXPECT_EQ(rec.changes, 1);
}

TEST_F(HidDiscoveryTest, DeviceChangeReportsRemovalsFromTheEndThenArrivalsInScanOrder) {
    const std::string a = PlugQuiet(), b = PlugQuiet(), c = PlugQuiet();
    MakeController();
    ctl->SetOnArrival(THidPlugEvent(&rec, &Recorder::Arrival));
    ctl->SetOnRemoval(THidPlugEvent(&rec, &Recorder::Removal));
    ctl->SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));
    rec.log.clear();
    rec.accessibleInCallback.clear();

    sim->Unplug(a, false);
    sim->Unplug(c, false);
    const std::string d = sim->Plug({}, false), e = sim->Plug({}, false);
    THidDevice* keptB = ctl->Device(1);
    ctl->DeviceChange();

    const std::vector<std::string> expected = {"removal " + c, "removal " + a, "arrival " + d, "arrival " + e,
                                               "change"};
    EXPECT_EQ(rec.log, expected);
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{b, d, e}));
    EXPECT_EQ(ctl->Device(0), keptB) << "a device still present is kept, not replaced";
    // In OnRemoval the device is unplugged (so not accessible); in OnArrival it is accessible.
    EXPECT_EQ(rec.accessibleInCallback, (std::vector<bool>{false, false, true, true}));
    for (int32_t i = 0; i < ctl->DeviceCount(); ++i) EXPECT_FALSE(ctl->Device(i)->InCallback());
}

TEST_F(HidDiscoveryTest, RescanDiscardsDuplicatesOfListedDevices) {
    const std::string a = PlugQuiet(), b = PlugQuiet();
    MakeController();
    THidDevice* first = ctl->Device(0);
    THidDevice* second = ctl->Device(1);
    ctl->SetOnArrival(THidPlugEvent(&rec, &Recorder::Arrival));
    for (int run = 0; run < 3; ++run) ctl->DeviceChange();
    EXPECT_TRUE(rec.log.empty());
    ASSERT_EQ(ctl->DeviceCount(), 2);
    EXPECT_EQ(ctl->Device(0), first);
    EXPECT_EQ(ctl->Device(1), second);
    EXPECT_EQ(sim->OpenHandles(a) + sim->OpenHandles(b), 0) << "discarded duplicates closed";
}

TEST_F(HidDiscoveryTest, UnpluggedTakenDeviceStaysListedAndIsRemovedAgainEachChange) {
    const std::string a = PlugQuiet(), b = PlugQuiet();
    MakeController();
    ctl->SetOnRemoval(THidPlugEvent(&rec, &Recorder::Removal));
    ctl->SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));
    THidDevice* taken = Take(0);
    taken->SetUnplugHandler(THidPlugEvent(&rec, &Recorder::Unplug));
    rec.log.clear();
    sim->Unplug(a, false);
    ctl->DeviceChange();
    ctl->DeviceChange();
    EXPECT_EQ(rec.log, (std::vector<std::string>{"removal " + a, "change", "removal " + a, "change"}));
    EXPECT_EQ(rec.unplugged, std::vector<THidDevice*>{taken}) << "unplug handler runs once";
    EXPECT_FALSE(taken->Plugged());
    EXPECT_EQ(ListedPaths(), (std::vector<std::string>{a, b}));
    delete taken;
    EXPECT_EQ(ListedPaths(), std::vector<std::string>{b});
}

TEST_F(HidDiscoveryTest, BackendNotificationRunsDeviceChangeOnTheGuiThread) {
    MakeController();
    ctl->SetOnArrival(THidPlugEvent(&rec, &Recorder::Arrival));
    ctl->SetOnRemoval(THidPlugEvent(&rec, &Recorder::Removal));
    const std::string a = sim->Plug({});  // announced
    ASSERT_TRUE(PumpUntil([&] { return rec.log.size() == 1; }));
    EXPECT_EQ(rec.log[0], "arrival " + a);
    sim->Unplug(a);
    ASSERT_TRUE(PumpUntil([&] { return rec.log.size() == 2; }));
    EXPECT_EQ(rec.log[1], "removal " + a);
    EXPECT_TRUE(sim->Watching());
    ctl.reset();
    EXPECT_FALSE(sim->Watching()) << "destruction removes the hook";
}

TEST_F(HidDiscoveryTest, WithoutHidServicesNothingIsListedOrWatched) {
    PlugQuiet();
    sim->SetAvailable(false);
    MakeController();
    EXPECT_EQ(ctl->DeviceCount(), 0);
    EXPECT_FALSE(sim->Watching());
    ctl->SetOnDeviceChange(TNotifyEvent(&rec, &Recorder::Change));
    EXPECT_EQ(rec.changes, 1) << "the first assignment still reports";
}

TEST_F(HidDiscoveryTest, OnlyOneControllerPerProgram) {
    PlugQuiet();
    MakeController();
    auto other = std::make_shared<HidSimBackend>();
    try {
        THidDeviceController second(nullptr, other);
        FAIL() << "a second controller was accepted";
    } catch (const EControllerError& e) {
        EXPECT_STREQ(e.what(), "Only one THidDeviceController allowed per program");
    }
    EXPECT_FALSE(other->Watching());
    // The first keeps working.
    ctl->SetOnArrival(THidPlugEvent(&rec, &Recorder::Arrival));
    const std::string b = sim->Plug({}, false);
    ctl->DeviceChange();
    EXPECT_EQ(rec.log, std::vector<std::string>{"arrival " + b});
    // Once it is gone, a new one may be made.
    ctl.reset();
    EXPECT_NO_THROW(MakeController());
    EXPECT_EQ(ctl->DeviceCount(), 2);
}

// ---------------------------------------------------------------------------------------------
// Taking, enumerating and giving back

class HidTakeTest : public HidFixture {};

TEST_F(HidTakeTest, TakeByIndexRefusesPositionsOutsideTheListAndTakenDevices) {
    PlugQuiet();
    PlugQuiet();
    MakeController();
    THidDevice* first = nullptr;
    ASSERT_TRUE(ctl->TakeByIndex(0, first));
    struct Case {
        int32_t index;
        bool ok;
    };
    for (const Case c :
         {Case{-1, false}, Case{2, false}, Case{100, false}, Case{0, false}, Case{1, true}, Case{1, false}}) {
        THidDevice* d = reinterpret_cast<THidDevice*>(&rec);  // must be overwritten
        EXPECT_EQ(ctl->TakeByIndex(c.index, d), c.ok) << c.index;
        EXPECT_EQ(d != nullptr, c.ok) << c.index;
        if (d) {
            EXPECT_TRUE(d->Taken());
        }
    }
    delete ctl->Device(1);
    delete first;
}

TEST_F(HidTakeTest, EnumerateDevicesWalksPluggedDevicesInsideTheCallback) {
    const std::string a = PlugQuiet(), b = PlugQuiet(), c = PlugQuiet();
    MakeController();
    THidDevice* taken = Take(1);
    sim->Unplug(b, false);
    ctl->DeviceChange();  // b stays listed, unplugged
    ASSERT_EQ(ctl->DeviceCount(), 3);

    struct Case {
        const char* name;
        bool handler;
        bool goOn;
        int32_t count;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {"walks every plugged device", true, true, 2, {"enumerate 0 " + a, "enumerate 2 " + c}},
        {"stops when told", true, false, 1, {"enumerate 0 " + a}},
        {"without a handler stops after the first", false, true, 1, {}},
    };
    for (const Case& k : cases) {
        rec.log.clear();
        rec.accessibleInCallback.clear();
        rec.enumerateGoOn = k.goOn;
        ctl->SetOnEnumerate(k.handler ? THidEnumerateEvent(&rec, &Recorder::Enumerate) : THidEnumerateEvent());
        EXPECT_EQ(ctl->EnumerateDevices(), k.count) << k.name;
        EXPECT_EQ(rec.log, k.log) << k.name;
        for (bool acc : rec.accessibleInCallback) EXPECT_TRUE(acc) << k.name;
    }
    delete taken;
}

TEST_F(HidTakeTest, EnumerateDevicesWithoutPluggedDevicesCountsNothing) {
    MakeController();
    EXPECT_EQ(ctl->EnumerateDevices(), 0);
}

TEST_F(HidTakeTest, EnumerateClosesHandlesOfDevicesNotTaken) {
    const std::string a = PlugQuiet(), b = PlugQuiet();
    MakeController();
    // The handler sends a feature report (opening the main handle) and takes only b.
    static const int tag = 0;
    ctl->SetOnEnumerate(THidEnumerateEvent::Bind(&tag, [this](THidDevice* d, int32_t idx) {
        const uint8_t f[2] = {0, 1};
        EXPECT_TRUE(d->SendFeature(f, 2));
        if (idx == 1) {
            THidDevice* t = nullptr;
            EXPECT_TRUE(ctl->TakeByIndex(idx, t));
        }
        return true;
    }));
    EXPECT_EQ(ctl->EnumerateDevices(), 2);
    EXPECT_EQ(sim->OpenHandles(a), 0);
    EXPECT_EQ(sim->OpenHandles(b), 1) << "the taken device keeps its main handle";
    delete ctl->Device(1);
    EXPECT_EQ(sim->OpenHandles(b), 0);
}

TEST_F(HidTakeTest, GivingBackAPluggedDeviceLeavesAFreshUntakenOneAtItsPosition) {
    const std::string a = PlugQuiet(), b = PlugQuiet(), c = PlugQuiet();
    MakeController();
    THidDevice* d = Take(1);
    const THidDataEvent data(&rec, &Recorder::Data);
    const THidPlugEvent unplug(&rec, &Recorder::Unplug);
    d->SetDataHandler(data);
    d->SetUnplugHandler(unplug);
    d->SetReaderSleepTime(250);
    ASSERT_NE(d->Reader(), nullptr);
    delete d;

    ASSERT_EQ(ListedPaths(), (std::vector<std::string>{a, b, c}));
    THidDevice* fresh = ctl->Device(1);
    EXPECT_FALSE(fresh->Taken());
    EXPECT_TRUE(fresh->Plugged());
    EXPECT_TRUE(fresh->DataHandler() == data);
    EXPECT_TRUE(fresh->UnplugHandler() == unplug);
    EXPECT_EQ(fresh->ReaderSleepTime(), 250);
    EXPECT_EQ(fresh->Reader(), nullptr) << "an untaken device does not read";
    EXPECT_EQ(fresh->Controller(), ctl.get());
    EXPECT_EQ(sim->OpenHandles(b), 0);
    // It can be taken again and then reads.
    THidDevice* again = Take(1);
    EXPECT_EQ(again, fresh);
    EXPECT_NE(again->Reader(), nullptr);
    delete again;
}

TEST_F(HidTakeTest, GivingBackShortensTheListWhenTheDeviceIsGoneOrCannotBeReopened) {
    struct Case {
        const char* name;
        bool unplug;       // pulled out and reported
        bool stopOpening;  // still present but cannot be opened any more
    };
    for (const Case& k : {Case{"unplugged", true, false}, Case{"cannot be reopened", false, true}}) {
        sim = std::make_shared<HidSimBackend>();
        const std::string a = PlugQuiet(), b = PlugQuiet();
        MakeController();
        THidDevice* d = Take(0);
        if (k.unplug) {
            sim->Unplug(a, false);
            ctl->DeviceChange();
        }
        if (k.stopOpening) {
            HidSimDeviceProfile s;
            s.openable = false;
            sim->Modify(a, s);
        }
        delete d;
        EXPECT_EQ(ListedPaths(), std::vector<std::string>{b}) << k.name;
        ctl.reset();
    }
}

TEST_F(HidTakeTest, ControllerDestructionUnplugsTakenDevicesWhichTheApplicationDeletesLater) {
    const std::string a = PlugQuiet();
    PlugQuiet();
    MakeController();
    ctl->SetOnDeviceUnplug(THidPlugEvent(&rec, &Recorder::Unplug));
    ctl->SetOnDeviceData(THidDataEvent(&rec, &Recorder::Data));
    THidDevice* d = Take(0);
    ASSERT_NE(d->Reader(), nullptr);
    ctl.reset();
    EXPECT_EQ(rec.unplugged, std::vector<THidDevice*>{d});
    EXPECT_FALSE(d->Plugged());
    EXPECT_EQ(d->Controller(), nullptr);
    EXPECT_EQ(sim->OpenHandles(a), 0);
    delete d;  // the reader stops; nothing else to give back to
}

// ---------------------------------------------------------------------------------------------
// Property propagation

class HidPropertyTest : public HidFixture {};

TEST_F(HidPropertyTest, ReaderSleepTimeAcceptsTenToTenThousand) {
    PlugQuiet();
    MakeController();
    THidDevice* d = ctl->Device(0);
    struct Case {
        int32_t value;
        int32_t expected;
    };
    for (const Case c : {Case{5, 100}, Case{9, 100}, Case{10, 10}, Case{10000, 10000}, Case{10001, 10000},
                         Case{20000, 10000}, Case{-1, 10000}, Case{333, 333}}) {
        d->SetReaderSleepTime(c.value);
        EXPECT_EQ(d->ReaderSleepTime(), c.expected) << c.value;
    }
}

TEST_F(HidPropertyTest, DevThreadSleepTimeReachesDevicesThatStillFollowIt) {
    PlugQuiet();
    PlugQuiet();
    MakeController();
    ctl->Device(1)->SetReaderSleepTime(400);  // its own value
    struct Step {
        int32_t set;
        int32_t property;
        int32_t device0;
        int32_t device1;
    };
    const Step steps[] = {
        {50, 50, 50, 400},
        {5, 5, 50, 400},    // out of range for devices: stored by the controller only
        {70, 70, 50, 400},  // no device equals 5 any more: nobody follows
        {70, 70, 50, 400},
    };
    for (const Step& s : steps) {
        ctl->SetDevThreadSleepTime(s.set);
        EXPECT_EQ(ctl->DevThreadSleepTime(), s.property) << s.set;
        EXPECT_EQ(ctl->Device(0)->ReaderSleepTime(), s.device0) << s.set;
        EXPECT_EQ(ctl->Device(1)->ReaderSleepTime(), s.device1) << s.set;
    }
}

TEST_F(HidPropertyTest, VersionIsFixed) {
    MakeController();
    ctl->SetVersion(QStringLiteral("9.9"));
    EXPECT_EQ(ctl->Version(), QStringLiteral("1.0.22"));
}

TEST_F(HidPropertyTest, HandlerPropertiesReachDevicesWithTheOldControllerValue) {
    PlugQuiet();
    PlugQuiet();
    PlugQuiet();
    MakeController();
    Recorder other;
    // Device 1 gets handlers of its own; the others follow the controller.
    ctl->Device(1)->SetDataHandler(THidDataEvent(&rec, &Recorder::OtherData));
    ctl->Device(1)->SetDataErrorHandler(THidDataErrorEvent(&rec, &Recorder::OtherError));
    ctl->Device(1)->SetUnplugHandler(THidPlugEvent(&rec, &Recorder::OtherUnplug));

    ctl->SetOnDeviceData(THidDataEvent(&rec, &Recorder::Data));
    ctl->SetOnDeviceDataError(THidDataErrorEvent(&rec, &Recorder::Error));
    ctl->SetOnDeviceUnplug(THidPlugEvent(&rec, &Recorder::Unplug));
    for (int32_t i : {0, 2}) {
        EXPECT_TRUE(ctl->Device(i)->DataHandler() == THidDataEvent(&rec, &Recorder::Data));
        EXPECT_TRUE(ctl->Device(i)->DataErrorHandler() == THidDataErrorEvent(&rec, &Recorder::Error));
        EXPECT_TRUE(ctl->Device(i)->UnplugHandler() == THidPlugEvent(&rec, &Recorder::Unplug));
    }
    EXPECT_TRUE(ctl->Device(1)->DataHandler() == THidDataEvent(&rec, &Recorder::OtherData));
    EXPECT_TRUE(ctl->Device(1)->DataErrorHandler() == THidDataErrorEvent(&rec, &Recorder::OtherError));
    EXPECT_TRUE(ctl->Device(1)->UnplugHandler() == THidPlugEvent(&rec, &Recorder::OtherUnplug));

    // The same method on another object counts as the same value: nothing moves.
    ctl->SetOnDeviceData(THidDataEvent(&other, &Recorder::Data));
    EXPECT_EQ(ctl->OnDeviceData().Object(), &rec);
    EXPECT_EQ(ctl->Device(0)->DataHandler().Object(), &rec);

    // Clearing passes on to the followers only.
    ctl->SetOnDeviceData({});
    EXPECT_FALSE(static_cast<bool>(ctl->Device(0)->DataHandler()));
    EXPECT_TRUE(static_cast<bool>(ctl->Device(1)->DataHandler()));
    // New devices start with the controller's values.
    ctl->SetOnDeviceData(THidDataEvent(&rec, &Recorder::Data));
    sim->Plug({}, false);
    ctl->DeviceChange();
    EXPECT_TRUE(ctl->Device(3)->DataHandler() == THidDataEvent(&rec, &Recorder::Data));
    EXPECT_TRUE(ctl->Device(3)->UnplugHandler() == THidPlugEvent(&rec, &Recorder::Unplug));
    EXPECT_EQ(ctl->Device(3)->ReaderSleepTime(), 100);
}

TEST_F(HidPropertyTest, SettingOnDeviceDataStartsAndStopsReadersOfTakenDevices) {
    PlugQuiet();
    MakeController();
    THidDevice* d = Take(0);
    EXPECT_EQ(d->Reader(), nullptr);
    ctl->SetOnDeviceData(THidDataEvent(&rec, &Recorder::Data));
    EXPECT_NE(d->Reader(), nullptr);
    ctl->SetOnDeviceData({});
    EXPECT_EQ(d->Reader(), nullptr);
    delete d;
}

// ---------------------------------------------------------------------------------------------
// Strings and reports written

class HidStringTest : public HidFixture {};

TEST_F(HidStringTest, SerialNumberIsTakenOnlyWhenItDiffersFromStringDescriptorZero) {
    using Text = std::optional<std::u16string>;
    const std::u16string english(u"\u0409", 1);
    const std::u16string englishZ = english + u'\0';
    struct Case {
        const char* name;
        Text serial;
        Text languages;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"ordinary serial", u"A1B2C3", englishZ, u"A1B2C3"},
        {"descriptor 0 without terminator", u"A1B2C3", english, u"A1B2C3"},
        {"descriptor 0 answers nothing", u"A1B2C3", std::nullopt, u""},
        {"descriptor 0 is empty", u"A1B2C3", std::u16string(1, u'\0'), u""},
        {"serial is the language list", englishZ, englishZ, u""},
        {"serial starts with the language list", english + u"XYZ", englishZ, u""},
        {"two languages, serial differs in the second", english + u"\u0407", english + u"\u0409" + u'\0',
         u"\u0409\u0407"},
        {"serial query fails", std::nullopt, englishZ, u""},
        {"empty serial", u"", englishZ, u""},
    };
    for (const Case& c : cases) {
        sim = std::make_shared<HidSimBackend>();
        HidSimDeviceProfile s;
        s.serial = c.serial;
        s.languages = c.languages;
        PlugQuiet(s);
        MakeController();
        THidDevice* d = Take(0);
        EXPECT_EQ(d->SerialText(), QString::fromUtf16(c.expected)) << c.name;
        delete d;
        ctl.reset();
    }
}

TEST_F(HidStringTest, StringsAreCachedOnceReadAndAskedAgainWhileEmpty) {
    HidSimDeviceProfile s;
    s.product = std::nullopt;
    s.serial = std::nullopt;
    const std::string path = PlugQuiet(s);
    MakeController();
    THidDevice* listed = ctl->Device(0);
    s.product = u"USB to Serial";
    s.serial = u"0001";
    sim->Modify(path, s);
    EXPECT_TRUE(listed->ProductText().isEmpty()) << "an untaken device is not asked";

    THidDevice* d = Take(0);
    sim->Modify(path, HidSimDeviceProfile{.product = std::nullopt, .serial = std::nullopt});
    EXPECT_TRUE(d->ProductText().isEmpty());
    EXPECT_TRUE(d->SerialText().isEmpty());
    sim->Modify(path, s);
    EXPECT_EQ(d->ProductText(), QStringLiteral("USB to Serial")) << "asked again";
    EXPECT_EQ(d->SerialText(), QStringLiteral("0001"));
    HidSimDeviceProfile changed = s;
    changed.product = u"Other";
    changed.serial = u"0002";
    sim->Modify(path, changed);
    EXPECT_EQ(d->ProductText(), QStringLiteral("USB to Serial")) << "cached";
    EXPECT_EQ(d->SerialText(), QStringLiteral("0001")) << "cached";
    EXPECT_EQ(sim->OpenHandles(path), 0) << "queries close the main handle";
    delete d;
}

TEST_F(HidStringTest, LongStringsStopAt254Units) {
    HidSimDeviceProfile s;
    s.product = std::u16string(300, u'p');
    PlugQuiet(s);
    MakeController();
    THidDevice* d = Take(0);
    EXPECT_EQ(d->ProductText(), QString(254, QChar(u'p')));
    delete d;
}

TEST_F(HidStringTest, QueryCapsIsZeroWithoutADescriptor) {
    HidSimDeviceProfile noCaps;
    noCaps.caps = std::nullopt;
    HidSimDeviceProfile caps;
    caps.caps->InputReportByteLength = 33;
    caps.caps->OutputReportByteLength = 17;
    caps.caps->UsagePage = 0xFF00;
    PlugQuiet(noCaps);
    PlugQuiet(caps);
    MakeController();
    THidDevice* a = Take(0);
    THidDevice* b = Take(1);
    const HIDP_CAPS none = a->QueryCaps();
    const HIDP_CAPS zero{};
    EXPECT_EQ(std::memcmp(&none, &zero, sizeof zero), 0);
    EXPECT_EQ(b->QueryCaps().InputReportByteLength, 33);
    EXPECT_EQ(b->QueryCaps().OutputReportByteLength, 17);
    EXPECT_EQ(b->QueryCaps().UsagePage, 0xFF00);
    delete a;
    delete b;
}

TEST_F(HidStringTest, FeatureAndOutputReportsReachTheDeviceOrReportFailure) {
    struct Case {
        const char* name;
        bool taken;
        bool acceptsFeature;
        bool acceptsWrite;
        bool featureOk;
        bool writeOk;
    };
    const Case cases[] = {
        {"taken, accepted", true, true, true, true, true},
        {"taken, refused", true, false, false, false, false},
        {"not taken", false, true, true, false, false},
    };
    for (const Case& c : cases) {
        sim = std::make_shared<HidSimBackend>();
        HidSimDeviceProfile s;
        s.acceptsFeature = c.acceptsFeature;
        s.acceptsWrite = c.acceptsWrite;
        const std::string path = PlugQuiet(s);
        MakeController();
        THidDevice* d = c.taken ? Take(0) : ctl->Device(0);
        const std::vector<uint8_t> feature = {0x00, 0x80, 0x25, 0, 0, 0x03, 0, 0, 0, 0};
        const std::vector<uint8_t> request = {0x00, 0x02, 0x5A, 0x00, 0, 0, 0, 0, 0};
        uint32_t written = 77;
        EXPECT_EQ(d->SendFeature(feature.data(), 10), c.featureOk) << c.name;
        EXPECT_EQ(d->WriteReport(request.data(), 9, written), c.writeOk) << c.name;
        EXPECT_EQ(written, c.writeOk ? 9u : 0u) << c.name;
        EXPECT_EQ(sim->Features(path),
                  c.featureOk ? std::vector<std::vector<uint8_t>>{feature} : std::vector<std::vector<uint8_t>>{})
            << c.name;
        EXPECT_EQ(sim->Writes(path),
                  c.writeOk ? std::vector<std::vector<uint8_t>>{request} : std::vector<std::vector<uint8_t>>{})
            << c.name;
        EXPECT_EQ(sim->OpenHandles(path), c.taken ? 1 : 0) << c.name << ": main handle stays open";
        if (c.taken) delete d;
        ctl.reset();
    }
}
