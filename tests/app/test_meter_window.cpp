// The live display in the window: the test frame end to end, waveform frames, failing frames,
// the gauge picture, the limits, and the chart panel's tools.
#include <gtest/gtest.h>

#include <QAreaSeries>
#include <QCheckBox>
#include <QChart>
#include <QChartView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTest>
#include <QAction>
#include <QSignalBlocker>
#include <QValueAxis>
#include <cctype>
#include <functional>
#include <memory>
#include <stdexcept>
#include <vector>

#include "app/application.h"
#include "app/cli.h"
#include "app/tfcomm.h"
#include "window_test_support.h"
#include "app/widgets.h"
#include "meter/convert.h"
#include "meter/gaugegeometry.h"
#include "meter/gaugeimage.h"
#include "meter/lcdpanel.h"
#include "meter/meterframe.h"
#include "meter/segmentsymbols.h"
#include "records/recordtable.h"

namespace {

// A window started in a folder holding a fresh record table, with hooks that never block.
class MeterWindowTest : public WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        if (HasFatalFailure()) return;
        EnterFolder();
        StartWindow(InFolder());
    }

    void Show(const std::string& frame) {
        w().State.FrameHex = frame;
        w().LcdDisplay42();
    }
    static std::string Frame(const std::string& display, char sign = ' ', char prefix = ' ', char mode = '0',
                             char coupling = '0') {
        FrameContent c;
        c.display = display;
        c.sign = sign;
        c.prefix = prefix;
        c.modeDigit = mode;
        c.couplingDigit = coupling;
        return EncodeFrame(c);
    }
    static std::string WaveFrame(const std::vector<uint8_t>& samples, uint8_t offset = 0) {
        FrameContent c;
        c.wave = samples;
        c.offset = offset;
        return EncodeFrame(c);
    }

    const QImage& Gauge() { return Control<GaugeImage>(w(), "KD1")->Canvas(); }
    bool Black(int x, int y) { return qGray(Gauge().pixel(x, y)) < 60; }
    bool Red(int x, int y) {
        const QRgb c = Gauge().pixel(x, y);
        return qRed(c) > 200 && qGreen(c) < 60 && qBlue(c) < 60;
    }
    // Black pixels of one picture row between x0 and x1, as their x positions.
    std::vector<int> BlackInRow(int y, int x0, int x1) {
        std::vector<int> xs;
        for (int x = x0; x <= x1; ++x)
            if (Black(x, y)) xs.push_back(x);
        return xs;
    }
    // The arc dot j of the 800-step arc, the centre of its ellipse.
    QPoint ArcDot(int j) {
        const GaugeGeometry g =
            ComputeGaugeGeometry(Control<QFrame>(w(), "KD")->width(), Control<QFrame>(w(), "KD")->height());
        const GaugePoint p = GaugePointAt(g, GaugeStepAngle(g, 800, j), 3);
        return QPoint(p.X + 1, p.Y + 1);
    }
    std::vector<QPointF> Points1() {
        const QList<QPointF> p = Series<QLineSeries>(w(), "Series1")->points();
        return std::vector<QPointF>(p.begin(), p.end());
    }
    QValueAxis* Axis(Qt::Orientation o) { return qobject_cast<QValueAxis*>(Chart(w())->axes(o).first()); }

    QuietUi ui_;  // every dialog recorded instead of shown
    std::vector<QString>& messages_ = ui_.messages;
    std::vector<QString>& errors_ = ui_.errors;
};

TEST_F(MeterWindowTest, StartUpShowsFormLcdEmptyChartAndUprightNeedle) {
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->DisplayText(), QStringLiteral("3.999"));
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->AnnunciatorText(), QStringLiteral("V"));
    EXPECT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 1);
    EXPECT_EQ(Series<QLineSeries>(w(), "Series2Line")->count(), 1);
    EXPECT_TRUE(Series<QLineSeries>(w(), "Series1")->isVisible());
    EXPECT_FALSE(Series<QAreaSeries>(w(), "Series2")->isVisible());
    EXPECT_DOUBLE_EQ(Axis(Qt::Vertical)->min(), -61.0);
    EXPECT_DOUBLE_EQ(Axis(Qt::Vertical)->max(), 60.0);
    EXPECT_EQ(Control<QComboBox>(w(), "ComboBox1")->currentIndex(), 0);
    EXPECT_TRUE(Control<ImageButton>(w(), "CONokN")->isVisibleTo(Control<QFrame>(w(), "KD")));
    EXPECT_FALSE(Control<ImageButton>(w(), "CONok")->isVisibleTo(Control<QFrame>(w(), "KD")));
    // The needle stands upright under the top of the arc: one narrow black run around x 186.
    const std::vector<int> row = BlackInRow(90, 100, 270);
    ASSERT_FALSE(row.empty());
    EXPECT_LE(row.size(), 3u);
    EXPECT_NEAR(row.front(), 185, 2);
    EXPECT_EQ(w().State.NeedleTipX, 186);
    EXPECT_EQ(w().State.NeedleTipY, 34);
    // The arc is solid black at its ends and top.
    for (int j : {0, 6, 400, 800}) EXPECT_TRUE(Black(ArcDot(j).x(), ArcDot(j).y())) << j;
}

