#include "app/tfcomm.h"
#include "link/cableconnection.h"

#include <QAction>
#include <QApplication>
#include <QAreaSeries>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPrintPreviewDialog>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include "app/application.h"
#include "app/widgets.h"
#include "link/commport.h"
#include "link/hidcontroller.h"
#include "meter/gaugeimage.h"
#include "meter/lcdpanel.h"
#include "records/recordtable.h"
#include "records/recordtablemodel.h"

const char* const TFCOMM::OpenDialog1Filter = "access data files (*.DB)|*.DB|All files (*.*)|*.*";
const char* const TFCOMM::SaveDialog2Filter =
    "Excel File(*.xls)|*.xls|DB File(*.db)|*.db|Txt File(*.txt)|*.txt|All File(*.*)|*.*";

namespace {
constexpr int kClientWidth = 717;
constexpr int kClientHeight = 596;
constexpr int kStartOuterHeight = 520;

template <class T>
T* Place(T* w, int x, int y, int width, int height) {
    w->setGeometry(x, y, width, height);
    return w;
}

QToolButton* SpeedButton(QWidget* parent, IconKind icon, const QString& hint, int x, int y) {
    auto* b = Place(new QToolButton(parent), x, y, 28, 28);
    b->setIcon(QIcon(DrawIcon(icon, 20)));
    b->setIconSize(QSize(20, 20));
    b->setToolTip(hint);
    b->setAutoRaise(false);
    return b;
}

QLabel* Label(QWidget* parent, const QString& text, int x, int y, int w = 60, int h = 16) {
    auto* l = Place(new QLabel(text, parent), x, y, w, h);
    return l;
}

QLineEdit* Edit(QWidget* parent, const QString& text, int x, int y, int w, int h = 20) {
    return Place(new QLineEdit(text, parent), x, y, w, h);
}
}  // namespace

TFCOMM::TFCOMM(const AppOptions& options, QWidget* parent) : QMainWindow(parent), Options(options) {
    setObjectName(QStringLiteral("FCOMM"));
    BuildWindow();
    BuildMenu();
    NameControls();
    BindHandlers();
    // The form is loaded: the start-up sequence runs before the window is first shown.
    Guard([this] { FormCreate(); });
}

TFCOMM::~TFCOMM() {
    // The grid lets go of the record table's model before the table goes: closing the window
    // later must not let the grid ask a table that no longer exists.
    if (DBGrid1) DBGrid1->setModel(nullptr);
    ShutdownUsb();
    ShutdownSerial();
}

