// USB cable link: the device list, connecting, the feature report and the request, input
// reports joined into frames, the connection watchdog and the device log lines.
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
    // Every report with meter data adds a line to the log, dozens per frame: the list must
    // take long runs of one-line entries in linear time.
    HistoryListBox->setUniformItemSizes(true);
    HistoryListBox->setLayoutMode(QListView::Batched);
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

    // A change elsewhere on the bus (a mouse plugged in) must not end a recording: while
    // "Connect" stays down and the cable is listed again, its reading starts again.
    if (USBCon->isChecked() && cableRow >= 0 && PickSelectedDevice() && SelectedDevice->ReadWriteAccess()) {
        State.BurstText.clear();
        State.BurstPending = false;
        SelectedDevice->SetDataHandler(THidDataEvent(this, &TFCOMM::HidDataHandler));
        SendDataClick();
        Log(QStringLiteral("Link resumed: ") + DeviceDisplayName(SelectedDevice));
    }
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
    SelectedDevice->SetDataHandler({});
}

void TFCOMM::USBConClick() {
    ReadBtnClick();
    SetFeatureClick();
    State.IdleReports = 0;
    State.IdleSinceRequest = 0;
    if (!PickSelectedDevice()) return;
    if (!SelectedDevice->ReadWriteAccess()) {
        USBCon->setChecked(false);
        return;
    }
    if (USBCon->isChecked()) {
        State.BurstText.clear();
        // A burst cut off when the reading last stopped is not to be finished by the first
        // report of this connection: that would decode the previous frame once more and
        // record an old reading as a new one.
        State.BurstPending = false;
        USBtxt->setText(QString());
        ReadBtnClick();
        SendDataClick();
        if (SelectedDevice) SelectedDevice->SetDataHandler(THidDataEvent(this, &TFCOMM::HidDataHandler));
    } else {
        SelectedDevice->SetDataHandler({});
    }
}

void TFCOMM::SetFeatureClick() {
    if (!PickSelectedDevice()) {
        Ui::ShowMessage(QString::fromLatin1(cable::kNotConnectedMessage));
        USBCon->setChecked(false);
        return;
    }
    const auto buf = cable::FeatureBuffer(B9600->isChecked(), B4800->isChecked(), B2400->isChecked());
    SelectedDevice->SendFeature(buf.data(), uint32_t(cable::kFeatureReportLength));
    Log(Latin1(cable::FeatureLogLine(buf)));
}

void TFCOMM::SendDataClick() {
    if (!PickSelectedDevice()) {
        Ui::ShowMessage(QString::fromLatin1(cable::kNotConnectedMessage));
        USBCon->setChecked(false);
        return;
    }
    const size_t length = SelectedDevice->QueryCaps().OutputReportByteLength;
    const std::vector<uint8_t> buf = cable::RequestBuffer(length);
    uint32_t written = 0;
    size_t logged;
    if (SelectedDevice->Accessible()) {
        SelectedDevice->WriteReport(buf.data(), uint32_t(length), written);
        logged = written;
    } else {
        logged = cable::kUnattemptedWriteCount;  // the device did not open: nothing was tried
    }
    Log(Latin1(cable::RequestLogLine(buf, logged)));
}

// ---------------------------------------------------------------------------------------------
// Input reports

void TFCOMM::HidDataHandler(THidDevice*, uint8_t ReportID, const uint8_t* Data, uint16_t Size) {
    const cable::ReportOutcome out = cable::HandleInputReport(UsbVars(State), ReportID, Data, Size);
    if (out.meterData) {
        Log(Latin1(out.line));
        return;
    }
    if (!out.burstEnded) return;
    State.SerialLine.clear();
    if (out.newFrame) {
        Memo1->setPlainText(Latin1(out.burst));
    } else if (out.appended) {
        Memo1->moveCursor(QTextCursor::End);
        Memo1->insertPlainText(Latin1(out.burst));
    }
    if (out.frameComplete) {
        // A frame that fails is logged by the decoder's caller and the link goes on: the next
        // frame is requested either way.
        LcdDisplay42Logged();
        ++UsbFramesDecoded;
        SendDataClick();
    }
    USBtxt1->setText(QString::number(State.FrameLen));
}

// ---------------------------------------------------------------------------------------------
// Watchdog

void TFCOMM::ConTimerTimer() {
    const cable::WatchdogOutcome w = cable::WatchdogTick(State.NoFrameTicks, State.IdleSinceRequest, State.IdleReports);
    if (!w.checked) return;
    if (w.resendRequest) SendDataClick();
    if (w.giveUp) {
        USBCon->setChecked(false);
        if (SelectedDevice) SelectedDevice->SetDataHandler({});
        Ui::ShowMessage(QString::fromLatin1(cable::kMeterSilentMessage));
    }
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
    const bool cableInUse = HidDev == DevListDevice(DevListBox->currentRow());
    if (cableInUse) USBCon->setChecked(false);
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