TEST_F(MeterWindowTest, TestFrameEndToEnd) {
    const size_t rowsBefore = w().T22GDB->RowCount();
    Control<QPushButton>(w(), "Onescope")->click();  // a trace that the test frame must clear
    ASSERT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 161);
    // Just under the tip, where the needle moves most.
    const std::vector<int> upright = BlackInRow(40, 160, 215);
    ASSERT_FALSE(upright.empty());
    w().Button4Click();

    EXPECT_EQ(w().State.FrameHex, kTestFrameHex);
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->DisplayText(), QStringLiteral("00.66"));
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->AnnunciatorText(), QStringLiteral("DC V"));
    EXPECT_FALSE(Control<LcdPanel>(w(), "Panel1")->IsShown(LcdElement::LcdFH));
    EXPECT_EQ(w().State.ValueText, "00.66");
    EXPECT_EQ(w().State.SymbolText, " V");
    EXPECT_EQ(w().State.AcDcText, "DC");
    EXPECT_EQ(w().State.AutoText, "");
    EXPECT_EQ(w().State.ValueNum, 66.0f);
    EXPECT_EQ(Control<QProgressBar>(w(), "PBar2")->value(), 1);
    EXPECT_EQ(Control<QLabel>(w(), "USBtxt")->text(), QStringLiteral("6"));
    EXPECT_TRUE(Control<ImageButton>(w(), "CONok")->isVisibleTo(Control<QFrame>(w(), "KD")));
    EXPECT_FALSE(Control<ImageButton>(w(), "CONokN")->isVisibleTo(Control<QFrame>(w(), "KD")));
    EXPECT_TRUE(Control<ImageButton>(w(), "ScopeNo")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));
    EXPECT_FALSE(Control<ImageButton>(w(), "Scopeok")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));
    // The needle moved a little right of upright (406), and only one needle is left.
    const GaugeGeometry g =
        ComputeGaugeGeometry(Control<QFrame>(w(), "KD")->width(), Control<QFrame>(w(), "KD")->height());
    const NeedleLine n = GaugeNeedle(g, 406, 80, false);
    EXPECT_EQ(w().State.NeedleTipX, n.Tip.X);
    EXPECT_EQ(w().State.NeedleEndX, n.End.X);
    EXPECT_GT(n.Tip.X, 186);
    const std::vector<int> row = BlackInRow(40, 160, 215);
    ASSERT_FALSE(row.empty());
    EXPECT_LE(row.size(), 3u);
    EXPECT_GT(row.front(), upright.front());
    EXPECT_FALSE(Black(upright.front(), 40));              // the upright needle is erased
    EXPECT_TRUE(Black(ArcDot(400).x(), ArcDot(400).y()));  // the dial is left intact
    // A row in the grid.
    ASSERT_EQ(w().T22GDB->RowCount(), rowsBefore + 1);
    EXPECT_EQ(w().T22GDB->CellText(rowsBefore, ColValue), "00.66");
    EXPECT_EQ(w().T22GDB->CellText(rowsBefore, ColDcAc), "DC");
    // The chart is reset: one sample point, no trace.
    EXPECT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 1);
    EXPECT_EQ(Series<QLineSeries>(w(), "Series2Line")->count(), 1);
    EXPECT_TRUE(errors_.empty());
}