void TFCOMM::BuildWindow() {
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    client->setAutoFillBackground(true);
    QPalette pal = client->palette();
    pal.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));  // clGray
    client->setPalette(pal);
    QFont f = font();
    f.setPointSize(8);
    f.setBold(true);
    setFont(f);
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);

    QWidget* c = client;
    // ---- top strip ----
    USBCon = Place(new QToolButton(c), 5, 3, 90, 26);
    USBCon->setText(QStringLiteral("Connect"));
    USBCon->setToolTip(QStringLiteral("USB Connect"));
    USBCon->setCheckable(true);
    USBCon->setIcon(QIcon(DrawIcon(IconKind::Plug, 18)));
    USBCon->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    BitBtn1 = Place(new QPushButton(QStringLiteral("EXIT"), c), 640, 3, 72, 26);
    BitBtn1->setIcon(QIcon(DrawIcon(IconKind::Exit, 18)));
    B2400 = Place(new QCheckBox(QStringLiteral("2400"), c), 100, 6, 50, 18);
    B4800 = Place(new QCheckBox(QStringLiteral("4800"), c), 150, 6, 50, 18);
    B9600 = Place(new QCheckBox(QStringLiteral("9600"), c), 200, 6, 50, 18);
    B9600->setChecked(true);
    USBtxt = Label(c, QStringLiteral("6001"), 260, 6, 60);
    USBtxt1 = Label(c, QStringLiteral("6001"), 320, 6, 60);
    USBtxt->hide();
    USBtxt1->hide();
    BtCOM1 = Place(new PanelLabel(QStringLiteral("COM 1"), c), 100, 3, 50, 24);
    BtCOM2 = Place(new PanelLabel(QStringLiteral("COM 2"), c), 152, 3, 50, 24);
    BtCOM3 = Place(new PanelLabel(QStringLiteral("COM 3"), c), 204, 3, 50, 24);
    BtCOM4 = Place(new PanelLabel(QStringLiteral("COM 4"), c), 256, 3, 50, 24);
    for (auto* p : {BtCOM1, BtCOM2, BtCOM3, BtCOM4}) p->hide();
    RecallDataTest = Place(new QPushButton(QStringLiteral("RecallData"), c), 380, 3, 80, 24);
    Onescope = Place(new QPushButton(QStringLiteral("One scope"), c), 465, 3, 80, 24);
    Button4 = Place(new QPushButton(QStringLiteral("Button4"), c), 550, 3, 80, 24);
    RecallDataTest->hide();
    Onescope->hide();
    Button4->hide();

    // ---- left column ----
    Panel1 = Place(new LcdPanel(c), 5, 33, 318, 150);
    PBar2 = Place(new QProgressBar(c), 5, 186, 318, 14);
    PBar2->setRange(0, 40);
    PBar2->setValue(1);
    PBar2->setTextVisible(false);
    RepeatSet = Place(new QCheckBox(QStringLiteral("Repeat"), c), 5, 204, 70, 20);
    RepeatSet->setToolTip(QStringLiteral("Repeage Record"));
    RecordSI = Place(new QCheckBox(QStringLiteral("Sampling Interval           'S"), c), 80, 204, 240, 20);
    RecordSITime = Edit(c, QStringLiteral("10"), 214, 204, 28);
    RecordNew = SpeedButton(c, IconKind::NewTable, QStringLiteral("Close Data"), 5, 227);
    OpenDataFiles = SpeedButton(c, IconKind::OpenFile, QStringLiteral("Open old data files"), 35, 227);
    saveas = SpeedButton(c, IconKind::SaveFile, QStringLiteral("Save data files"), 65, 227);
    BtPrint = SpeedButton(c, IconKind::PrintTable, QStringLiteral("Print"), 95, 227);
    Print = SpeedButton(c, IconKind::PrintTable, QStringLiteral("Print"), 125, 227);
    Print->hide();
    // The upper regions end at 464: whole in the client area left by an outer height of 520
    // under a window manager's frame and the menu bar.
    DBGrid1 = Place(new QTableView(c), 5, 258, 318, 206);
    DBGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    DBGrid1->setSelectionBehavior(QAbstractItemView::SelectRows);
    DBGrid1->setSelectionMode(QAbstractItemView::SingleSelection);

    // ---- right column: gauge ----
    KD = Place(new QFrame(c), 330, 33, 371, 143);
    KD->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    KD->setAutoFillBackground(true);
    {
        QPalette kp = KD->palette();
        kp.setColor(QPalette::Window, Qt::white);
        KD->setPalette(kp);
    }
    KD->installEventFilter(this);
    KD1 = new GaugeImage(KD);
    KD1->setGeometry(KD->contentsRect());
    CONok = Place(new ImageButton(IconKind::ScopeLit, 24, KD), 2, 2, 25, 24);
    CONokN = Place(new ImageButton(IconKind::ScopeDark, 24, KD), 2, 2, 25, 24);
    CONok->hide();
    KdFd = Place(new ImageButton(IconKind::ZoomIn, 25, KD), 371 - 30, 2, 25, 25);
    KdSx = Place(new ImageButton(IconKind::ZoomOut, 25, KD), 371 - 30, 2, 25, 25);
    KdFd->hide();
    KdSx->hide();
    oltext = Place(new PanelLabel(QStringLiteral("OL !!"), KD), 120, 40, 130, 50);
    {
        QFont of(QStringLiteral("Arial"));
        of.setPixelSize(35);
        of.setBold(true);
        oltext->setFont(of);
        QPalette op = oltext->palette();
        op.setColor(QPalette::Window, QColor(0x80, 0x80, 0x80));
        op.setColor(QPalette::WindowText, Qt::white);
        oltext->setPalette(op);
    }
    oltext->hide();

    // ---- right column: chart ----
    ChtshowChart = new QChart();
    Series1 = new QLineSeries();
    Series1->setName(QStringLiteral("Series1"));
    Series1->setColor(Qt::blue);
    Series2Line = new QLineSeries();
    Series2 = new QAreaSeries(Series2Line);
    Series2Line->setParent(Series2);  // the area series does not own its upper line
    Series2->setName(QStringLiteral("Series2"));
    Series2->setColor(Qt::blue);
    Series2->setBorderColor(QColor(0x00, 0x80, 0xFF));  // 16744448 as BGR
    ChtshowChart->addSeries(Series1);
    ChtshowChart->addSeries(Series2);
    ChtshowChart->legend()->setVisible(false);
    ChtshowChart->setTitle(QStringLiteral("  "));
    Series2->setVisible(false);
    Chtshow = Place(new QChartView(ChtshowChart, c), 330, 180, 382, 284);
    Chtshow->setCursor(Qt::CrossCursor);
    Chtshow->setRubberBand(QChartView::RectangleRubberBand);
    TbFd = Place(new ImageButton(IconKind::ZoomIn, 22, Chtshow), 4, 4, 22, 22);
    TbFd->setToolTip(QStringLiteral("Graphic Enlarge"));
    TbSx = Place(new ImageButton(IconKind::ZoomOut, 22, Chtshow), 4, 4, 22, 22);
    TbSx->setToolTip(QStringLiteral("Graphic Restore"));
    TbSx->hide();
    BtNew = SpeedButton(Chtshow, IconKind::ChartNew, QStringLiteral("New"), 30, 2);
    BtSave = SpeedButton(Chtshow, IconKind::ChartSave, QStringLiteral("Save"), 60, 2);
    BtFirst = SpeedButton(Chtshow, IconKind::PageFirst, QStringLiteral("First"), 100, 2);
    BTPrevious = SpeedButton(Chtshow, IconKind::PagePrevious, QStringLiteral("Previous"), 130, 2);
    Bt10 = Place(new QToolButton(Chtshow), 160, 2, 28, 28);
    Bt10->setText(QStringLiteral("1"));
    Bt10->setToolTip(QStringLiteral("Page No."));
    {
        QPalette bp = Bt10->palette();
        bp.setColor(QPalette::ButtonText, Qt::blue);
        Bt10->setPalette(bp);
    }
    BtNext = SpeedButton(Chtshow, IconKind::PageNext, QStringLiteral("Next"), 190, 2);
    BTlast = SpeedButton(Chtshow, IconKind::PageLast, QStringLiteral("last"), 220, 2);
    ComboBox1 = Place(new QComboBox(Chtshow), 252, 4, 70, 22);
    ComboBox1->addItems({QStringLiteral("atile"), QStringLiteral("btile")});
    ComboBox1->setEditable(true);
    ComboBox1->setEditText(QStringLiteral("ComboBox1"));
    for (QWidget* w : std::initializer_list<QWidget*>{BtFirst, BTPrevious, Bt10, BtNext, BTlast, ComboBox1}) w->hide();
    ScopeNo = Place(new ImageButton(IconKind::ScopeDark, 28, Chtshow), 382 - 34, 2, 28, 28);
    Scopeok = Place(new ImageButton(IconKind::ScopeLit, 28, Chtshow), 382 - 34, 2, 28, 28);
    Scopeok->hide();
    Maxrecord = Edit(Chtshow, QStringLiteral("100"), 252, 28, 50);
    Maxrecord->hide();

    // ---- lower strip (below the start-up height) ----
    constexpr int ly = 500;
    Panel2 = Place(new QFrame(c), 5, ly, 318, 48);
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Raised);
    RecallCheck = Place(new QCheckBox(QStringLiteral("RecallData"), Panel2), 4, 4, 100, 20);
    RecallCheck->setToolTip(QStringLiteral("Repeage Record"));
    Label(Panel2, QStringLiteral("StartTime:"), 4, 28, 70);
    TimeH = Edit(Panel2, QStringLiteral("23"), 76, 26, 28);
    Label(Panel2, QStringLiteral(":"), 106, 28, 6);
    TimeM = Edit(Panel2, QStringLiteral("59"), 114, 26, 28);
    Label(Panel2, QStringLiteral(":"), 144, 28, 6);
    TimeS = Edit(Panel2, QStringLiteral("59"), 152, 26, 28);
    Label(Panel2, QStringLiteral("Interval"), 190, 28, 52);
    TimeInt = Edit(Panel2, QStringLiteral("1"), 244, 26, 40);
    Label(Panel2, QStringLiteral("'S"), 288, 28, 20);

    Panel3 = Place(new QFrame(c), 330, ly, 250, 48);
    Panel3->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel3->setAutoFillBackground(true);
    {
        QPalette pp = Panel3->palette();
        pp.setColor(QPalette::Window, QColor(0xC0, 0xC0, 0xC0));  // clSilver
        Panel3->setPalette(pp);
    }
    Label(Panel3, QStringLiteral("MIN: "), 4, 4, 36);
    MinText = Label(Panel3, QStringLiteral("40001"), 40, 4, 50);
    MinTextU = Label(Panel3, QStringLiteral("*"), 92, 4, 16);
    Label(Panel3, QStringLiteral("MAX: "), 4, 28, 36);
    MaxText = Label(Panel3, QStringLiteral("-40001"), 40, 28, 50);
    MaxTextU = Label(Panel3, QStringLiteral("*"), 92, 28, 16);
    {
        QFont itf(QStringLiteral("Arial"));
        itf.setPixelSize(14);
        itf.setItalic(true);
        MinText->setFont(itf);
        MaxText->setFont(itf);
    }
    SetMaxB = Place(new QCheckBox(QStringLiteral("SetMax:"), Panel3), 112, 4, 70, 20);
    Setmax = Edit(Panel3, QStringLiteral("40000"), 184, 4, 60);
    SetMinB = Place(new QCheckBox(QStringLiteral("SetMin: "), Panel3), 112, 28, 70, 20);
    SetMin = Edit(Panel3, QStringLiteral("-40000"), 184, 28, 60);

    // Row of the log: Connect/Disconnect and the hidden Exit panel keep their distance from
    // the right edge (FormResize) to the right of the log, clear of the limits panel above.
    constexpr int logY = ly + 52;
    constexpr int logWidth = kClientWidth - 190 - 5 - 7;
    BTCon = Place(new PanelLabel(QStringLiteral("Connect"), c), kClientWidth - 190, logY, 100, 24);
    BtDiscon = Place(new PanelLabel(QStringLiteral("Disconnect"), c), kClientWidth - 190, logY, 100, 24);
    for (auto* p : {BTCon, BtDiscon}) {
        QPalette bp = p->palette();
        bp.setColor(QPalette::Window, Qt::blue);
        bp.setColor(QPalette::WindowText, Qt::yellow);
        p->setPalette(bp);
    }
    BtDiscon->hide();
    BtExit = Place(new PanelLabel(QStringLiteral("Exit"), c), kClientWidth - 80, logY, 70, 24);
    BtExit->hide();
    HistoryListBox = Place(new QListWidget(c), 5, logY, logWidth, kClientHeight - 2 - logY);
    // The list lays its lines out in batches after they are added: while the newest line is
    // the selected one, each batch that makes the list longer brings its end into view.
    GuardedConnect(HistoryListBox->verticalScrollBar(), &QScrollBar::rangeChanged, this, [this](int, int max) {
        if (HistoryListBox->currentRow() == HistoryListBox->count() - 1)
            HistoryListBox->verticalScrollBar()->setValue(max);
    });
    ClearBtn = Place(new QToolButton(c), 586, ly, 60, 22);
    ClearBtn->setText(QStringLiteral("Clear"));
    ClearBtn->setIcon(QIcon(DrawIcon(IconKind::Clear, 16)));
    ClearBtn->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    SendData = Place(new QPushButton(QStringLiteral("USBSendData"), c), 586, ly + 25, 116, 22);
    ReadBtn = Place(new QToolButton(c), 590, ly + 28, 40, 22);
    ReadBtn->setText(QStringLiteral("Read"));
    SetFeature = Place(new QPushButton(QStringLiteral("SetFeature"), c), 635, ly + 28, 76, 22);
    DevListBox = Place(new QListWidget(c), 400, 552, 160, 42);
    InfoBtn = Place(new QToolButton(c), 690, 528, 24, 22);
    InfoBtn->setText(QStringLiteral("Info"));
    COMCon = Place(new QToolButton(c), 330, 528, 80, 22);
    COMCon->setText(QStringLiteral("MS22G COM"));
    COMCon->setCheckable(true);
    Button2 = Place(new QPushButton(QStringLiteral("SET Baud Rate"), c), 330, 552, 100, 22);
    Button3 = Place(new QPushButton(QStringLiteral("MS42K COM"), c), 430, 552, 90, 22);
    IFMS22H = Place(new QCheckBox(QStringLiteral("MS22H"), c), 5, 556, 70, 18);
    IFRK740 = Place(new QCheckBox(QStringLiteral("RK740/760"), c), 75, 556, 90, 18);
    IFMS35F = Place(new QCheckBox(QStringLiteral("MS35F"), c), 165, 556, 70, 18);
    IFMS22D = Place(new QCheckBox(QStringLiteral("MS22D"), c), 235, 556, 70, 18);
    IFRK740->setChecked(true);
    Memo1 = Place(new QPlainTextEdit(QStringLiteral("Memo1"), c), 5, 552, 300, 42);
    {
        QFont mf(QStringLiteral("GulimChe"));
        mf.setStyleHint(QFont::Monospace);
        Memo1->setFont(mf);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{ReadBtn, SetFeature, DevListBox, InfoBtn, COMCon, Button2,
                                                      Button3, IFMS22H, IFRK740, IFMS35F, IFMS22D})
        w->hide();

    // ---- non-visual components ----
    ConTimer = new QTimer(this);
    ConTimer->setObjectName(QStringLiteral("ConTimer"));
    ConTimer->setInterval(100);
    Trecord = new QTimer(this);
    Trecord->setObjectName(QStringLiteral("Trecord"));
    Trecord->setInterval(1000);
    T22GDB = std::make_unique<RecordTable>();
    Data1 = new RecordTableModel(T22GDB.get(), this);
    DBGrid1->setModel(Data1);
    COMM2 = std::make_unique<TCommPortDriver>();
}

