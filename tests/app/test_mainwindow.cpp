// The main window as a user meets it at start: regions, captions, hints, menu, timers,
// start-up values, resize rules, exit paths and the general error handler.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QCheckBox>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QComboBox>
#include <QFrame>
#include <QHeaderView>
#include <QScrollBar>
#include <QStyle>
#include <QFontMetrics>
#include <QChartView>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/application.h"
#include "app/tfcomm.h"
#include "window_test_support.h"
#include "app/widgets.h"
#include "meter/lcdpanel.h"
#include "records/recordtable.h"
#include "records/recordtablemodel.h"

namespace {

// A window started in a folder that holds a fresh copy of the record table file, with the
// interactive hooks replaced so that nothing blocks.
class MainWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (HasFatalFailure()) return;
        EnterFolder();
        StartWindow();
    }

    QuietUi ui_;  // every dialog recorded instead of shown
    int& quitCalls_ = ui_.quitCalls;
};

TEST_F(MainWindowTest, CaptionAndStartUpValues) {
    EXPECT_EQ(w().windowTitle(), QStringLiteral("MS42K Interface Program _Ver: 1.00"));
    EXPECT_EQ(w().objectName(), QStringLiteral("FCOMM"));

    const SharedState& s = w().State;
    EXPECT_EQ(s.KdScale, "4");
    EXPECT_EQ(s.ScaleMax, 60);
    EXPECT_EQ(s.KdZero, 400);
    EXPECT_EQ(s.BarFull, 40);
    EXPECT_EQ(s.KdDivisions, 80);
    EXPECT_EQ(s.RecordNo, 1);
    EXPECT_FALSE(s.KdWideScale);
    EXPECT_EQ(s.RecordLimit, 10000);
    EXPECT_EQ(s.RecordsAppended, 0);
    EXPECT_EQ(s.SampleCountdown, 0);
    EXPECT_TRUE(s.FrameHex.empty());
    EXPECT_TRUE(s.LastReadingKey.empty());
    EXPECT_EQ(s.MaxLimit, 0.0f);
    EXPECT_EQ(s.MinLimit, 0.0f);
    // RecallStamp: the start-up date and time as days since 1899-12-30.
    const QDateTime now = QDateTime::currentDateTime();
    const double nowDays = 25569.0 + double(now.toMSecsSinceEpoch() + qint64(now.offsetFromUtc()) * 1000) / 86400000.0;
    EXPECT_NEAR(s.RecallStamp, nowDays, 60.0 / 86400.0);
    EXPECT_GT(s.RecallStamp, 40000.0);  // a date after 2009, not a bare time of day
}