TEST_F(MeterWindowTest, ReadingsDriveLcdGaugeAndBar) {
    struct Case {
        const char* name;
        std::string frame;
        const char* lcd;
        const char* annunciators;
        float valueNum;
        int bar;
    };
    const Case cases[] = {
        {"negative millivolt", Frame("12.34", '-', 'm'), "-12.34", "DC m V", -1234, 12},
        {"overload", Frame(" 0.L ", ' ', 'M', '4'), " 0.L ", "M Ω", 60, 40},
        {"bar beyond its range", Frame("99.99"), "99.99", "DC V", 9999, 40},
        {"duty", Frame("50.00", ' ', 'k', '2', '1'), "50.00", "k DUTY", 5000, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show(c.frame);
        EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->DisplayText(), QString::fromUtf8(c.lcd));
        EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->AnnunciatorText(), QString::fromUtf8(c.annunciators));
        EXPECT_EQ(w().State.ValueNum, c.valueNum);
        EXPECT_EQ(Control<QProgressBar>(w(), "PBar2")->value(), c.bar);
    }
}

TEST_F(MeterWindowTest, WaveformFrameDrawsAndReplacesTheTrace) {
    std::vector<uint8_t> first(320, 0), second(320, 0);
    for (int i = 0; i < 160; ++i) {
        first[size_t(2 * i)] = uint8_t(i % 40);  // a rising saw
        second[size_t(2 * i + 1)] = 0xF6;        // -10 everywhere
    }
    Show(WaveFrame(first));
    std::vector<QPointF> p = Points1();
    ASSERT_EQ(p.size(), 161u);
    for (int i = 0; i < 160; ++i) {
        EXPECT_DOUBLE_EQ(p[size_t(i + 1)].x(), i + 1.0);
        EXPECT_DOUBLE_EQ(p[size_t(i + 1)].y(), double(i % 40));
    }
    EXPECT_EQ(w().ChtshowPageCount(), 1);
    Show(WaveFrame(second, 0x05));
    p = Points1();
    ASSERT_EQ(p.size(), 161u);
    for (int i = 1; i <= 160; ++i) EXPECT_DOUBLE_EQ(p[size_t(i)].y(), -5.0);
    // A reading frame clears it.
    Show(kTestFrameHex);
    EXPECT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 1);
}

TEST_F(MeterWindowTest, FailingFrameShowsTheStepsBeforeTheFailure) {
    w().Button4Click();
    const size_t rows = w().T22GDB->RowCount();
    const int tipX = w().State.NeedleTipX;
    // Mode digit "B": digits, sign and prefix are shown, then the mode conversion fails.
    w().State.FrameHex = Frame("12.34", '-', 'k', 'B');
    try {
        w().LcdDisplay42();
        ADD_FAILURE() << "no conversion error";
    } catch (const ConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'B' is not a valid integer value");
    }
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->DisplayText(), QStringLiteral("-12.34"));
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->AnnunciatorText(), QStringLiteral("k"));
    EXPECT_EQ(w().State.SymbolText, "k");
    EXPECT_EQ(w().State.AcDcText, "");
    EXPECT_EQ(w().State.ValueText, "00.66");  // not reached: the previous frame's
    EXPECT_EQ(w().State.ValueNum, 66.0f);
    EXPECT_EQ(w().State.NeedleTipX, tipX);
    EXPECT_EQ(w().T22GDB->RowCount(), rows);

    // A value that is no number: the panel and ValueText are updated, nothing after them.
    w().State.FrameHex = Frame("1.2.3");
    EXPECT_THROW(w().LcdDisplay42(), ConvertError);
    EXPECT_EQ(w().State.ValueText, "1.2.3");
    EXPECT_EQ(w().State.SymbolText, " V");
    EXPECT_EQ(w().State.ValueNum, 66.0f);
    EXPECT_EQ(w().T22GDB->RowCount(), rows);
}

TEST_F(MeterWindowTest, RecordingErrorLeavesBarAndChartUndone) {
    Show(Frame("07.00"));
    Control<QPushButton>(w(), "Onescope")->click();
    ASSERT_EQ(Control<QProgressBar>(w(), "PBar2")->value(), 7);
    ASSERT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 161);
    // Without an open table the record step fails: the steps after it are not done.
    w().T22GDB->Close();
    w().State.FrameHex = kTestFrameHex;
    EXPECT_ANY_THROW(w().LcdDisplay42());
    EXPECT_EQ(w().State.ValueText, "00.66");
    EXPECT_EQ(w().State.NeedleTipX, GaugeNeedle(ComputeGaugeGeometry(Control<QFrame>(w(), "KD")->width(),
                                                                     Control<QFrame>(w(), "KD")->height()),
                                                406, 80, false)
                                        .Tip.X);
    EXPECT_EQ(Control<QProgressBar>(w(), "PBar2")->value(), 7);
    EXPECT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 161);
}