void TFCOMM::BuildMenu() {
    QMenuBar* bar = menuBar();
    Connect1 = bar->addMenu(QStringLiteral("Connect"));
    Connect1->menuAction()->setVisible(false);
    START1 = Connect1->addAction(QStringLiteral("START"));
    START1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_A));
    // A hidden menu's actions have no working shortcut: the window carries START1 as well,
    // so Ctrl+A starts the link while the menu stays out of sight.
    addAction(START1);
    STOP1 = Connect1->addAction(QStringLiteral("STOP"));
    bar->addAction(QString());
    Record1 = bar->addMenu(QStringLiteral("Record"));
    New1 = Record1->addAction(QStringLiteral("New"));
    Save1 = Record1->addAction(QStringLiteral("Save"));
    Record1->addSeparator();
    N10001 = Record1->addAction(QStringLiteral("1000"));
    N50001 = Record1->addAction(QStringLiteral("5000"));
    N100001 = Record1->addAction(QStringLiteral("10000"));
    N500001 = Record1->addAction(QStringLiteral("50000"));
    N1000001 = Record1->addAction(QStringLiteral("100000"));
    limitess = Record1->addAction(QStringLiteral("limitless"));
    for (QAction* a : {N10001, N50001, N100001, N500001, N1000001, limitess}) a->setCheckable(true);
    N100001->setChecked(true);
    bar->addAction(QString());
    EXIT1 = bar->addAction(QStringLiteral("Exit"));
    // Window frame: the designed client area below the menu bar.
    resize(DesignedSize());
}