TEST_F(MainWindowTest, InitialVisibilityOfEachRegion) {
    struct Case {
        const char* name;
        QWidget* widget;
        bool visible;
    };
    const Case cases[] = {
        // top strip
        {"USBCon", Control<QToolButton>(w(), "USBCon"), true},
        {"BitBtn1", Control<QPushButton>(w(), "BitBtn1"), true},
        {"B2400", Control<QCheckBox>(w(), "B2400"), false},
        {"B4800", Control<QCheckBox>(w(), "B4800"), false},
        {"B9600", Control<QCheckBox>(w(), "B9600"), false},  // hidden by the start-up sequence
        {"USBtxt", Control<QLabel>(w(), "USBtxt"), false},
        {"USBtxt1", Control<QLabel>(w(), "USBtxt1"), false},
        {"BtCOM1", Control<PanelLabel>(w(), "BtCOM1"), false},
        {"BtCOM4", Control<PanelLabel>(w(), "BtCOM4"), false},
        {"RecallDataTest", Control<QPushButton>(w(), "RecallDataTest"), false},
        {"Onescope", Control<QPushButton>(w(), "Onescope"), false},
        {"Button4", Control<QPushButton>(w(), "Button4"), false},
        // left column
        {"Panel1", static_cast<QWidget*>(Control<LcdPanel>(w(), "Panel1")), true},
        {"PBar2", Control<QProgressBar>(w(), "PBar2"), true},
        {"RepeatSet", Control<QCheckBox>(w(), "RepeatSet"), true},
        {"RecordSI", Control<QCheckBox>(w(), "RecordSI"), true},
        {"RecordSITime", Control<QLineEdit>(w(), "RecordSITime"), true},
        {"RecordNew", Control<QToolButton>(w(), "RecordNew"), true},
        {"OpenDataFiles", Control<QToolButton>(w(), "OpenDataFiles"), true},
        {"saveas", Control<QToolButton>(w(), "saveas"), true},
        {"BtPrint", Control<QToolButton>(w(), "BtPrint"), true},
        {"Print", Control<QToolButton>(w(), "Print"), false},
        {"DBGrid1", Control<QTableView>(w(), "DBGrid1"), true},
        // right column
        {"KD", Control<QFrame>(w(), "KD"), true},
        {"CONok", Control<ImageButton>(w(), "CONok"), false},
        {"CONokN", Control<ImageButton>(w(), "CONokN"), true},
        {"KdFd", Control<ImageButton>(w(), "KdFd"), false},
        {"KdSx", Control<ImageButton>(w(), "KdSx"), false},
        {"oltext", Control<PanelLabel>(w(), "oltext"), false},
        {"TbFd", Control<ImageButton>(w(), "TbFd"), true},
        {"TbSx", Control<ImageButton>(w(), "TbSx"), false},
        {"BtNew", Control<QToolButton>(w(), "BtNew"), true},
        {"BtSave", Control<QToolButton>(w(), "BtSave"), true},
        {"BtFirst", Control<QToolButton>(w(), "BtFirst"), false},
        {"BTPrevious", Control<QToolButton>(w(), "BTPrevious"), false},
        {"Bt10", Control<QToolButton>(w(), "Bt10"), false},
        {"BtNext", Control<QToolButton>(w(), "BtNext"), false},
        {"BTlast", Control<QToolButton>(w(), "BTlast"), false},
        {"ComboBox1", static_cast<QWidget*>(Control<QComboBox>(w(), "ComboBox1")), false},
        {"ScopeNo", Control<ImageButton>(w(), "ScopeNo"), true},
        {"Scopeok", Control<ImageButton>(w(), "Scopeok"), false},
        {"Maxrecord", Control<QLineEdit>(w(), "Maxrecord"), false},
        // lower strip
        {"Panel2", Control<QFrame>(w(), "Panel2"), true},
        {"Panel3", Control<QFrame>(w(), "Panel3"), true},
        {"BTCon", Control<PanelLabel>(w(), "BTCon"), true},
        {"BtDiscon", Control<PanelLabel>(w(), "BtDiscon"), false},
        {"BtExit", Control<PanelLabel>(w(), "BtExit"), false},
        {"HistoryListBox", Control<QListWidget>(w(), "HistoryListBox"), true},
        {"ClearBtn", Control<QToolButton>(w(), "ClearBtn"), true},
        {"SendData", Control<QPushButton>(w(), "SendData"), true},
        {"ReadBtn", Control<QToolButton>(w(), "ReadBtn"), false},
        {"SetFeature", Control<QPushButton>(w(), "SetFeature"), false},
        {"DevListBox", Control<QListWidget>(w(), "DevListBox"), false},
        {"InfoBtn", Control<QToolButton>(w(), "InfoBtn"), false},
        {"COMCon", Control<QToolButton>(w(), "COMCon"), false},
        {"Button2", Control<QPushButton>(w(), "Button2"), false},
        {"Button3", Control<QPushButton>(w(), "Button3"), false},
        {"IFRK740", Control<QCheckBox>(w(), "IFRK740"), false},
        {"Memo1", Control<QPlainTextEdit>(w(), "Memo1"), false},  // hidden by the start-up sequence
    };
    for (const Case& c : cases) {
        ASSERT_NE(c.widget, nullptr) << c.name;
        EXPECT_EQ(c.widget->isVisibleTo(&w()), c.visible) << c.name;
    }
    EXPECT_TRUE(Control<QCheckBox>(w(), "B9600")->isChecked());
    EXPECT_TRUE(Control<QCheckBox>(w(), "IFRK740")->isChecked());
    EXPECT_FALSE(Control<QToolButton>(w(), "USBCon")->isChecked());
}