TEST_F(MeterWindowTest, LoggedDisplayReportsEachFailingFrameOnceAndGoesOn) {
    const int logBefore = Control<QListWidget>(w(), "HistoryListBox")->count();
    w().State.FrameHex = Frame("12.34", ' ', ' ', 'C');
    EXPECT_FALSE(w().LcdDisplay42Logged());
    ASSERT_EQ(Control<QListWidget>(w(), "HistoryListBox")->count(), logBefore + 1);
    EXPECT_TRUE(Control<QListWidget>(w(), "HistoryListBox")
                    ->item(logBefore)
                    ->text()
                    .contains(QStringLiteral("'C' is not a valid integer value")));
    EXPECT_FALSE(w().LcdDisplay42Logged());  // the next failing frame: one more line
    EXPECT_EQ(Control<QListWidget>(w(), "HistoryListBox")->count(), logBefore + 2);
    EXPECT_TRUE(errors_.empty());  // no modal dialog
    w().State.FrameHex = kTestFrameHex;
    EXPECT_TRUE(w().LcdDisplay42Logged());
    EXPECT_EQ(Control<QListWidget>(w(), "HistoryListBox")->count(), logBefore + 2);
    EXPECT_EQ(Control<LcdPanel>(w(), "Panel1")->DisplayText(), QStringLiteral("00.66"));
}

TEST_F(MeterWindowTest, LimitsColourTheArcAndRemoveTheNeedle) {
    ASSERT_FALSE(BlackInRow(90, 100, 270).empty());
    // Checking SetMaxB with the form's 40000: nothing red, limit read from the text.
    Control<QCheckBox>(w(), "SetMaxB")->click();
    EXPECT_EQ(w().State.MaxLimit, 40000.0f);
    for (int j : {0, 400, 800}) EXPECT_FALSE(Red(ArcDot(j).x(), ArcDot(j).y())) << j;
    EXPECT_TRUE(BlackInRow(90, 100, 270).empty());  // the dial redraw removed the needle
    // Empty text: limit 0, dots from j = 7 red.
    Control<QLineEdit>(w(), "Setmax")->setText(QString());
    EXPECT_EQ(w().State.MaxLimit, 0.0f);
    EXPECT_TRUE(Red(ArcDot(400).x(), ArcDot(400).y()));
    EXPECT_TRUE(Red(ArcDot(800).x(), ArcDot(800).y()));
    EXPECT_FALSE(Red(ArcDot(0).x(), ArcDot(0).y()));
    // SetMinB with the text "-": limit 0 (dots 0 .. 5 red, hidden under their black
    // neighbours); with 100 the left end of the arc (dots 0 .. 15) is red.
    Control<QCheckBox>(w(), "SetMinB")->click();
    EXPECT_EQ(w().State.MinLimit, -40000.0f);
    Control<QLineEdit>(w(), "SetMin")->setText(QStringLiteral("-"));
    EXPECT_EQ(w().State.MinLimit, 0.0f);
    EXPECT_FALSE(Red(ArcDot(0).x(), ArcDot(0).y()));
    Control<QLineEdit>(w(), "SetMin")->setText(QStringLiteral("100"));
    EXPECT_EQ(w().State.MinLimit, 100.0f);
    EXPECT_TRUE(Red(ArcDot(0).x(), ArcDot(0).y()));
    // A leading plus sign is accepted.
    Control<QLineEdit>(w(), "Setmax")->setText(QStringLiteral("+25"));
    EXPECT_EQ(w().State.MaxLimit, 25.0f);
    // Text that is no integer (also what could pass for hexadecimal, pasted past the key
    // filter): the error names it; limit and dial keep their state.
    const QImage before = Gauge();
    for (const char* text : {"1-2", "$3E8", "0x3E8", " $10"}) {
        {
            const QSignalBlocker block(Control<QLineEdit>(w(), "Setmax"));
            Control<QLineEdit>(w(), "Setmax")->setText(QString::fromLatin1(text));
        }
        try {
            w().SetmaxExit();
            ADD_FAILURE() << "no conversion error for " << text;
        } catch (const ConvertError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
        }
        EXPECT_EQ(w().State.MaxLimit, 25.0f) << text;
        EXPECT_TRUE(Gauge() == before) << text;
    }
    // The next reading brings a needle back.
    w().Button4Click();
    EXPECT_FALSE(BlackInRow(90, 100, 270).empty());
}