void TFCOMM::NameControls() {
    // Every control and component is found under its member name (findChild, tests).
    const std::pair<QObject*, const char*> named[] = {
        {USBCon, "USBCon"},
        {BitBtn1, "BitBtn1"},
        {B2400, "B2400"},
        {B4800, "B4800"},
        {B9600, "B9600"},
        {USBtxt, "USBtxt"},
        {USBtxt1, "USBtxt1"},
        {BtCOM1, "BtCOM1"},
        {BtCOM2, "BtCOM2"},
        {BtCOM3, "BtCOM3"},
        {BtCOM4, "BtCOM4"},
        {RecallDataTest, "RecallDataTest"},
        {Onescope, "Onescope"},
        {Button4, "Button4"},
        {Panel1, "Panel1"},
        {PBar2, "PBar2"},
        {RepeatSet, "RepeatSet"},
        {RecordSI, "RecordSI"},
        {RecordSITime, "RecordSITime"},
        {RecordNew, "RecordNew"},
        {OpenDataFiles, "OpenDataFiles"},
        {saveas, "saveas"},
        {BtPrint, "BtPrint"},
        {Print, "Print"},
        {DBGrid1, "DBGrid1"},
        {KD, "KD"},
        {KD1, "KD1"},
        {CONok, "CONok"},
        {CONokN, "CONokN"},
        {KdFd, "KdFd"},
        {KdSx, "KdSx"},
        {oltext, "oltext"},
        {Chtshow, "Chtshow"},
        {ChtshowChart, "ChtshowChart"},
        {Series1, "Series1"},
        {Series2, "Series2"},
        {Series2Line, "Series2Line"},
        {TbFd, "TbFd"},
        {TbSx, "TbSx"},
        {BtNew, "BtNew"},
        {BtSave, "BtSave"},
        {BtFirst, "BtFirst"},
        {BTPrevious, "BTPrevious"},
        {Bt10, "Bt10"},
        {BtNext, "BtNext"},
        {BTlast, "BTlast"},
        {ComboBox1, "ComboBox1"},
        {ScopeNo, "ScopeNo"},
        {Scopeok, "Scopeok"},
        {Maxrecord, "Maxrecord"},
        {Panel2, "Panel2"},
        {RecallCheck, "RecallCheck"},
        {TimeH, "TimeH"},
        {TimeM, "TimeM"},
        {TimeS, "TimeS"},
        {TimeInt, "TimeInt"},
        {Panel3, "Panel3"},
        {MinText, "MinText"},
        {MaxText, "MaxText"},
        {MinTextU, "MinTextU"},
        {MaxTextU, "MaxTextU"},
        {Setmax, "Setmax"},
        {SetMin, "SetMin"},
        {SetMaxB, "SetMaxB"},
        {SetMinB, "SetMinB"},
        {BTCon, "BTCon"},
        {BtDiscon, "BtDiscon"},
        {BtExit, "BtExit"},
        {HistoryListBox, "HistoryListBox"},
        {ClearBtn, "ClearBtn"},
        {SendData, "SendData"},
        {ReadBtn, "ReadBtn"},
        {SetFeature, "SetFeature"},
        {DevListBox, "DevListBox"},
        {InfoBtn, "InfoBtn"},
        {COMCon, "COMCon"},
        {Button2, "Button2"},
        {Button3, "Button3"},
        {IFMS22H, "IFMS22H"},
        {IFRK740, "IFRK740"},
        {IFMS35F, "IFMS35F"},
        {IFMS22D, "IFMS22D"},
        {Memo1, "Memo1"},
        {Connect1, "Connect1"},
        {START1, "START1"},
        {STOP1, "STOP1"},
        {Record1, "Record1"},
        {New1, "New1"},
        {Save1, "Save1"},
        {N10001, "N10001"},
        {N50001, "N50001"},
        {N100001, "N100001"},
        {N500001, "N500001"},
        {N1000001, "N1000001"},
        {limitess, "limitess"},
        {EXIT1, "EXIT1"},
        {Data1, "Data1"},
    };
    for (const auto& [object, name] : named) object->setObjectName(QString::fromLatin1(name));
}