TEST_F(MainWindowTest, CaptionsHintsAndTexts) {
    struct Case {
        const char* name;
        QString actual;
        const char* expected;
    };
    const Case cases[] = {
        {"USBCon caption", Control<QToolButton>(w(), "USBCon")->text(), "Connect"},
        {"USBCon hint", Control<QToolButton>(w(), "USBCon")->toolTip(), "USB Connect"},
        {"BitBtn1", Control<QPushButton>(w(), "BitBtn1")->text(), "EXIT"},
        {"USBtxt", Control<QLabel>(w(), "USBtxt")->text(), "6001"},
        {"BtCOM3", Control<PanelLabel>(w(), "BtCOM3")->text(), "COM 3"},
        {"RecallDataTest", Control<QPushButton>(w(), "RecallDataTest")->text(), "RecallData"},
        {"Onescope", Control<QPushButton>(w(), "Onescope")->text(), "One scope"},
        {"RepeatSet", Control<QCheckBox>(w(), "RepeatSet")->text(), "Repeat"},
        {"RepeatSet hint", Control<QCheckBox>(w(), "RepeatSet")->toolTip(), "Repeage Record"},
        {"RecordSI", Control<QCheckBox>(w(), "RecordSI")->text(), "Sampling Interval           'S"},
        {"RecordSITime", Control<QLineEdit>(w(), "RecordSITime")->text(), "10"},
        {"RecordNew hint", Control<QToolButton>(w(), "RecordNew")->toolTip(), "Close Data"},
        {"OpenDataFiles hint", Control<QToolButton>(w(), "OpenDataFiles")->toolTip(), "Open old data files"},
        {"saveas hint", Control<QToolButton>(w(), "saveas")->toolTip(), "Save data files"},
        {"BtPrint hint", Control<QToolButton>(w(), "BtPrint")->toolTip(), "Print"},
        {"TbFd hint", Control<ImageButton>(w(), "TbFd")->toolTip(), "Graphic Enlarge"},
        {"TbSx hint", Control<ImageButton>(w(), "TbSx")->toolTip(), "Graphic Restore"},
        {"BtNew hint", Control<QToolButton>(w(), "BtNew")->toolTip(), "New"},
        {"BtSave hint", Control<QToolButton>(w(), "BtSave")->toolTip(), "Save"},
        {"Bt10", Control<QToolButton>(w(), "Bt10")->text(), "1"},
        {"Bt10 hint", Control<QToolButton>(w(), "Bt10")->toolTip(), "Page No."},
        {"Maxrecord", Control<QLineEdit>(w(), "Maxrecord")->text(), "100"},
        {"oltext", Control<PanelLabel>(w(), "oltext")->text(), "OL !!"},
        {"RecallCheck", Control<QCheckBox>(w(), "RecallCheck")->text(), "RecallData"},
        {"TimeH", Control<QLineEdit>(w(), "TimeH")->text(), "23"},
        {"TimeM", Control<QLineEdit>(w(), "TimeM")->text(), "59"},
        {"TimeS", Control<QLineEdit>(w(), "TimeS")->text(), "59"},
        {"TimeInt", Control<QLineEdit>(w(), "TimeInt")->text(), "1"},
        {"MinText", Control<QLabel>(w(), "MinText")->text(), "40001"},
        {"MaxText", Control<QLabel>(w(), "MaxText")->text(), "-40001"},
        {"Setmax", Control<QLineEdit>(w(), "Setmax")->text(), "40000"},
        {"SetMin", Control<QLineEdit>(w(), "SetMin")->text(), "-40000"},
        {"SetMaxB", Control<QCheckBox>(w(), "SetMaxB")->text(), "SetMax:"},
        {"SetMinB", Control<QCheckBox>(w(), "SetMinB")->text(), "SetMin: "},
        {"BTCon", Control<PanelLabel>(w(), "BTCon")->text(), "Connect"},
        {"BtDiscon", Control<PanelLabel>(w(), "BtDiscon")->text(), "Disconnect"},
        {"BtExit", Control<PanelLabel>(w(), "BtExit")->text(), "Exit"},
        {"ClearBtn", Control<QToolButton>(w(), "ClearBtn")->text(), "Clear"},
        {"SendData", Control<QPushButton>(w(), "SendData")->text(), "USBSendData"},
        {"COMCon", Control<QToolButton>(w(), "COMCon")->text(), "MS22G COM"},
        {"Button2", Control<QPushButton>(w(), "Button2")->text(), "SET Baud Rate"},
        {"Button3", Control<QPushButton>(w(), "Button3")->text(), "MS42K COM"},
        {"IFRK740", Control<QCheckBox>(w(), "IFRK740")->text(), "RK740/760"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.actual, QString::fromUtf8(c.expected)) << c.name;
    EXPECT_EQ(Control<QProgressBar>(w(), "PBar2")->maximum(), 40);
    EXPECT_STREQ(TFCOMM::OpenDialog1Filter, "access data files (*.DB)|*.DB|All files (*.*)|*.*");
    EXPECT_STREQ(TFCOMM::SaveDialog2Filter,
                 "Excel File(*.xls)|*.xls|DB File(*.db)|*.db|Txt File(*.txt)|*.txt|All File(*.*)|*.*");
}

TEST_F(MainWindowTest, MenuStructure) {
    const QList<QAction*> top = w().menuBar()->actions();
    ASSERT_EQ(top.size(), 5);
    EXPECT_EQ(top[0]->text(), QStringLiteral("Connect"));
    EXPECT_FALSE(top[0]->isVisible());
    EXPECT_TRUE(top[1]->text().isEmpty());
    EXPECT_EQ(top[2]->text(), QStringLiteral("Record"));
    EXPECT_TRUE(top[3]->text().isEmpty());
    EXPECT_EQ(top[4]->text(), QStringLiteral("Exit"));

    const QList<QAction*> connect = Control<QMenu>(w(), "Connect1")->actions();
    ASSERT_EQ(connect.size(), 2);
    EXPECT_EQ(connect[0]->text(), QStringLiteral("START"));
    EXPECT_EQ(connect[0]->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_A));
    EXPECT_EQ(connect[1]->text(), QStringLiteral("STOP"));

    const QList<QAction*> record = Control<QMenu>(w(), "Record1")->actions();
    const std::vector<QString> expected = {"New", "Save", "", "1000", "5000", "10000", "50000", "100000", "limitless"};
    ASSERT_EQ(record.size(), qsizetype(expected.size()));
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(record[qsizetype(i)]->text(), expected[i]) << i;
        EXPECT_EQ(record[qsizetype(i)]->isChecked(), expected[i] == "10000") << i;
    }
    EXPECT_TRUE(record[2]->isSeparator());
}