TEST_F(MeterWindowTest, LimitKeyFilter) {
    struct Case {
        char key;
        bool passes;
    };
    const Case cases[] = {{'0', true},  {'9', true},  {'+', true},  {'-', true},  {8, true},
                          {'a', false}, {' ', false}, {'.', false}, {',', false}, {'e', false}};
    for (const Case& c : cases) {
        char key = c.key;
        w().SetmaxKeyPress(Control<QLineEdit>(w(), "Setmax"), key);
        EXPECT_EQ(key, c.passes ? c.key : 0) << int(c.key);
    }
}

TEST_F(MeterWindowTest, OneScopeDrawsTheTestSine) {
    Control<QPushButton>(w(), "Onescope")->click();
    const std::vector<QPointF> p = Points1();
    ASSERT_EQ(p.size(), 161u);
    double lo = 0, hi = 0;
    for (size_t i = 0; i < p.size(); ++i) {
        EXPECT_DOUBLE_EQ(p[i].x(), double(i));
        lo = std::min(lo, p[i].y());
        hi = std::max(hi, p[i].y());
    }
    EXPECT_DOUBLE_EQ(p[0].y(), 0.0);
    EXPECT_NEAR(p[8].y(), 50.0 * 0.8414709848, 1e-9);  // sin(1)
    EXPECT_GT(hi, 49.9);
    EXPECT_LE(hi, 50.0);
    EXPECT_LT(lo, -49.9);
    EXPECT_GE(lo, -50.0);
    EXPECT_TRUE(Control<ImageButton>(w(), "Scopeok")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));
    EXPECT_FALSE(Control<ImageButton>(w(), "ScopeNo")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));
    EXPECT_EQ(w().ChtshowMaxPointsPerPage, 161);
    EXPECT_EQ(w().ChtshowPageCount(), 1);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), 0.0);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), 160.0);
}

TEST_F(MeterWindowTest, SeriesSelectorAndNew) {
    Control<QComboBox>(w(), "ComboBox1")->setCurrentIndex(1);  // "btile"
    EXPECT_FALSE(Series<QLineSeries>(w(), "Series1")->isVisible());
    EXPECT_TRUE(Series<QAreaSeries>(w(), "Series2")->isVisible());
    Show(WaveFrame(std::vector<uint8_t>(320, 3)));
    EXPECT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 161);  // the trace still goes to Series1
    Control<QToolButton>(w(), "BtNew")->click();
    EXPECT_EQ(Series<QLineSeries>(w(), "Series1")->count(), 1);
    EXPECT_EQ(Control<QComboBox>(w(), "ComboBox1")->currentIndex(), 0);
    EXPECT_TRUE(Series<QAreaSeries>(w(), "Series2")->isVisible());  // New leaves the chosen series shown
    EXPECT_FALSE(Series<QLineSeries>(w(), "Series1")->isVisible());
    Control<QComboBox>(w(), "ComboBox1")->setCurrentIndex(1);
    Control<QComboBox>(w(), "ComboBox1")->setCurrentIndex(0);  // "atile"
    EXPECT_TRUE(Series<QLineSeries>(w(), "Series1")->isVisible());
    EXPECT_FALSE(Series<QAreaSeries>(w(), "Series2")->isVisible());
    EXPECT_THROW(w().ShowSeries(2), std::out_of_range);
}

// A rubber-band zoom is undone by "New" and by a right-click: the fixed axis -61 .. 60 again.
TEST_F(MeterWindowTest, NewAndRightClickReturnToTheFixedScale) {
    Show(WaveFrame(std::vector<uint8_t>(320, 3)));
    const double bottomMin = Axis(Qt::Horizontal)->min(), bottomMax = Axis(Qt::Horizontal)->max();
    const std::vector<std::pair<const char*, std::function<void()>>> ways = {
        {"New", [this] { Control<QToolButton>(w(), "BtNew")->click(); }},
        {"right-click",
         [this] {
             QTest::mouseClick(Control<QChartView>(w(), "Chtshow")->viewport(), Qt::RightButton, {}, QPoint(200, 150));
         }},
    };
    for (const auto& [name, back] : ways) {
        // A drag over the middle of the plot zooms both axes in.
        const QRectF plot = Chart(w())->plotArea();
        Chart(w())->zoomIn(QRectF(plot.center() - QPointF(30, 20), QSizeF(60, 40)));
        ASSERT_GT(Axis(Qt::Vertical)->min(), -61.0) << name;
        ASSERT_LT(Axis(Qt::Vertical)->max(), 60.0) << name;
        back();
        EXPECT_DOUBLE_EQ(Axis(Qt::Vertical)->min(), -61.0) << name;
        EXPECT_DOUBLE_EQ(Axis(Qt::Vertical)->max(), 60.0) << name;
        if (std::string(name) == "right-click") {
            EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), bottomMin) << name;
            EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), bottomMax) << name;
        }
        // The next frames keep the fixed scale.
        Show(Frame("00.66"));
        EXPECT_DOUBLE_EQ(Axis(Qt::Vertical)->min(), -61.0) << name;
        EXPECT_DOUBLE_EQ(Axis(Qt::Vertical)->max(), 60.0) << name;
    }
}

