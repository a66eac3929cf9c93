// Serial meter link: the serial port COMM2 with its settings, the controls that open and close
// it, the speed stepping and the receive handler H42RData. The link only listens.
#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QToolButton>
#include <cstdlib>

#include "app/application.h"
#include "app/tfcomm.h"
#include "app/widgets.h"
#include "link/commport.h"
#include "link/seriallink.h"

namespace {

// A menu item's check mark. Only a checked item is made checkable, so that triggering an
// enabled, unchecked item (START1 runs the USB connect) never toggles a mark by itself.
void SetMenuCheck(QAction* item, bool checked) {
    if (checked) {
        item->setCheckable(true);
        item->setChecked(true);
    } else {
        item->setChecked(false);
        item->setCheckable(false);
    }
}

QString PortLabel(const TCommPortDriver& port) {
    return QString::fromStdString(ComPortName(port.ComPort()) + " (" + port.PortDeviceName(port.ComPort()) + ")");
}

// Opens COMM2. The result does not change what the window shows; the history log records it,
// with the system's reason when the port could not be opened.
void OpenSerialPort(TFCOMM& w) {
    TCommPortDriver& port = *w.COMM2;
    if (port.IsOpen()) {
        port.OpenPort();
        return;
    }
    if (port.OpenPort())
        w.Log(QStringLiteral("Serial port %1 opened, %2 baud")
                  .arg(PortLabel(port))
                  .arg(BaudRateValue(port.ComPortSpeed())));
    else
        w.Log(QStringLiteral("Serial port %1 could not be opened: %2")
                  .arg(PortLabel(port), QString::fromStdString(port.LastError())));
}

void BindReceiveHandler(TFCOMM& w) {
    w.COMM2->SetOnReceiveData([&w](TCommPortDriver*, const uint8_t* data, int32_t size) {
        if (size > 0) w.H42RData(data, static_cast<uint32_t>(size));
    });
}

}  // namespace

void TFCOMM::CloseSerialLink() {
    SetMenuCheck(START1, false);
    START1->setEnabled(true);
    STOP1->setEnabled(false);
    SetMenuCheck(STOP1, true);
    if (COMM2->IsOpen()) {
        COMM2->ClosePort();
        Log(QStringLiteral("Serial port %1 closed").arg(PortLabel(*COMM2)));
    }
    BTCon->show();
    BtDiscon->hide();
    for (PanelLabel* p : {BtCOM1, BtCOM2, BtCOM3, BtCOM4}) p->setEnabled(true);
}

void TFCOMM::OpenSerialLink() {
    SetMenuCheck(START1, true);
    START1->setEnabled(false);
    STOP1->setEnabled(true);
    SetMenuCheck(STOP1, false);
    OpenSerialPort(*this);
    BTCon->hide();
    BtDiscon->show();
    for (PanelLabel* p : {BtCOM1, BtCOM2, BtCOM3, BtCOM4}) p->setEnabled(false);
}

std::string TFCOMM::SerialCom1Device() const {
    if (!Options.com1Path.empty()) return Options.com1Path;
    if (const char* env = std::getenv("MS42K_COM1"); env && *env) return env;
    return DefaultPortDeviceName(TComPortNumber::pnCOM1);
}