TEST_F(MainWindowTest, TimersRunFromTheStart) {
    EXPECT_EQ(Control<QTimer>(w(), "ConTimer")->interval(), 100);
    EXPECT_EQ(Control<QTimer>(w(), "Trecord")->interval(), 1000);
    EXPECT_TRUE(Control<QTimer>(w(), "ConTimer")->isActive());
    EXPECT_TRUE(Control<QTimer>(w(), "Trecord")->isActive());
}

TEST_F(MainWindowTest, LowerStripStartsOutOfView) {
    EXPECT_EQ(w().frameGeometry().height(), 520);
    const int visibleBottom = w().height();  // bottom of the window's client area
    for (QWidget* lower :
         {static_cast<QWidget*>(Control<QFrame>(w(), "Panel2")), static_cast<QWidget*>(Control<QFrame>(w(), "Panel3")),
          static_cast<QWidget*>(Control<QListWidget>(w(), "HistoryListBox")),
          static_cast<QWidget*>(Control<PanelLabel>(w(), "BTCon"))}) {
        const int top = lower->mapTo(&w(), QPoint(0, 0)).y();
        EXPECT_GE(top, visibleBottom) << lower->metaObject()->className();
    }
    // Made taller, the whole designed client area shows.
    w().resize(w().width(), 700);
    QCoreApplication::processEvents();
    const int bottom = Control<QListWidget>(w(), "HistoryListBox")
                           ->mapTo(&w(), QPoint(0, Control<QListWidget>(w(), "HistoryListBox")->height()))
                           .y();
    EXPECT_LE(bottom, w().height());
}

TEST_F(MainWindowTest, ResizeKeepsRightEdgeOffsets) {
    for (int width : {717, 900, 1200}) {
        w().resize(width, 600);
        QCoreApplication::processEvents();
        const int outer = w().frameGeometry().width();
        EXPECT_EQ(Control<PanelLabel>(w(), "BtExit")->x(), outer - 80) << width;
        EXPECT_EQ(Control<PanelLabel>(w(), "BTCon")->x(), outer - 190) << width;
        EXPECT_EQ(Control<PanelLabel>(w(), "BtDiscon")->x(), outer - 190) << width;
    }
    for (int kdWidth : {371, 500, 200}) {
        Control<QFrame>(w(), "KD")->resize(kdWidth, 143);
        QCoreApplication::processEvents();
        EXPECT_EQ(Control<ImageButton>(w(), "KdFd")->x(), kdWidth - 30) << kdWidth;
        EXPECT_EQ(Control<ImageButton>(w(), "KdSx")->x(), kdWidth - 30) << kdWidth;
    }
}

// The named controls of each region with the widget that holds them.
struct Region {
    const char* name;
    std::vector<QWidget*> controls;
};

template <class... T>
std::vector<QWidget*> W(T*... controls) {
    return {static_cast<QWidget*>(controls)...};
}