QSize TFCOMM::DesignedSize() const {
    return QSize(kClientWidth, kClientHeight + (menuBar() ? menuBar()->sizeHint().height() : 0));
}

void TFCOMM::BindHandlers() {
    // The window's own controls: exit, Clear of the log; each area connects its controls.
    GuardedConnect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
    GuardedConnect(BtExit, &PanelLabel::clicked, this, [this] { BtExit1Click(); });
    GuardedConnect(EXIT1, &QAction::triggered, this, [this] { BtExit1Click(); });
    GuardedConnect(ClearBtn, &QToolButton::clicked, this, [this] { ClearBtnClick(); });
    // Key filters, key releases and focus leaving (OnKeyPress, OnKeyUp, OnExit).
    for (QObject* o : std::initializer_list<QObject*>{TimeH, TimeM, TimeS, TimeInt, RecordSITime, Maxrecord, Setmax,
                                                      SetMin, RecallCheck})
        o->installEventFilter(this);
    // The records area before the meter area: "New" and "Close Data" run their records
    // handler first, then the meter's new run of extremes.
    BindRecordsHandlers();
    BindMeterHandlers();
    BindUsbHandlers();
    BindSerialHandlers();
    BindPrintHandlers();
    // Timers run from the start.
    ConTimer->start();
    Trecord->start();
}

