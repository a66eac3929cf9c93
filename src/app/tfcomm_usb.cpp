// USB cable link: the device list, connecting, the feature report and the request, input
// reports joined into frames, the connection watchdog and the device log lines.
#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextCursor>
#include <QTimer>
#include <QToolButton>

#include "app/application.h"
#include "app/cli.h"
#include "app/tfcomm.h"
#include "app/widgets.h"
#include "link/cableconnection.h"
#include "link/cablelink.h"
#include "link/hidcontroller.h"
#include "link/simcable_backend.h"

namespace {
// Where an entry of DevListBox keeps its taken device.
constexpr int kDeviceRole = Qt::UserRole + 1;

cable::CableVars UsbVars(SharedState& s) {
    return {s.BurstText, s.BurstPending, s.FrameHex, s.FrameLen, s.IdleReports, s.IdleSinceRequest};
}

QString Latin1(const std::string& s) { return QString::fromLatin1(s.data(), qsizetype(s.size())); }
}  // namespace

void TFCOMM::BindUsbHandlers() {
    // The cable's controls and its watchdog.
    GuardedConnect(USBCon, &QToolButton::clicked, this, [this] { USBConClick(); });
    GuardedConnect(SendData, &QPushButton::clicked, this, [this] { SendDataClick(); });
    GuardedConnect(ReadBtn, &QToolButton::clicked, this, [this] { ReadBtnClick(); });
    GuardedConnect(SetFeature, &QPushButton::clicked, this, [this] { SetFeatureClick(); });
    GuardedConnect(START1, &QAction::triggered, this, [this] { USBConClick(); });
    GuardedConnect(ConTimer, &QTimer::timeout, this, [this] { ConTimerTimer(); });
    // Every report with meter data adds a line to the log, dozens per frame: the list must
    // take long runs of one-line entries in linear time.
    HistoryListBox->setUniformItemSizes(true);
    HistoryListBox->setLayoutMode(QListView::Batched);
    UsbLink = std::make_unique<CableConnection>(UsbVars(State), State.NoFrameTicks);
    CableConnection::Events& on = UsbLink->On;
    on.LogLine = [this](const QString& line) { Log(line); };
    on.BurstEnded = [this](const cable::ReportOutcome& out) {
        State.SerialLine.clear();
        if (out.newFrame) {
            Memo1->setPlainText(Latin1(out.burst));
        } else if (out.appended) {
            Memo1->moveCursor(QTextCursor::End);
            Memo1->insertPlainText(Latin1(out.burst));
        }
        USBtxt1->setText(QString::number(State.FrameLen));
    };
    // A frame that fails is logged by the decoder's caller and the link goes on.
    on.FrameReady = [this] {
        LcdDisplay42Logged();
        ++UsbFramesDecoded;
    };
    on.MeterSilent = [this] {
        USBCon->setChecked(false);
        Ui::ShowMessage(QString::fromLatin1(cable::kMeterSilentMessage));
    };
    on.CableRemoved = [this] { USBCon->setChecked(false); };
    on.AccessRefused = [this](const QString& reason) {
        Log(QStringLiteral("ACCESS REFUSED: ") + reason);
        Ui::ShowMessage(cable::AccessRefusedMessage(reason));
    };
    on.NotConnected = [this] {
        Ui::ShowMessage(QString::fromLatin1(cable::kNotConnectedMessage));
        USBCon->setChecked(false);
    };
    Guard([this] {
        HidCtl = std::make_unique<THidDeviceController>(this, Options.hidBackend);
        HidCtl->SetOnArrival(THidPlugEvent(this, &TFCOMM::HidCtlArrival));
        HidCtl->SetOnEnumerate(THidEnumerateEvent(this, &TFCOMM::HidCtlEnumerate));
        HidCtl->SetOnDeviceDataError(THidDataErrorEvent(this, &TFCOMM::HidCtlDeviceDataError));
        HidCtl->SetOnRemoval(THidPlugEvent(this, &TFCOMM::HidCtlRemoval));
        // Assigning the change event runs a device change at once: the first device list.
        HidCtl->SetOnDeviceChange(TNotifyEvent(this, &TFCOMM::HidCtlDeviceChange));
    });
}

void TFCOMM::ShutdownUsb() {
    // The reading stops first: a report still waiting in the hand-over must not complete a
    // frame (and ask for the next one) once the device list is gone.
    if (UsbLink) UsbLink->Close();
    if (!HidCtl) return;
    HidCtl->SetOnDeviceChange({});
    HidCtl->SetOnArrival({});
    HidCtl->SetOnRemoval({});
    HidCtl->SetOnEnumerate({});
    SelectedDevice = nullptr;
    // Give every taken device back (this stops its reader), then let the controller go.
    if (DevListBox) {
        for (int i = 0; i < DevListBox->count(); ++i) {
            THidDevice* d = DevListDevice(i);
            DevListBox->item(i)->setData(kDeviceRole, QVariant());
            delete d;
        }
        DevListBox->clear();
    }
    HidCtl.reset();
}

THidDevice* TFCOMM::DevListDevice(int row) const {
    if (!DevListBox || row < 0 || row >= DevListBox->count()) return nullptr;
    return reinterpret_cast<THidDevice*>(DevListBox->item(row)->data(kDeviceRole).value<quintptr>());
}

QString TFCOMM::DeviceDisplayName(THidDevice* HidDev) {
    const HIDD_ATTRIBUTES a = HidDev->HiddAttributes();
    return cable::DeviceDisplayName(HidDev->ProductText(), HidDev->SerialText(), a.VendorID, a.ProductID);
}