std::vector<Region> Regions(TFCOMM& w) {
    auto kids = [](QWidget* panel) {
        std::vector<QWidget*> v;
        for (QObject* o : panel->children())
            if (auto* c = qobject_cast<QWidget*>(o)) v.push_back(c);
        return v;
    };
    return {
        {"top strip", W(Control<QToolButton>(w, "USBCon"), Control<QPushButton>(w, "BitBtn1"),
                        Control<QCheckBox>(w, "B2400"), Control<QCheckBox>(w, "B4800"), Control<QCheckBox>(w, "B9600"),
                        Control<QLabel>(w, "USBtxt"), Control<QLabel>(w, "USBtxt1"), Control<PanelLabel>(w, "BtCOM1"),
                        Control<PanelLabel>(w, "BtCOM2"), Control<PanelLabel>(w, "BtCOM3"),
                        Control<PanelLabel>(w, "BtCOM4"), Control<QPushButton>(w, "RecallDataTest"),
                        Control<QPushButton>(w, "Onescope"), Control<QPushButton>(w, "Button4"))},
        // RecordSITime sits in the gap of RecordSI's caption by design: it is checked against
        // the others, not against its caption.
        {"left column",
         W(Control<LcdPanel>(w, "Panel1"), Control<QProgressBar>(w, "PBar2"), Control<QCheckBox>(w, "RepeatSet"),
           Control<QCheckBox>(w, "RecordSI"), Control<QToolButton>(w, "RecordNew"),
           Control<QToolButton>(w, "OpenDataFiles"), Control<QToolButton>(w, "saveas"),
           Control<QToolButton>(w, "BtPrint"), Control<QToolButton>(w, "Print"), Control<QTableView>(w, "DBGrid1"))},
        {"left column, sampling edit",
         W(Control<LcdPanel>(w, "Panel1"), Control<QProgressBar>(w, "PBar2"), Control<QCheckBox>(w, "RepeatSet"),
           Control<QLineEdit>(w, "RecordSITime"), Control<QToolButton>(w, "RecordNew"),
           Control<QToolButton>(w, "OpenDataFiles"), Control<QToolButton>(w, "saveas"),
           Control<QToolButton>(w, "BtPrint"), Control<QToolButton>(w, "Print"), Control<QTableView>(w, "DBGrid1"))},
        {"right column", W(Control<QFrame>(w, "KD"), Control<QChartView>(w, "Chtshow"))},
        {"gauge panel",
         W(Control<ImageButton>(w, "CONok"), Control<ImageButton>(w, "CONokN"), Control<ImageButton>(w, "KdFd"),
           Control<ImageButton>(w, "KdSx"), Control<PanelLabel>(w, "oltext"))},
        {"chart tools",
         W(Control<ImageButton>(w, "TbFd"), Control<ImageButton>(w, "TbSx"), Control<QToolButton>(w, "BtNew"),
           Control<QToolButton>(w, "BtSave"), Control<QToolButton>(w, "BtFirst"), Control<QToolButton>(w, "BTPrevious"),
           Control<QToolButton>(w, "Bt10"), Control<QToolButton>(w, "BtNext"), Control<QToolButton>(w, "BTlast"),
           Control<QComboBox>(w, "ComboBox1"), Control<ImageButton>(w, "ScopeNo"), Control<ImageButton>(w, "Scopeok"),
           Control<QLineEdit>(w, "Maxrecord"))},
        {"lower strip",
         W(Control<QFrame>(w, "Panel2"), Control<QFrame>(w, "Panel3"), Control<PanelLabel>(w, "BTCon"),
           Control<PanelLabel>(w, "BtDiscon"), Control<PanelLabel>(w, "BtExit"),
           Control<QListWidget>(w, "HistoryListBox"), Control<QToolButton>(w, "ClearBtn"),
           Control<QPushButton>(w, "SendData"), Control<QToolButton>(w, "ReadBtn"),
           Control<QPushButton>(w, "SetFeature"), Control<QListWidget>(w, "DevListBox"),
           Control<QToolButton>(w, "InfoBtn"), Control<QToolButton>(w, "COMCon"), Control<QPushButton>(w, "Button2"),
           Control<QPushButton>(w, "Button3"), Control<QCheckBox>(w, "IFMS22H"), Control<QCheckBox>(w, "IFRK740"),
           Control<QCheckBox>(w, "IFMS35F"), Control<QCheckBox>(w, "IFMS22D"), Control<QPlainTextEdit>(w, "Memo1"))},
        {"recall panel", kids(Control<QFrame>(w, "Panel2"))},
        {"limits panel", kids(Control<QFrame>(w, "Panel3"))},
    };
}

bool UpperRegion(const Region& r) {
    const std::string n = r.name;
    return n.rfind("top", 0) == 0 || n.rfind("left", 0) == 0 || n.rfind("right", 0) == 0 || n == "gauge panel" ||
           n == "chart tools";
}

// No two shown controls of one region cover each other, each lies whole inside its holder,
// and (upperOnly: the upper regions) whole inside the part of the client area in view.
void ExpectRegionsApartAndWhole(TFCOMM& w, bool upperOnly, const char* size) {
    QWidget* client = w.centralWidget();
    const QRect inView = QRect(QPoint(0, 0), client->size());
    for (const Region& r : Regions(w)) {
        std::vector<QWidget*> shown;
        for (QWidget* c : r.controls)
            if (c->isVisibleTo(&w)) shown.push_back(c);
        for (size_t i = 0; i < shown.size(); ++i) {
            for (size_t j = i + 1; j < shown.size(); ++j) {
                const QRect a = shown[i]->geometry(), b = shown[j]->geometry();
                EXPECT_FALSE(a.intersects(b))
                    << size << ", " << r.name << ": " << shown[i]->metaObject()->className() << " at " << a.x() << ","
                    << a.y() << " " << a.width() << "x" << a.height() << " covers "
                    << shown[j]->metaObject()->className() << " at " << b.x() << "," << b.y() << " " << b.width() << "x"
                    << b.height() << " (" << shown[i]->objectName().toStdString()
                    << (shown[i]->property("text").toString().toStdString()) << " / "
                    << (shown[j]->property("text").toString().toStdString()) << ")";
            }
            QWidget* c = shown[i];
            if (c->parentWidget() != client) {  // the client area is checked below
                EXPECT_TRUE(QRect(QPoint(0, 0), c->parentWidget()->size()).contains(c->geometry()))
                    << size << ", " << r.name << ": " << c->metaObject()->className() << " "
                    << c->property("text").toString().toStdString() << " sticks out of its holder";
            }
            if (upperOnly && !UpperRegion(r)) continue;
            const QRect inClient(c->mapTo(client, QPoint(0, 0)), c->size());
            EXPECT_TRUE(inView.contains(inClient))
                << size << ", " << r.name << ": " << c->metaObject()->className() << " "
                << c->property("text").toString().toStdString() << " at y " << inClient.y() << ".." << inClient.bottom()
                << " not whole in the client area of height " << inView.height();
        }
    }
}