// MinText/MaxText: the smallest and largest reading of the run as the meter showed it,
// compared in the base unit within one measuring mode.
TEST_F(MeterWindowTest, ExtremesOfTheRun) {
    const QString ohm = SegmentText("*");
    auto expectShown = [&](const char* step, const char* min, const QString& minU, const char* max,
                           const QString& maxU) {
        EXPECT_EQ(Control<QLabel>(w(), "MinText")->text(), QString::fromLatin1(min)) << step;
        EXPECT_EQ(Control<QLabel>(w(), "MinTextU")->text(), minU) << step;
        EXPECT_EQ(Control<QLabel>(w(), "MaxText")->text(), QString::fromLatin1(max)) << step;
        EXPECT_EQ(Control<QLabel>(w(), "MaxTextU")->text(), maxU) << step;
    };
    const QString V = QStringLiteral("V"), mV = QStringLiteral("mV");
    expectShown("start", "40001", ohm, "-40001", ohm);  // the ohm sign of the segment font, not "*"
    struct Step {
        const char* name;
        std::string frame;
        const char *min, *minU, *max, *maxU;
    };
    const Step steps[] = {
        {"first reading", Frame("1.234"), "1.234", "V", "1.234", "V"},
        {"500 mV is below 1.234 V", Frame("500.0", ' ', 'm'), "500.0", "mV", "1.234", "V"},
        {"negative volts", Frame("2.000", '-'), "-2.000", "V", "1.234", "V"},
        {"3 V is the largest", Frame("3.000"), "-2.000", "V", "3.000", "V"},
        {"overload does not count", Frame(" 0.L "), "-2.000", "V", "3.000", "V"},
        {"failed frame does not count", Frame("  5  "), "-2.000", "V", "3.000", "V"},
        {"1500 mV lies between", Frame("1500", ' ', 'm'), "-2.000", "V", "3.000", "V"},
        {"other mode: a new run", Frame("10.00", ' ', 'k', '4'), "10.00", "k*", "10.00", "k*"},
        {"2 Mohm is more than 10 kohm", Frame("2.000", ' ', 'M', '4'), "10.00", "k*", "2.000", "M*"},
        {"AC volts: a new run", Frame("0.500", ' ', ' ', '0', '1'), "0.500", "V", "0.500", "V"},
    };
    for (const Step& st : steps) {
        w().State.FrameHex = st.frame;
        w().LcdDisplay42Logged();
        expectShown(st.name, st.min, SegmentText(st.minU), st.max, SegmentText(st.maxU));
    }
    // New begins a new run: the design texts until the next reading.
    for (const auto& [name, reset] : std::vector<std::pair<const char*, std::function<void()>>>{
             {"chart New", [this] { Control<QToolButton>(w(), "BtNew")->click(); }},
             {"menu New", [this] { Control<QAction>(w(), "New1")->trigger(); }},
         }) {
        Show(Frame("7.000"));
        EXPECT_EQ(Control<QLabel>(w(), "MaxText")->text(), QStringLiteral("7.000")) << name;
        reset();
        expectShown(name, "40001", ohm, "-40001", ohm);
    }
}

