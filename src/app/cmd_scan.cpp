// ms42k scan: every HID device as the controller finds it, with its name as the window lists
// it, its vendor and product numbers, its node, its serial number and the access this user
// has; the entry the window would select as the cable is marked. Exit status 0 when the
// cable is present and can be used, 1 otherwise, 2 for a usage error.
//
//   ms42k scan [--simulate]
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QStringList>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

#include "app/cli.h"
#include "link/cablelink.h"
#include "link/hidcontroller.h"
#include "link/simcable_backend.h"

namespace {

struct Entry {
    QString name;
    QString ids;
    QString node;
    QString serial;
    QString access;  // read-write, read-only or none, with the reason
    bool usable = false;
};

// The access this user has to a device, and why not more.
Entry Describe(THidDevice* d, THidDeviceController& ctl) {
    Entry e;
    const HIDD_ATTRIBUTES a = d->HiddAttributes();
    e.name = cable::DeviceDisplayName(d->ProductText(), d->SerialText(), a.VendorID, a.ProductID);
    e.ids = QStringLiteral("%1:%2")
                .arg(a.VendorID, 4, 16, QLatin1Char('0'))
                .arg(a.ProductID, 4, 16, QLatin1Char('0'))
                .toUpper();
    const std::string path = d->DeviceInfo().DevicePath;
    e.node = QString::fromStdString(path);
    e.serial = d->SerialText().isEmpty() ? QStringLiteral("-") : d->SerialText();
    if (d->ReadWriteAccess()) {
        uint32_t error = 0;
        if (std::shared_ptr<void> claim = d->Claim(error)) {
            e.access = QStringLiteral("read-write");
            e.usable = true;
        } else {
            e.access =
                QStringLiteral("read-write, but in use by another program: %1").arg(cable::SystemErrorText(error));
        }
        return e;
    }
    bool readable;
    if (!path.empty() && path[0] == '/') {
        readable = ::access(path.c_str(), R_OK) == 0;
    } else {
        uint32_t error = 0;
        readable = ctl.Backend().Open(path, HidAccess::Read, error) != nullptr;
    }
    e.access =
        (readable ? QStringLiteral("read-only (") : QStringLiteral("none (")) + d->AccessNote() + QStringLiteral(")");
    return e;
}

}  // namespace

int CmdScan(const CliArgs& args) {
    const auto ownApp = SubcommandApplication();
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Lists every HID device: its name as the window lists it, VID:PID, node, serial number and\n"
                       "the access this user has. '*' marks the device the window would select as the cable.\n"
                       "Exit status: 0 when the cable is present and can be used, 1 otherwise."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("This text."));
    const QCommandLineOption simulate(QStringLiteral("simulate"),
                                      QStringLiteral("List the simulated cable instead of the system's devices."));
    parser.addOption(help);
    parser.addOption(simulate);
    QStringList list{QStringLiteral("ms42k scan")};
    for (const auto& a : args) list << QString::fromStdString(a);
    if (!parser.parse(list) || !parser.positionalArguments().isEmpty()) {
        const QString why = parser.errorText().isEmpty()
                                ? QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().value(0))
                                : parser.errorText();
        std::fprintf(stderr, "ms42k scan: %s\nusage: ms42k scan [--simulate]\n", why.toLocal8Bit().constData());
        return 2;
    }
    if (parser.isSet(help)) {
        std::printf("usage: ms42k scan [--simulate]\n\n%s\n",
                    parser.helpText().section(QLatin1Char('\n'), 1).toLocal8Bit().constData());
        return 0;
    }

    std::shared_ptr<HidBackend> backend;
    if (parser.isSet(simulate)) backend = std::make_shared<SimCableBackend>();
    THidDeviceController ctl(nullptr, backend);
    std::vector<Entry> entries;
    std::vector<THidDevice*> taken;
    ctl.SetOnEnumerate(THidEnumerateEvent::Bind(&entries, [&](THidDevice*, int32_t i) {
        THidDevice* t = nullptr;
        if (ctl.TakeByIndex(i, t) && t) {
            taken.push_back(t);
            entries.push_back(Describe(t, ctl));
        }
        return true;
    }));
    ctl.EnumerateDevices();
    ctl.SetOnEnumerate({});
    for (THidDevice* d : taken) delete d;

    QStringList names;
    for (const Entry& e : entries) names << e.name;
    const int cableRow = cable::SelectCableEntry(names);
    if (entries.empty()) std::printf("no HID devices\n");
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry& e = entries[i];
        std::printf("%s %s  %s  %s  serial %s  access %s\n", int(i) == cableRow ? "*" : " ",
                    e.name.toLocal8Bit().constData(), e.ids.toLatin1().constData(), e.node.toLocal8Bit().constData(),
                    e.serial.toLocal8Bit().constData(), e.access.toLocal8Bit().constData());
    }
    if (cableRow < 0) {
        std::printf("no USB interface cable (a HID device named \"%s\" without a serial number)\n",
                    cable::kProductName);
        return 1;
    }
    if (!entries[size_t(cableRow)].usable) {
        std::printf("the USB interface cable cannot be used\n");
        return 1;
    }
    std::printf("the USB interface cable is ready\n");
    return 0;
}