bool TFCOMM::PickSelectedDevice() {
    SelectedDevice = nullptr;
    if (!DevListBox || DevListBox->count() == 0) return false;
    THidDevice* d = DevListDevice(DevListBox->currentRow());
    if (!d) return false;
    SelectedDevice = d;
    if (UsbLink) UsbLink->SetCable(d);
    return true;
}

// ---------------------------------------------------------------------------------------------
// Device list

void TFCOMM::HidCtlDeviceChange(QObject*) {
    // 1. The reading of the selected device stops.
    ReadBtn->setChecked(false);
    ReadBtnClick();
    // 2. Every taken device goes back to the controller; the list is emptied.
    SelectedDevice = nullptr;
    if (UsbLink) UsbLink->SetCable(nullptr);
    std::vector<THidDevice*> taken;
    for (int i = 0; i < DevListBox->count(); ++i) taken.push_back(DevListDevice(i));
    DevListBox->clear();
    for (THidDevice* d : taken) delete d;
    // 3. Every plugged device is listed and taken.
    if (HidCtl) HidCtl->EnumerateDevices();
    // 4. The cable is the last entry named exactly "USB to Serial".
    QStringList names;
    for (int i = 0; i < DevListBox->count(); ++i) names << DevListBox->item(i)->text();
    const int cableRow = cable::SelectCableEntry(names);
    DevListBox->setCurrentRow(cableRow);
    if (cableRow < 0) DevListBox->clearSelection();
    if (UsbLink) UsbLink->SetCable(DevListDevice(cableRow));

    // A change elsewhere on the bus (a mouse plugged in) must not end a recording: while
    // "Connect" stays down and the cable is listed again, its reading starts again.
    if (USBCon->isChecked() && cableRow >= 0 && PickSelectedDevice() && UsbLink->Resume())
        Log(QStringLiteral("Link resumed: ") + DeviceDisplayName(SelectedDevice));
}

bool TFCOMM::HidCtlEnumerate(THidDevice* HidDev, int32_t Idx) {
    auto* item = new QListWidgetItem(DeviceDisplayName(HidDev));
    DevListBox->addItem(item);
    THidDevice* taken = nullptr;
    if (HidCtl && HidCtl->TakeByIndex(Idx, taken))
        item->setData(kDeviceRole, QVariant::fromValue<quintptr>(reinterpret_cast<quintptr>(taken)));
    return true;
}

// ---------------------------------------------------------------------------------------------
// Connecting

void TFCOMM::ReadBtnClick() {
    if (!PickSelectedDevice()) return;
    if (!SelectedDevice->ReadWriteAccess()) {
        ReadBtn->setChecked(false);
        return;
    }
    // ReadBtn is never down: the reading stops.
    UsbLink->StopReading();
}

void TFCOMM::USBConClick() {
    ReadBtnClick();
    if (!PickSelectedDevice()) {
        SetFeatureClick();  // tells the user and sets USBCon up
        return;
    }
    if (USBCon->isChecked()) {
        USBtxt->setText(QString());
        if (!UsbLink->Connect(cable::FeatureBuffer(B9600->isChecked(), B4800->isChecked(), B2400->isChecked())))
            USBCon->setChecked(false);
    } else {
        SetFeatureClick();
        UsbLink->ResetIdleCounters();
        UsbLink->Disconnect();
    }
}

void TFCOMM::SetFeatureClick() {
    if (!PickSelectedDevice()) {
        Ui::ShowMessage(QString::fromLatin1(cable::kNotConnectedMessage));
        USBCon->setChecked(false);
        return;
    }
    UsbLink->SendFeature(cable::FeatureBuffer(B9600->isChecked(), B4800->isChecked(), B2400->isChecked()));
}

void TFCOMM::SendDataClick() {
    if (!PickSelectedDevice()) {
        Ui::ShowMessage(QString::fromLatin1(cable::kNotConnectedMessage));
        USBCon->setChecked(false);
        return;
    }
    UsbLink->SendRequest();
}

// ---------------------------------------------------------------------------------------------
// Input reports

void TFCOMM::HidDataHandler(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size) {
    UsbLink->HandleReport(ReportID, Data, Size);
}

// ---------------------------------------------------------------------------------------------
// Watchdog

void TFCOMM::ConTimerTimer() {
    if (!UsbLink->Tick().checked) return;
    CONok->hide();
    CONokN->show();
}

// ---------------------------------------------------------------------------------------------
// Device events

void TFCOMM::HidCtlArrival(THidDevice* HidDev) { Log(cable::ArrivalLine(DeviceDisplayName(HidDev))); }

void TFCOMM::HidCtlRemoval(THidDevice* HidDev) {
    Log(cable::RemovalLine(DeviceDisplayName(HidDev)));
    // Only the cable in use going away ends the connection; any other device leaves
    // "Connect" as it is, and the device change that follows resumes the reading.
    UsbLink->DeviceRemoved(HidDev);
}

void TFCOMM::HidCtlDeviceDataError(THidDevice*, uint32_t Error) {
    Log(cable::ReadErrorLine(cable::SystemErrorText(Error), Error));
}

// ---------------------------------------------------------------------------------------------
// Window options

bool ApplyWindowOption(const std::string& option, AppOptions& options) {
    if (option == "--simulate") {
        options.hidBackend = std::make_shared<SimCableBackend>();
        return true;
    }
    return false;
}