TEST_F(MeterWindowTest, PagingThroughTheChart) {
    Show(WaveFrame(std::vector<uint8_t>(320, 1)));
    Control<QLineEdit>(w(), "Maxrecord")->setText(QStringLiteral("50"));  // 161 points: 4 pages of 50
    ASSERT_EQ(w().ChtshowMaxPointsPerPage, 50);
    ASSERT_EQ(w().ChtshowPageCount(), 4);
    struct Step {
        void (TFCOMM::*click)();
        int page;
        bool first, previous, next, last;
        const char* caption;
    };
    // The page buttons are hidden: their handlers are called as their clicks would.
    const Step steps[] = {
        {&TFCOMM::BtNextClick, 2, true, true, true, true, "2"},
        {&TFCOMM::BtNextClick, 3, true, true, true, true, "3"},
        {&TFCOMM::BtNextClick, 4, true, true, true, true, "4"},
        {&TFCOMM::BtNextClick, 4, true, true, false, false, "4"},
        {&TFCOMM::BTPreviousClick, 3, true, true, true, true, "3"},
        {&TFCOMM::BtFirstClick, 1, false, false, true, true, "1"},
        {&TFCOMM::BTPreviousClick, 1, false, false, true, true, "1"},
        {&TFCOMM::BTlastClick, 4, true, true, false, false, "4"},
    };
    int n = 0;
    for (const Step& s : steps) {
        SCOPED_TRACE(n++);
        (w().*s.click)();
        EXPECT_EQ(w().ChtshowPage, s.page);
        EXPECT_EQ(Control<QToolButton>(w(), "BtFirst")->isEnabled(), s.first);
        EXPECT_EQ(Control<QToolButton>(w(), "BTPrevious")->isEnabled(), s.previous);
        EXPECT_EQ(Control<QToolButton>(w(), "BtNext")->isEnabled(), s.next);
        EXPECT_EQ(Control<QToolButton>(w(), "BTlast")->isEnabled(), s.last);
        EXPECT_EQ(Control<QToolButton>(w(), "Bt10")->text(), QString::fromLatin1(s.caption));
    }
    // The last page shows points 150 .. 199 (only 150 .. 160 exist).
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), 150.0);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->max(), 199.0);
    // A larger page size clamps the current page.
    Control<QLineEdit>(w(), "Maxrecord")->setText(QStringLiteral("1000"));
    EXPECT_EQ(w().ChtshowPage, 1);
    EXPECT_DOUBLE_EQ(Axis(Qt::Horizontal)->min(), 0.0);
    // New data never changes the page.
    Control<QLineEdit>(w(), "Maxrecord")->setText(QStringLiteral("50"));
    w().BTlastClick();
    Show(kTestFrameHex);
    EXPECT_EQ(w().ChtshowPage, 4);
}

TEST_F(MeterWindowTest, EnlargeAndRestore) {
    const QRect chart = Control<QChartView>(w(), "Chtshow")->geometry();
    const QRect outer = w().frameGeometry();
    Control<ImageButton>(w(), "TbFd")->clicked();
    EXPECT_EQ(Control<QChartView>(w(), "Chtshow")->geometry(), QRect(2, 28, outer.width() - 12, outer.height() - 85));
    EXPECT_TRUE(Control<ImageButton>(w(), "TbSx")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));
    EXPECT_FALSE(Control<ImageButton>(w(), "TbFd")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));
    Control<ImageButton>(w(), "TbSx")->clicked();
    EXPECT_EQ(Control<QChartView>(w(), "Chtshow")->geometry(), chart);
    EXPECT_TRUE(Control<ImageButton>(w(), "TbFd")->isVisibleTo(Control<QChartView>(w(), "Chtshow")));

    const QRect gauge = Control<QFrame>(w(), "KD")->geometry();
    w().KdFdClick();
    EXPECT_EQ(Control<QFrame>(w(), "KD")->geometry(), QRect(2, 28, outer.width() - 12, outer.height() - 80));
    EXPECT_FALSE(Control<QChartView>(w(), "Chtshow")->isVisibleTo(w().centralWidget()));
    w().KdFdClick();
    EXPECT_EQ(Control<QFrame>(w(), "KD")->geometry(), gauge);
    EXPECT_TRUE(Control<QChartView>(w(), "Chtshow")->isVisibleTo(w().centralWidget()));
}

TEST_F(MeterWindowTest, SaveWritesTheBitmapBeforeSayingSo) {
    const QString path = dir_.filePath(QStringLiteral("databmp.bmp"));
    w().ChartBitmapPath = path;
    Control<QPushButton>(w(), "Onescope")->click();
    Control<QToolButton>(w(), "BtSave")->click();
    ASSERT_EQ(messages_.size(), 1u);
    EXPECT_EQ(messages_[0], QStringLiteral("graphic has saved on ") + QDir::toNativeSeparators(path));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(2), QByteArray("BM"));
    f.close();
    QImage saved(path);
    EXPECT_EQ(saved.size(), Control<QChartView>(w(), "Chtshow")->size());
    // Twice: written twice, said twice.
    QFile::remove(path);
    Control<QToolButton>(w(), "BtSave")->click();
    EXPECT_EQ(messages_.size(), 2u);
    EXPECT_TRUE(QFile::exists(path));

    // A path that cannot be written: an error naming it, and no success message.
    const QString bad = dir_.filePath(QStringLiteral("no-such-folder/databmp.bmp"));
    w().ChartBitmapPath = bad;
    try {
        w().BtSaveClick();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromLocal8Bit(e.what()).contains(QDir::toNativeSeparators(bad)));
    }
    EXPECT_EQ(messages_.size(), 2u);
}