bool TFCOMM::eventFilter(QObject* watched, QEvent* event) {
    if (Chtshow && watched == Chtshow->viewport() && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton) {
        ChtshowFixedScale();
        return true;
    }
    if (watched == KD && event->type() == QEvent::Resize) {
        KD1->setGeometry(KD->contentsRect());
        KDResize();
        return false;
    }
    if (event->type() == QEvent::ShortcutOverride) {
        // The menu's shortcuts win over an edit's own keys (Ctrl+A is START, not select-all).
        auto* ke = static_cast<QKeyEvent*>(event);
        if (START1 && QKeySequence(ke->keyCombination()) == START1->shortcut()) {
            event->ignore();
            return true;
        }
    } else if (event->type() == QEvent::KeyPress) {
        auto* ke = static_cast<QKeyEvent*>(event);
        const QString text = ke->text();
        // Only typed characters reach the key filters (Backspace counts as typed); Delete
        // (text 0x7F), navigation and control keys pass untouched.
        const bool typed =
            text.size() == 1 && ((text[0].unicode() >= 32 && text[0].unicode() != 0x7F) || text[0].unicode() == 8);
        if (typed && !(ke->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
            char key = text[0].unicode() < 256 ? char(text[0].unicode()) : '?';
            if (watched == TimeH || watched == TimeM || watched == TimeS || watched == TimeInt ||
                watched == RecordSITime || watched == Maxrecord) {
                RecordSITimeKeyPress(watched, key);
                if (key == 0) return true;
            } else if (watched == Setmax || watched == SetMin) {
                SetmaxKeyPress(watched, key);
                if (key == 0) return true;
            }
        }
    } else if (event->type() == QEvent::KeyRelease) {
        if (watched == TimeH || watched == TimeM || watched == TimeS) TimeHKeyUp(watched);
    } else if (event->type() == QEvent::FocusOut) {
        if (watched == RecallCheck) RecallCheckExit();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFCOMM::FormCreate() {
    // 1.
    State.RecallStamp = NowDateTime();
    // 2. Outer height 520: the lower strip starts out of view.
    ApplyStartOuterHeight();
    startHeightPending_ = true;
    // 3.
    Memo1->hide();
    B2400->hide();
    B4800->hide();
    B9600->hide();
    // 4.
    State.KdScale = "4";
    State.ScaleMax = 60;
    State.KdZero = 400;
    State.BarFull = 40;
    State.KdDivisions = 80;
    // 5.
    StartupOpenRecordTable();
    // 6.
    State.RecordNo = 1;
    State.KdWideScale = false;
    State.RecordLimit = 10000;
    // 7.
    StartupResetChart();
    // 8.
    StartupSeriesSelector();
    // 9.
    if (IFRK740->isChecked()) {
        StartupBindSerial();
        setWindowTitle(QStringLiteral("MS42K Interface Program _Ver: 1.00"));
    }
    // 10.
    StartupChartAxis();
    // 11.
    StartupGauge();
    // Rows that a run ended without saving left in the recovery journal: offered back.
    Guard([this] { OfferJournalRestore(); });
}

void TFCOMM::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!shownOnce_) {
        shownOnce_ = true;
        // The frame may be known only now: give the window its outer height of 520.
        if (startHeightPending_) ApplyStartOuterHeight();
        CentreOnScreen();
        // A window manager decorates the window after it is shown and sends no event when
        // it does: look at the frame a few times in the first second.
        if (startHeightPending_) WatchFrameAtStart(40);
    }
}

void TFCOMM::WatchFrameAtStart(int looksLeft) {
    if (looksLeft <= 0 || !startHeightPending_) return;
    QTimer::singleShot(25, this, [this, looksLeft] {
        FollowFrameAtStart();
        WatchFrameAtStart(looksLeft - 1);
    });
}

void TFCOMM::ApplyStartOuterHeight() {
    const int frame = frameGeometry().height() - height();
    startFrameHeight_ = frame;
    resize(width(), kStartOuterHeight - frame);
    // A window manager reports its frame after the window is shown; once a frame is known
    // the start-up height is final.
    if (frame > 0) startHeightPending_ = false;
}

void TFCOMM::CentreOnScreen() {
    if (const QScreen* screen = this->screen()) {
        const QRect avail = screen->availableGeometry();
        move(avail.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
    }
}

void TFCOMM::FollowFrameAtStart() {
    // The window manager has put its frame around the window (its size changed from the one
    // the start-up height was computed with): the outer height is 520 again.
    if (!startHeightPending_ || !shownOnce_) return;
    if (frameGeometry().height() - height() == startFrameHeight_) return;
    ApplyStartOuterHeight();
    CentreOnScreen();
}

void TFCOMM::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    FormResize();
    FollowFrameAtStart();
}

void TFCOMM::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    FollowFrameAtStart();
}

