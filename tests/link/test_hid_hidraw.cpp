// The system's HID backend on this machine: scanning lists exactly the hidraw nodes present,
// bogus paths fail cleanly, and a controller over it starts and stops.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <set>
#include <string>

#include "link/hidcontroller.h"
#include "link/hidraw_backend.h"

namespace {

std::set<std::string> HidrawNodes() {
    std::set<std::string> nodes;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator("/dev", ec)) {
        const std::string name = e.path().filename().string();
        if (name.rfind("hidraw", 0) == 0) nodes.insert(e.path().string());
    }
    return nodes;
}

TEST(HidrawBackendTest, ScanListsTheHidrawNodesPresent) {
    auto backend = MakeHidrawBackend();
    ASSERT_TRUE(backend->Available());
    std::set<std::string> scanned, instances;
    for (const HidInterfaceInfo& i : backend->Enumerate()) {
        scanned.insert(i.path);
        instances.insert(i.instance);
        EXPECT_FALSE(i.instance.empty()) << i.path;
    }
    EXPECT_EQ(scanned, HidrawNodes());
    EXPECT_EQ(instances.size(), scanned.size()) << "identities are distinct";
}

TEST(HidrawBackendTest, BogusPathsFailCleanly) {
    auto backend = MakeHidrawBackend();
    struct Case {
        const char* path;
        HidAccess access;
        uint32_t error;
    };
    const Case cases[] = {
        {"/dev/hidraw-does-not-exist", HidAccess::ReadWrite, ENOENT},
        {"/dev/hidraw-does-not-exist", HidAccess::Read, ENOENT},
        {"/dev/hidraw-does-not-exist", HidAccess::None, ENOENT},
        {"", HidAccess::ReadWrite, ENOENT},
        {"/tmp", HidAccess::None, ENODEV},
    };
    for (const Case& c : cases) {
        uint32_t error = 0;
        EXPECT_EQ(backend->Open(c.path, c.access, error), nullptr) << c.path;
        EXPECT_EQ(error, c.error) << c.path;
    }
}

TEST(HidrawBackendTest, ACharacterDeviceThatIsNoHidDeviceCannotBeIdentified) {
    auto backend = MakeHidrawBackend();
    uint32_t error = 0;
    auto h = backend->Open("/dev/null", HidAccess::None, error);
    ASSERT_NE(h, nullptr);
    HIDD_ATTRIBUTES a;
    EXPECT_FALSE(h->GetAttributes(a));
    HIDP_CAPS caps;
    EXPECT_FALSE(h->GetCaps(caps));
    char16_t text[kHidStringUnits] = {u'x', 0};
    EXPECT_FALSE(h->GetProductString(text, kHidStringUnits));
    EXPECT_EQ(text[0], u'x') << "a failed query leaves the buffer alone";
    uint32_t written = 5;
    const uint8_t report[2] = {0, 1};
    EXPECT_FALSE(h->SetFeature(report, 2));
    EXPECT_FALSE(h->Write(report, 2, written));
    EXPECT_EQ(written, 0u);
    uint8_t buffer[4];
    EXPECT_EQ(h->Read(buffer, 4, 10).status, HidReadStatus::Failed);
    h->Close();
    EXPECT_EQ(h->Read(buffer, 4, 10).status, HidReadStatus::Aborted);
}

TEST(HidrawBackendTest, ControllerOverTheSystemBackendListsAtMostTheNodes) {
    const std::size_t nodes = HidrawNodes().size();
    auto ctl = std::make_unique<THidDeviceController>();  // the system's backend
    EXPECT_LE(static_cast<std::size_t>(ctl->DeviceCount()), nodes);
    if (nodes == 0) {
        EXPECT_EQ(ctl->DeviceCount(), 0);
        EXPECT_EQ(ctl->EnumerateDevices(), 0);
    }
    EXPECT_TRUE(ctl->Backend().Watching());
    ctl->DeviceChange();
    QCoreApplication::processEvents();
    ctl.reset();
}

}  // namespace