TEST_F(MainWindowTest, ControlsOfARegionLieApartAndWhole) {
    // Start-up size: the upper regions whole, the lower strip out of view.
    ExpectRegionsApartAndWhole(w(), true, "start-up size");
    // Designed size: every control whole; the panels keep their place when the frame is
    // made wider (Connect moves with the right edge).
    w().resize(w().DesignedSize());
    QCoreApplication::processEvents();
    ExpectRegionsApartAndWhole(w(), false, "designed size");
    w().resize(w().DesignedSize() + QSize(200, 0));
    QCoreApplication::processEvents();
    ExpectRegionsApartAndWhole(w(), false, "designed size, wider");
    // The serial panels, shown in turn, stay clear of the limit edits and the log.
    Control<PanelLabel>(w(), "BTCon")->hide();
    Control<PanelLabel>(w(), "BtDiscon")->show();
    w().resize(w().DesignedSize());
    QCoreApplication::processEvents();
    ExpectRegionsApartAndWhole(w(), false, "designed size, Disconnect shown");
}

// The designed client area is the one below the menu bar: the log and USBSendData show whole.
TEST_F(MainWindowTest, DesignedClientAreaLiesBelowTheMenuBar) {
    w().resize(w().DesignedSize());
    QCoreApplication::processEvents();
    EXPECT_EQ(w().centralWidget()->size(), QSize(717, 596));
    EXPECT_EQ(w().centralWidget()->y(), w().menuBar()->geometry().bottom() + 1);
    for (QWidget* c : {static_cast<QWidget*>(Control<QPushButton>(w(), "SendData")),
                       static_cast<QWidget*>(Control<QListWidget>(w(), "HistoryListBox"))}) {
        EXPECT_LE(c->geometry().bottom(), 595) << c->metaObject()->className();
    }
    // The log shows more than one line.
    w().Log(QStringLiteral("one"));
    EXPECT_GE(Control<QListWidget>(w(), "HistoryListBox")->viewport()->height(),
              2 * Control<QListWidget>(w(), "HistoryListBox")
                      ->visualItemRect(Control<QListWidget>(w(), "HistoryListBox")->item(0))
                      .height());
}

// Every column of the grid shows its title and its texts whole ("AUTO", not "AU..."), with
// no horizontal scrolling.
TEST_F(MainWindowTest, GridColumnsShowTitleAndTextsWhole) {
    QTableView* grid = Control<QTableView>(w(), "DBGrid1");
    QHeaderView* head = grid->horizontalHeader();
    const char* const texts[] = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
    const char* const cells[] = {"99999", "23:59:59", "DC", "-3.999", "mV", "AUTO"};
    const QFontMetrics headFm(head->font()), cellFm(grid->font());
    const int headMargin = head->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, head);
    const int cellMargin = grid->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, grid) + 1;
    int total = 0;
    for (int c = 0; c < 6; ++c) {
        const int width = grid->columnWidth(c);
        total += width;
        EXPECT_EQ(grid->model()->headerData(c, Qt::Horizontal).toString(), QString::fromLatin1(texts[c]));
        // Room the header and the cells need before they elide their texts.
        EXPECT_GE(width, headFm.horizontalAdvance(QString::fromLatin1(texts[c])) + 2 * headMargin + 4) << texts[c];
        EXPECT_GE(width, cellFm.horizontalAdvance(QString::fromLatin1(cells[c])) + 2 * cellMargin) << cells[c];
    }
    EXPECT_LE(total, grid->viewport()->width());
    EXPECT_FALSE(grid->horizontalScrollBar()->isVisible());
}

// Ctrl+A runs START1 although its menu is hidden, also from an edit that has the focus.
TEST_F(MainWindowTest, CtrlAStartsTheLinkFromTheHiddenMenu) {
    QSignalSpy started(Control<QAction>(w(), "START1"), &QAction::triggered);
    w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w()));
    QTest::keyClick(&w(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(started.count(), 1);
    Control<QLineEdit>(w(), "Setmax")->setFocus();
    QTest::keyClick(Control<QLineEdit>(w(), "Setmax"), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(started.count(), 2);
    EXPECT_EQ(Control<QLineEdit>(w(), "Setmax")->text(), QStringLiteral("40000"));
}

// The filters act on typed characters: Delete, arrows and Backspace edit every filtered edit.
TEST_F(MainWindowTest, FilteredEditsKeepDeleteAndNavigation) {
    w().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w()));
    for (QLineEdit* e :
         {Control<QLineEdit>(w(), "RecordSITime"), Control<QLineEdit>(w(), "TimeH"), Control<QLineEdit>(w(), "TimeM"),
          Control<QLineEdit>(w(), "TimeS"), Control<QLineEdit>(w(), "TimeInt"), Control<QLineEdit>(w(), "Maxrecord"),
          Control<QLineEdit>(w(), "Setmax"), Control<QLineEdit>(w(), "SetMin")}) {
        const QString before = e->text();
        e->setFocus();
        e->setCursorPosition(0);
        // As an X11 keyboard sends it: Delete with the text 0x7F.
        QTest::sendKeyEvent(QTest::Click, e, Qt::Key_Delete, QString(QChar(0x7F)), Qt::NoModifier);
        EXPECT_EQ(e->text(), before.mid(1)) << before.toStdString();
        QTest::keyClick(e, Qt::Key_End);
        QTest::keyClick(e, Qt::Key_Backspace);
        EXPECT_EQ(e->text(), before.mid(1, before.size() - 2)) << before.toStdString();
        QTest::keyClick(e, Qt::Key_X);  // still filtered
        EXPECT_EQ(e->text(), before.mid(1, before.size() - 2)) << before.toStdString();
        QTest::keyClick(e, Qt::Key_5);
        EXPECT_EQ(e->text(), before.mid(1, before.size() - 2) + QStringLiteral("5")) << before.toStdString();
    }
}