// A save that cannot be made leaves the bitmap that was there whole: a read-only bitmap is
// refused before anything is written, and it keeps its bytes and its permissions.
TEST_F(MeterWindowTest, AFailedBitmapSaveLeavesTheOldFileIntact) {
    const QString path = dir_.filePath(QStringLiteral("databmp.bmp"));
    w().ChartBitmapPath = path;
    Control<QPushButton>(w(), "Onescope")->click();
    Control<QToolButton>(w(), "BtSave")->click();
    ASSERT_EQ(messages_.size(), 1u);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray old = f.readAll();
    f.close();
    ASSERT_TRUE(old.startsWith("BM"));
    ASSERT_TRUE(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
    w().resize(w().width() + 40, w().height());  // a new bitmap would differ
    try {
        w().BtSaveClick();
        ADD_FAILURE() << "no error for a read-only bitmap";
    } catch (const std::runtime_error& e) {
        EXPECT_TRUE(QString::fromLocal8Bit(e.what()).contains(QDir::toNativeSeparators(path))) << e.what();
        EXPECT_TRUE(QString::fromLocal8Bit(e.what()).contains(QStringLiteral("read-only"))) << e.what();
    }
    EXPECT_EQ(messages_.size(), 1u);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), old);
    EXPECT_EQ(
        QFileInfo(path).permissions() & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther),
        QFileDevice::Permissions());
    // No temporary file left beside it.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).filter(QStringLiteral("databmp")),
              QStringList{QStringLiteral("databmp.bmp")});
}

// ms42k decode: one output line per non-empty input line, with the window's decoder.
TEST(DecodeCommand, OneLinePerFrame) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    FrameContent wave;
    wave.wave.assign(320, 0);
    for (int i = 0; i < 160; ++i) {
        wave.wave[size_t(2 * i)] = 0x80;
        wave.wave[size_t(2 * i + 1)] = 0x7F;
    }
    FrameContent negativeOverload;
    negativeOverload.sign = '-';
    negativeOverload.display = " 0.L ";
    FrameContent hexMode;
    hexMode.modeDigit = 'D';
    FrameContent autoKilohm;
    autoKilohm.modeDigit = '4';
    autoKilohm.prefix = 'k';
    autoKilohm.autoByte = 1;
    autoKilohm.display = "3.999";
    std::string test = kTestFrameHex;
    std::string spaced;  // lower case with blanks between the bytes, CR LF line end
    for (size_t i = 0; i < test.size(); i += 2)
        spaced += char(std::tolower(test[i])) + std::string(1, char(std::tolower(test[i + 1]))) + " ";
    const std::string input = spaced + "\r\n" + "\n" + "   \n" + "5A00\n" + test + "0\n" + EncodeFrame(hexMode) + "\n" +
                              EncodeFrame(negativeOverload) + "\n" + EncodeFrame(autoKilohm) + "\n" +
                              EncodeFrame(wave) + "\n";
    const QString path = dir.filePath(QStringLiteral("frames.txt"));
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(input.data(), qint64(input.size()));
    }
    std::string waveField;
    for (int i = 0; i < 160; ++i) waveField += (i ? ",128" : "128");
    const std::string expected = std::string("value\tunit\tdc_ac\tauto\tnval\tgauge\tbar\twave\n") +
                                 "00.66\t V\tDC\t\t66\t406\t1\t\n" + "incomplete\n" + "incomplete\n" + "error\n" +
                                 "- 0.L\t V\tDC\t\t-60\t0\t40\t\n" + "3.999\tk*\t\tAUTO\t3999\t799\t39\t\n" +
                                 "00.66\t V\tDC\t\t66\t406\t1\t" + waveField + "\n";
    testing::internal::CaptureStdout();
    const int status = CmdDecode({path.toStdString()});
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(out, expected);

    testing::internal::CaptureStderr();
    EXPECT_NE(CmdDecode({dir.filePath(QStringLiteral("missing.txt")).toStdString()}), 0);
    EXPECT_NE(CmdDecode({"a", "b"}), 0);
    testing::internal::GetCapturedStderr();
}

}  // namespace