void TFCOMM::FormResize() {
    if (!BtExit) return;
    const int w = frameGeometry().width();
    BtExit->move(w - 80, BtExit->y());
    BTCon->move(w - 190, BTCon->y());
    BtDiscon->move(w - 190, BtDiscon->y());
}

void TFCOMM::KDResize() {
    KdFd->move(KD->width() - 30, KdFd->y());
    KdSx->move(KD->width() - 30, KdSx->y());
}

void TFCOMM::CloseAndQuit() {
    if (!ConfirmExitWithUnsavedRows()) return;
    quitting_ = true;
    if (T22GDB) T22GDB->Close();
    Ui::QuitApplication();
}

void TFCOMM::BitBtn1Click() { CloseAndQuit(); }

void TFCOMM::BtExit1Click() { CloseAndQuit(); }

void TFCOMM::closeEvent(QCloseEvent* event) {
    if (quitting_) {
        event->accept();
        return;
    }
    // The system close button: the same steps as the exit buttons.
    if (!ConfirmExitWithUnsavedRows()) {
        event->ignore();
        return;
    }
    quitting_ = true;
    if (T22GDB) T22GDB->Close();
    event->accept();
    Ui::QuitApplication();
}

void TFCOMM::ClearBtnClick() {
    HistoryListBox->clear();
    Memo1->setPlainText(QString());
}

void TFCOMM::Log(const QString& line) {
    // The log keeps the most recent lines only: hours of reading add hundreds of lines a
    // minute, and an unbounded list would slowly eat the memory and the window's speed.
    constexpr int kMaxLogLines = 5000;
    HistoryListBox->addItem(line);
    while (HistoryListBox->count() > kMaxLogLines) delete HistoryListBox->takeItem(0);
    HistoryListBox->setCurrentRow(HistoryListBox->count() - 1);
    // The selected line is the newest: a person must see it (also once a batched layout of
    // the list has caught up, see BuildWindow).
    HistoryListBox->scrollToItem(HistoryListBox->currentItem(), QAbstractItemView::PositionAtBottom);
}