// COMM2 as the window designs it: COM1, 2400 baud, 8N1, no handshaking, DTR on while open.
void TFCOMM::BindSerialHandlers() {
    // Connect/Disconnect, the COM ports and STOP.
    GuardedConnect(BTCon, &PanelLabel::clicked, this, [this] { BTCon1Click(); });
    GuardedConnect(BtDiscon, &PanelLabel::clicked, this, [this] { BtDiscon1Click(); });
    GuardedConnect(COMCon, &QToolButton::clicked, this, [this] { COMConClick(); });
    GuardedConnect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
    GuardedConnect(Button3, &QPushButton::clicked, this, [this] { Button3Click(); });
    GuardedConnect(STOP1, &QAction::triggered, this, [this] { BtDiscon1Click(); });
    TCommPortDriver& port = *COMM2;
    port.SetComPort(TComPortNumber::pnCOM1);
    port.SetComPortSpeed(TComPortBaudRate::br2400);
    port.SetComPortDataBits(TComPortDataBits::db8BITS);
    port.SetComPortStopBits(TComPortStopBits::sb1BITS);
    port.SetComPortParity(TComPortParity::ptNONE);
    port.SetComPortHwHandshaking(TComPortHwHandshaking::hhNONE);
    port.SetComPortSwHandshaking(TComPortSwHandshaking::shNONE);
    port.SetEnableDTROnOpen(true);
    port.SetComPortInBufSize(2048);
    port.SetComPortPollingDelay(50);
    port.SetPortDeviceName(TComPortNumber::pnCOM1, SerialCom1Device());
    // A port that vanishes while open (adapter pulled out, line hung up) gets one log line;
    // the port stays open and reading goes on.
    port.SetOnLineLost([this](TCommPortDriver* Sender, const std::string& Reason) {
        Log(QStringLiteral("Serial port %1 lost: %2").arg(PortLabel(*Sender), QString::fromStdString(Reason)));
    });
}

void TFCOMM::StartupBindSerial() { BindReceiveHandler(*this); }

void TFCOMM::ShutdownSerial() {
    if (!COMM2) return;
    COMM2->SetOnReceiveData(nullptr);
    COMM2->ClosePort();
}

void TFCOMM::BTCon1Click() { OpenSerialLink(); }

void TFCOMM::BtDiscon1Click() { CloseSerialLink(); }

void TFCOMM::COMConClick() {
    if (COMCon->isChecked())
        OpenSerialLink();
    else
        CloseSerialLink();
}

void TFCOMM::Button3Click() {
    BindReceiveHandler(*this);
    OpenSerialPort(*this);
}

void TFCOMM::Button2Click() {
    using enum TComPortBaudRate;
    // Looked at in this order, each with the speed the previous step left: one click moves
    // one step 2400 → 4800 → 9600 → 19200 → 1200, and 1200 stays.
    static constexpr struct {
        TComPortBaudRate from, to;
        const char* text;
    } kSteps[] = {
        {br1200, br1200, "Baud Rate:1200"}, {br19200, br1200, "Baud Rate:1200"}, {br9600, br19200, "Baud Rate:19200"},
        {br4800, br9600, "Baud Rate:9600"}, {br2400, br4800, "Baud Rate:4800"},
    };
    for (const auto& step : kSteps) {
        if (COMM2->ComPortSpeed() != step.from) continue;
        COMM2->SetComPortSpeed(step.to);
        Ui::ShowMessage(QString::fromLatin1(step.text));
    }
}

void TFCOMM::H42RData(const uint8_t* DataPtr, uint32_t DataSize) {
    if (!DataPtr) return;
    // USBtxt is set once for a run of ordinary bytes (nothing is drawn between them), and
    // always before the decoder runs, so the label shows what the byte-by-byte order shows.
    bool showLoText = false;
    for (uint32_t i = 0; i < DataSize; ++i) {
        const seriallink::ByteResult r = seriallink::FeedByte(DataPtr[i], State.SerialLoText, State.SerialLine);
        if (r == seriallink::ByteResult::Text) {
            showLoText = true;
            continue;
        }
        showLoText = false;
        USBtxt->setText(QString::fromLatin1(State.SerialLine));
        if (r == seriallink::ByteResult::FrameLine) {
            // A frame that fails to decode is logged once and reception goes on.
            if (SerialDecoder) {
                try {
                    SerialDecoder();
                } catch (const std::exception& e) {
                    Log(QStringLiteral("Frame not shown: ") + QString::fromLocal8Bit(e.what()));
                }
            } else {
                LcdDisplay42Logged();
            }
        }
    }
    if (showLoText) USBtxt->setText(QString::fromLatin1(State.SerialLoText));
}