// The newest log line is the selected one and it is scrolled into view.
TEST_F(MainWindowTest, LogShowsTheNewestLine) {
    w().resize(w().DesignedSize());
    QCoreApplication::processEvents();
    QListWidget* log = Control<QListWidget>(w(), "HistoryListBox");
    for (int i = 1; i <= 300; ++i) {
        w().Log(QStringLiteral("line %1").arg(i));
        if (i % 50 == 0 || i < 5) {
            // The list lays out its lines in batches: let it finish.
            static_cast<void>(QTest::qWaitFor(  // checked below
                [&] { return log->viewport()->rect().contains(log->visualItemRect(log->currentItem())); }, 5000));
            const QRect r = log->visualItemRect(log->currentItem());
            EXPECT_EQ(log->currentItem()->text(), QStringLiteral("line %1").arg(i));
            EXPECT_TRUE(log->viewport()->rect().contains(r))
                << i << ": line at " << r.y() << ".." << r.bottom() << " of " << log->viewport()->height();
        }
    }
}

// A long table: the grid's per-row bookkeeping stays bounded (a window of the table), it
// follows the newest reading, and scrolling reaches every row from the last to the first.
TEST_F(MainWindowTest, GridOverALongTableFollowsTheNewestRowAndScrollsToTheFirst) {
    const size_t rows = 3 * size_t(RecordTableModel::kWindowRows) + 123;
    RecordRow row;
    row.DcAc = "DC";
    row.Unit = " V";
    for (size_t i = 0; i < rows; ++i) {
        row.No = int32_t(i + 1);
        row.Value = std::to_string(i % 4000);
        w().T22GDB->Append(row);
    }
    w().State.RecordNo = int32_t(rows + 1);
    w().RecallDataTestClick();  // one more reading, as recorded: the grid follows it
    QCoreApplication::processEvents();
    QTableView* grid = Control<QTableView>(w(), "DBGrid1");
    const size_t total = w().T22GDB->RowCount();
    ASSERT_EQ(total, rows + 1);
    EXPECT_LE(grid->verticalHeader()->count(), RecordTableModel::kWindowRows);
    auto cellNo = [&](int modelRow) { return grid->model()->index(modelRow, 0).data().toString(); };
    ASSERT_TRUE(grid->currentIndex().isValid());
    EXPECT_EQ(cellNo(grid->currentIndex().row()), QString::number(total));
    EXPECT_EQ(grid->model()->headerData(grid->currentIndex().row(), Qt::Vertical).toString(), QString(QChar(0x25B6)));
    EXPECT_TRUE(grid->viewport()->rect().intersects(grid->visualRect(grid->currentIndex())));

    // Scrolling up to the top, step by step as a person would with the scroll bar: the
    // rows in view stay in view while the window moves, until the first row shows.
    QScrollBar* bar = grid->verticalScrollBar();
    QString lastTop;
    for (int step = 0; step < 20; ++step) {
        bar->setValue(bar->minimum());
        QCoreApplication::processEvents();
        const QString top = cellNo(grid->rowAt(0));
        if (top == lastTop) break;
        lastTop = top;
    }
    EXPECT_EQ(lastTop, QStringLiteral("1"));
    EXPECT_LE(grid->verticalHeader()->count(), RecordTableModel::kWindowRows);
    // And down again to the end.
    for (int step = 0; step < 20; ++step) {
        bar->setValue(bar->maximum());
        QCoreApplication::processEvents();
    }
    EXPECT_EQ(cellNo(grid->rowAt(grid->viewport()->height() - 1)), QString::number(total));
    // Scrolled back, the next reading brings the newest row into view again.
    bar->setValue(bar->minimum());
    bar->setValue(bar->minimum());
    w().RecallDataTestClick();
    QCoreApplication::processEvents();
    EXPECT_EQ(cellNo(grid->currentIndex().row()), QString::number(total + 1));
    EXPECT_TRUE(grid->viewport()->rect().intersects(grid->visualRect(grid->currentIndex())));
}

// A long run keeps the newest log lines, with the last one selected.
TEST_F(MainWindowTest, LogKeepsTheNewestLinesSelected) {
    for (int i = 1; i <= 5003; ++i) w().Log(QString::number(i));
    ASSERT_EQ(Control<QListWidget>(w(), "HistoryListBox")->count(), 5000);
    EXPECT_EQ(Control<QListWidget>(w(), "HistoryListBox")->item(0)->text(), QStringLiteral("4"));
    EXPECT_EQ(Control<QListWidget>(w(), "HistoryListBox")->currentItem()->text(), QStringLiteral("5003"));
}

TEST_F(MainWindowTest, ClearEmptiesLogAndMemo) {
    w().Log(QStringLiteral("line 1"));
    w().Log(QStringLiteral("line 2"));
    Control<QPlainTextEdit>(w(), "Memo1")->setPlainText(QStringLiteral("5A00"));
    QTest::mouseClick(Control<QToolButton>(w(), "ClearBtn"), Qt::LeftButton);
    EXPECT_EQ(Control<QListWidget>(w(), "HistoryListBox")->count(), 0);
    EXPECT_TRUE(Control<QPlainTextEdit>(w(), "Memo1")->toPlainText().isEmpty());
}

// EXIT, menu Exit, the hidden Exit panel and the close button all close the record table
// before the application is asked to end.
TEST_F(MainWindowTest, EveryExitPathClosesTheTableThenQuits) {
    const std::vector<std::pair<const char*, std::function<void(TFCOMM&)>>> paths = {
        {"EXIT button", [](TFCOMM& win) { QTest::mouseClick(Control<QPushButton>(win, "BitBtn1"), Qt::LeftButton); }},
        {"menu Exit", [](TFCOMM& win) { Control<QAction>(win, "EXIT1")->trigger(); }},
        {"Exit panel", [](TFCOMM& win) { win.BtExit1Click(); }},
        {"close button", [](TFCOMM& win) { win.close(); }},
    };
    for (const auto& [name, exitPath] : paths) {
        window_.reset();
        window_ = std::make_unique<TFCOMM>();
        window_->show();
        ASSERT_TRUE(w().T22GDB->IsOpen()) << name << ": the record table opens at start";
        bool openAtQuit = true;
        quitCalls_ = 0;
        Ui::QuitApplication = [&] {
            openAtQuit = w().T22GDB->IsOpen();
            quitCalls_++;
        };
        exitPath(w());
        EXPECT_EQ(quitCalls_, 1) << name;
        EXPECT_FALSE(openAtQuit) << name;
    }
}

// An exception escaping a handler is shown by the general error handler and the program goes on.
TEST(GeneralErrorHandler, ExceptionFromEventLoopHandlersIsShownAndProgramContinues) {
    std::vector<QString> errors;
    Ui::ShowError = [&](const QString& t) { errors.push_back(t); };

    QPushButton button(QStringLiteral("throws"));
    QObject::connect(&button, &QPushButton::clicked, [] { throw std::runtime_error("click failed"); });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);

    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        ++ticks;
        if (ticks == 1) throw std::runtime_error("timer failed");
    });
    timer.start(1);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 3, 2000);  // the timer keeps running after the failure
    timer.stop();

    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], QStringLiteral("click failed"));
    EXPECT_EQ(errors[1], QStringLiteral("timer failed"));

    // Direct calls from code (device callbacks) go through Guard.
    bool after = false;
    Guard([] { throw std::runtime_error("callback failed"); });
    after = true;
    EXPECT_TRUE(after);
    ASSERT_EQ(errors.size(), 3u);
    EXPECT_EQ(errors[2], QStringLiteral("callback failed"));
    Ui::ResetHooks();
}

// A guarded handler that throws ends only itself: the signal's next slot still runs, the error
// is shown once, and a handler that wants the signal's arguments gets them.
TEST(GeneralErrorHandler, GuardedHandlerThrowingLeavesTheSignalsOtherSlotsRunning) {
    std::vector<QString> errors;
    Ui::ShowError = [&](const QString& t) { errors.push_back(t); };

    QPushButton button(QStringLiteral("two slots"));
    button.setCheckable(true);
    bool checkedSeen = false;
    int secondRuns = 0;
    GuardedConnect(&button, &QPushButton::clicked, &button, [&](bool checked) {
        checkedSeen = checked;
        throw std::runtime_error("first slot failed");
    });
    QObject::connect(&button, &QPushButton::clicked, &button, [&] { ++secondRuns; });
    button.show();
    QTest::mouseClick(&button, Qt::LeftButton);  // through the event loop's notify
    emit button.clicked(true);                   // and emitted from code

    EXPECT_TRUE(checkedSeen);
    EXPECT_EQ(secondRuns, 2);
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], QStringLiteral("first slot failed"));
    EXPECT_EQ(errors[1], QStringLiteral("first slot failed"));
    Ui::ResetHooks();
}

}  // namespace
