// Live display: decoder and LCD panel, gauge, limits, chart panel.
#include <QAreaSeries>
#include <QBuffer>
#include <QChart>
#include <QChartView>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QLineSeries>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolButton>
#include <QValueAxis>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <stdexcept>

#include "app/application.h"
#include "app/tfcomm.h"
#include "app/widgets.h"
#include "chart/chartpaging.h"
#include "meter/convert.h"
#include "meter/decoder.h"
#include "meter/gaugegeometry.h"
#include "meter/gaugeimage.h"
#include "meter/lcdpanel.h"
#include "meter/meterframe.h"
#include "meter/segmentsymbols.h"
#include "records/datafiles.h"

namespace {
constexpr LcdElement kPointElements[3] = {LcdElement::LcdP0, LcdElement::LcdP1, LcdElement::LcdP2};
const LcdElement kAnnunciatorList[] = {LcdElement::LcdV,  LcdElement::Lcdm,  LcdElement::LCDohm, LcdElement::LCDk,
                                       LcdElement::LCDM1, LcdElement::LCDF,  LcdElement::LCDn,   LcdElement::LCDu,
                                       LcdElement::LCDA,  LcdElement::LCDHz, LcdElement::LCDBF,  LcdElement::LCDFm,
                                       LcdElement::LCDDI, LcdElement::LcdAC, LcdElement::LcdDc1};

QValueAxis* AxisOf(QChart* chart, Qt::Orientation o) {
    const QList<QAbstractAxis*> axes = chart->axes(o);
    return axes.isEmpty() ? nullptr : qobject_cast<QValueAxis*>(axes.first());
}

// Limit edits: "-", "+" and the empty text count as 0; other text is converted as an integer.
float LimitFromText(const QString& text) {
    const std::string t = text.toLatin1().toStdString();
    if (t.empty() || t == "-" || t == "+") return 0.0f;
    return float(StrToInt(t));
}

// A reading's value in the base unit: the digits as shown, scaled by the unit's prefix.
// False for an overload or digits that are no number.
bool ReadingInBaseUnit(const DecodeResult& r, double& value) {
    std::string digits;
    for (char c : r.ValueText) {
        if (c == 'L' || c == '@') return false;  // overload
        if (c != ' ') digits += c;
    }
    if (digits.empty() || digits == "-") return false;
    char* end = nullptr;
    const double v = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) return false;
    double scale = 1.0;
    if (r.SymbolText.size() > 1) {
        switch (r.SymbolText[0]) {
            case 'n': scale = 1e-9; break;
            case 'u': scale = 1e-6; break;
            case 'm': scale = 1e-3; break;
            case 'k': scale = 1e3; break;
            case 'M': scale = 1e6; break;
            default: break;
        }
    }
    value = v * scale;
    return true;
}

void SelectFirstSeriesItem(QComboBox* box) {
    // Setting the item by code is no user change: the selector's handler does not run.
    const QSignalBlocker block(box);
    box->setCurrentIndex(0);
}

QString DefaultChartBitmapPath() {
#ifdef Q_OS_WIN
    return QStringLiteral("c:\\databmp.bmp");
#else
    return QDir::homePath() + QStringLiteral("/databmp.bmp");
#endif
}

}  // namespace

void TFCOMM::ChtshowPageClick(chartpaging::PageHandler handler) {
    const chartpaging::PageStep s = chartpaging::PageClick(handler, ChtshowPage, ChtshowPageCount());
    if (s.Page != ChtshowPage) ChtshowSetPage(s.Page);
    if (s.First) BtFirst->setEnabled(*s.First);
    if (s.Previous) BTPrevious->setEnabled(*s.Previous);
    if (s.Next) BtNext->setEnabled(*s.Next);
    if (s.Last) BTlast->setEnabled(*s.Last);
    Bt10->setText(QString::number(ChtshowPage));
}

// ---------------------------------------------------------------------------------------------
// Set-up and start-up steps

void TFCOMM::BindMeterHandlers() {
    // The gauge, the limits and the chart's controls.
    GuardedConnect(Onescope, &QPushButton::clicked, this, [this] { OnescopeClick(); });
    GuardedConnect(Button4, &QPushButton::clicked, this, [this] { Button4Click(); });
    GuardedConnect(KdFd, &ImageButton::clicked, this, [this] { KdFdClick(); });
    GuardedConnect(KdSx, &ImageButton::clicked, this, [this] { KdFdClick(); });
    GuardedConnect(TbFd, &ImageButton::clicked, this, [this] { TbFdClick(); });
    GuardedConnect(TbSx, &ImageButton::clicked, this, [this] { TbFdClick(); });
    GuardedConnect(BtNew, &QToolButton::clicked, this, [this] { BtNewClick(); });
    GuardedConnect(BtSave, &QToolButton::clicked, this, [this] { BtSaveClick(); });
    GuardedConnect(BtFirst, &QToolButton::clicked, this, [this] { BtFirstClick(); });
    GuardedConnect(BTPrevious, &QToolButton::clicked, this, [this] { BTPreviousClick(); });
    GuardedConnect(BtNext, &QToolButton::clicked, this, [this] { BtNextClick(); });
    GuardedConnect(BTlast, &QToolButton::clicked, this, [this] { BTlastClick(); });
    GuardedConnect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { ComboBox1Change(); });
    GuardedConnect(Maxrecord, &QLineEdit::textChanged, this, [this] { MaxrecordExit(); });
    GuardedConnect(Setmax, &QLineEdit::textChanged, this, [this] { SetmaxExit(); });
    GuardedConnect(SetMaxB, &QCheckBox::clicked, this, [this] { SetmaxExit(); });
    GuardedConnect(SetMin, &QLineEdit::textChanged, this, [this] { SetMinExit(); });
    GuardedConnect(SetMinB, &QCheckBox::clicked, this, [this] { SetMinExit(); });
    // The chart's own settings (fixed left axis, flat look, no legend).
    ChartBitmapPath = DefaultChartBitmapPath();
    auto* axisX = new QValueAxis(ChtshowChart);
    auto* axisY = new QValueAxis(ChtshowChart);
    ChtshowChart->addAxis(axisX, Qt::AlignBottom);
    ChtshowChart->addAxis(axisY, Qt::AlignLeft);
    for (QAbstractSeries* s : {static_cast<QAbstractSeries*>(Series1), static_cast<QAbstractSeries*>(Series2)}) {
        s->attachAxis(axisX);
        s->attachAxis(axisY);
    }
    axisY->setRange(-61, 60);
    axisY->setLabelFormat(QStringLiteral("%d"));
    axisY->setTickType(QValueAxis::TicksDynamic);
    axisY->setTickAnchor(0);
    axisY->setTickInterval(20);
    axisY->setMinorTickCount(4);
    QPen leftLine(QColor(0x00, 0x40, 0x80));  // 8404992 as BGR
    leftLine.setStyle(Qt::DashLine);
    leftLine.setWidth(1);
    axisY->setLinePen(leftLine);
    axisX->setLabelFormat(QStringLiteral("%d"));
    axisX->setTickCount(9);
    QFont axisFont(QStringLiteral("DejaVu Sans"));
    axisFont.setPixelSize(10);
    axisX->setLabelsFont(axisFont);
    axisY->setLabelsFont(axisFont);

    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectBoundingMode);
    gradient.setColorAt(0, QColor(0xC0, 0xC0, 0xC0));
    gradient.setColorAt(1, Qt::white);
    ChtshowChart->setBackgroundBrush(gradient);
    ChtshowChart->setPlotAreaBackgroundBrush(Qt::white);
    ChtshowChart->setPlotAreaBackgroundVisible(true);
    ChtshowChart->setMargins(QMargins(1, 1, 4, 1));
    ChtshowChart->setBackgroundRoundness(0);
    QFont titleFont(QStringLiteral("Arial"));
    titleFont.setPixelSize(13);
    ChtshowChart->setTitleFont(titleFont);
    ChtshowChart->setTitleBrush(Qt::blue);
    QPen wave(Qt::blue);
    wave.setWidth(1);
    Series1->setPen(wave);
    ChtshowShowPage();
    // Right-click on the chart returns to the fixed scale (instead of zooming out around the
    // centre); the menu "New" and the speed button "Close Data" begin a new run of extremes.
    Chtshow->viewport()->installEventFilter(this);
    GuardedConnect(New1, &QAction::triggered, this, [this] { ResetExtremes(); });
    GuardedConnect(RecordNew, &QToolButton::clicked, this, [this] { ResetExtremes(); });
    for (QLabel* u : {MinTextU, MaxTextU}) u->setText(SegmentText("*"));
}

void TFCOMM::StartupResetChart() { ResetChartSeries(); }

void TFCOMM::StartupSeriesSelector() { SelectFirstSeriesItem(ComboBox1); }

void TFCOMM::StartupChartAxis() {
    QValueAxis* left = AxisOf(ChtshowChart, Qt::Vertical);
    if (!left) return;
    left->setMax(State.ScaleMax);
    left->setMin(-State.ScaleMax - 1);
}

void TFCOMM::StartupGauge() {
    KDsetup();
    KDrun(State.KdZero);
}

// ---------------------------------------------------------------------------------------------
// Decoder

void TFCOMM::LcdDisplay42() {
    const ScaleConstants scale{State.ScaleMax, State.KdZero, State.KdDivisions, State.BarFull};
    const DecodeResult r = DecodeFrame(State.FrameHex, scale);

    // 1. Link alive.
    CONok->show();
    CONokN->hide();
    State.NoFrameTicks = 0;
    // 4. The point shape of the frame's own point.
    if (r.Reached(4))
        for (LcdElement p : kPointElements) Panel1->SetShown(p, r.PointsAfterDigits.Has(p));
    // 5. Sign.
    if (r.Reached(5)) Panel1->SetShown(LcdElement::LcdFH, r.Minus);
    // 6, 7. Digit captions ('@' for L).
    if (r.Reached(7))
        for (int i = 0; i < 4; ++i) Panel1->SetDigit(i, r.Digits[size_t(i)]);
    // 8. Texts emptied, annunciators hidden.
    if (r.Reached(8)) {
        State.AcDcText.clear();
        State.AutoText.clear();
        State.SymbolText.clear();
        for (LcdElement e : kAnnunciatorList) Panel1->SetShown(e, false);
    }
    // 9. Prefix.
    if (r.Reached(9)) {
        State.SymbolText = r.Prefix;
        for (LcdElement e : kAnnunciatorList)
            if (r.PrefixShown.Has(e)) Panel1->SetShown(e, true);
    }
    // 10. Diagnostic character.
    if (r.Reached(10))
        USBtxt->setText(QString::fromLatin1(r.DiagnosticText.data(), qsizetype(r.DiagnosticText.size())));
    // 11. Mode: unit text, mode annunciators, AC/DC.
    if (r.Reached(11)) {
        State.SymbolText = r.SymbolText;
        State.AcDcText = r.AcDcText;
        for (LcdElement e : kAnnunciatorList) Panel1->SetShown(e, r.AnnunciatorsShown.Has(e));
    }
    // 12. The final point.
    if (r.Reached(12))
        for (LcdElement p : kPointElements) Panel1->SetShown(p, r.PointsShown.Has(p));
    // 13 .. 16. The decoded reading and the gauge.
    if (r.Reached(13)) State.ValueText = r.ValueText;
    if (r.Reached(14)) State.ValueNum = r.ValueNum;
    if (r.Reached(15)) KDrun(r.GaugePosition);
    if (r.Reached(16)) State.AutoText = r.AutoText;
    // 17. Record.
    if (r.Reached(17)) INDataToTable();
    // 18. Bar, held inside its range.
    if (r.Reached(18)) PBar2->setValue(std::clamp(r.BarPosition, PBar2->minimum(), PBar2->maximum()));
    // 19. Chart: a reading frame clears the trace, a waveform frame replaces it.
    if (r.Reached(19)) {
        if (r.Chart == ChartAction::Reset) {
            ResetChartSeries();
        } else if (r.Chart == ChartAction::Waveform) {
            ResetChartSeries();
            QList<QPointF> points = Series1->points();
            points.reserve(points.size() + qsizetype(r.Wave.size()));
            for (int y : r.Wave) points.append(QPointF(double(points.size()), double(y)));
            Series1->replace(points);
            ChtshowShowPage();
        }
    }
    // The run's extremes.
    if (r.Reached(11)) TrackExtremes(r);
    if (!r.Ok()) throw ConvertError(r.Error);
}

void TFCOMM::TrackExtremes(const DecodeResult& r) {
    // A new measuring mode (or coupling) begins a new run of extremes.
    if (ExtremesSet && (r.Mode != ExtremesMode || r.AcDcText != ExtremesCoupling)) ResetExtremes();
    double value = 0;
    if (!r.Ok() || !ReadingInBaseUnit(r, value)) return;  // failed frames and overloads do not count
    const QString shown = QString::fromLatin1(r.ValueText.data(), qsizetype(r.ValueText.size())).trimmed();
    const QString unit = SegmentText(r.SymbolText).trimmed();
    if (!ExtremesSet || value < ExtremeMin) {
        ExtremeMin = value;
        MinText->setText(shown);
        MinTextU->setText(unit);
    }
    if (!ExtremesSet || value > ExtremeMax) {
        ExtremeMax = value;
        MaxText->setText(shown);
        MaxTextU->setText(unit);
    }
    ExtremesSet = true;
    ExtremesMode = r.Mode;
    ExtremesCoupling = r.AcDcText;
}

void TFCOMM::ResetExtremes() {
    ExtremesSet = false;
    MinText->setText(QStringLiteral("40001"));
    MaxText->setText(QStringLiteral("-40001"));
    MinTextU->setText(SegmentText("*"));
    MaxTextU->setText(SegmentText("*"));
}

bool TFCOMM::LcdDisplay42Logged() noexcept {
    try {
        LcdDisplay42();
        return true;
    } catch (const std::exception& e) {
        try {
            Log(QStringLiteral("Frame not shown: ") + QString::fromLocal8Bit(e.what()));
        } catch (...) {
        }
    } catch (...) {
        try {
            Log(QStringLiteral("Frame not shown: unknown error"));
        } catch (...) {
        }
    }
    return false;
}

void TFCOMM::Button4Click() {
    ScopeNo->show();
    Scopeok->hide();
    State.FrameHex = kTestFrameHex;
    LcdDisplay42();
}

// ---------------------------------------------------------------------------------------------
// Gauge

void TFCOMM::KDsetup() {
    const GaugeGeometry g = ComputeGaugeGeometry(KD->width(), KD->height());
    const DialScale dial = SelectDialScale(State.KdScale, State.KdWideScale, State.KdDivisions);
    QImage& surface = KD1->Surface();
    QPainter p(&surface);
    p.fillRect(surface.rect(), Qt::white);
    QFont labelFont(QStringLiteral("DejaVu Sans"));
    labelFont.setPixelSize(11);
    p.setFont(labelFont);
    const int ascent = p.fontMetrics().ascent();
    for (int i = 0; i <= dial.Steps; ++i) {
        const float theta = GaugeStepAngle(g, dial.Steps, i);
        const GaugePoint t = GaugePointAt(g, theta, 6);
        const GaugePoint l = GaugePointAt(g, theta, 18);
        for (const DialLabel& label : dial.Labels) {
            if (label.Step != i) continue;
            p.setPen(Qt::black);
            p.drawText(QPoint(l.X - label.Dx, l.Y - label.Dy + ascent), QString::fromStdString(label.Text));
        }
        if (dial.HasTickDot(i)) {
            p.setPen(QPen(dial.Dot == TickDot::Red ? Qt::red : Qt::white, 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRect(t.X, t.Y, 2, 2));
        }
    }
    const int dots = 10 * State.KdDivisions;
    const QPen red(Qt::red, 4), black(Qt::black, 4);
    p.setBrush(Qt::NoBrush);
    for (int j = 0; j <= dots; ++j) {
        const GaugePoint a = GaugePointAt(g, GaugeStepAngle(g, dots, j), 3);
        const bool isRed =
            ArcDotRed(j, State.ScaleMax, State.MaxLimit, SetMaxB->isChecked(), State.MinLimit, SetMinB->isChecked());
        p.setPen(isRed ? red : black);
        p.drawEllipse(QRect(a.X, a.Y, 2, 2));
    }
    p.end();
    KD1->update();
}

void TFCOMM::KDrun(int32_t position) {
    const GaugeGeometry g = ComputeGaugeGeometry(KD->width(), KD->height());
    const NeedleLine n = GaugeNeedle(g, position, State.KdDivisions, State.KdWideScale);
    QPainter p(&KD1->Surface());
    // Erase the needle last drawn in the panel's colour, then draw the new one.
    p.setPen(QPen(KD->palette().color(QPalette::Window), 2));
    p.drawLine(State.NeedleTipX, State.NeedleTipY, State.NeedleEndX, State.NeedleEndY);
    State.NeedleEndX = n.End.X;
    State.NeedleEndY = n.End.Y;
    State.NeedleTipX = n.Tip.X;
    State.NeedleTipY = n.Tip.Y;
    p.setPen(QPen(Qt::black, 2));
    p.drawLine(n.Tip.X, n.Tip.Y, n.End.X, n.End.Y);
    p.end();
    KD1->update();
}

void TFCOMM::KdFdClick() {
    if (GaugePanelIsNormal(KD->width())) {
        KdFd->hide();
        KdSx->show();
        State.KdSaveTop = KD->y();
        State.KdSaveLeft = KD->x();
        State.KdSaveHeight = KD->height();
        State.KdSaveWidth = KD->width();
        const QRect outer = frameGeometry();
        const PanelBounds b = GaugeEnlargedBounds(outer.width(), outer.height());
        KD->setGeometry(b.Left, b.Top, b.Width, b.Height);
        KD->raise();
        Chtshow->hide();
    } else {
        KdSx->hide();
        KdFd->show();
        KD->setGeometry(State.KdSaveLeft, State.KdSaveTop, State.KdSaveWidth, State.KdSaveHeight);
        Chtshow->show();
    }
}

// ---------------------------------------------------------------------------------------------
// Limits

void TFCOMM::SetmaxExit() {
    State.MaxLimit = LimitFromText(Setmax->text());
    KDsetup();
}

void TFCOMM::SetMinExit() {
    State.MinLimit = LimitFromText(SetMin->text());
    KDsetup();
}

void TFCOMM::SetmaxKeyPress(QObject*, char& Key) {
    const bool passes = (Key >= '0' && Key <= '9') || Key == 8 || Key == '+' || Key == '-';
    if (!passes) Key = 0;
}

// ---------------------------------------------------------------------------------------------
// Chart

void TFCOMM::ResetChartSeries() {
    // Every series, in list order, is left holding one sample point.
    Series1->replace(QList<QPointF>{QPointF(0, 0)});
    Series2Line->replace(QList<QPointF>{QPointF(0, 0)});
    ChtshowShowPage();
}

void TFCOMM::ShowSeries(int32_t Index) {
    QAbstractSeries* const list[] = {Series1, Series2};
    if (Index < 0 || Index >= int32_t(std::size(list)))
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    for (QAbstractSeries* s : list) s->setVisible(false);
    list[Index]->setVisible(true);
    ChtshowShowPage();
}

void TFCOMM::ComboBox1Change() { ShowSeries(ComboBox1->currentIndex()); }

void TFCOMM::BtNewClick() {
    ResetChartSeries();
    SelectFirstSeriesItem(ComboBox1);
    ChtshowFixedScale();
    ResetExtremes();
}

void TFCOMM::ChtshowFixedScale() {
    // Any rubber-band zoom undone: the fixed left axis -61 .. 60 and the current page.
    ChtshowChart->zoomReset();
    StartupChartAxis();
    ChtshowShowPage();
}

void TFCOMM::BtSaveClick() {
    const QString path = ChartBitmapPath;
    QImage image(Chtshow->size(), QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        ChtshowChart->scene()->render(&p, QRectF(image.rect()), ChtshowChart->geometry());
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP")) throw std::runtime_error("The graphic could not be converted to a bitmap");
    buffer.close();
    const QString native = QDir::toNativeSeparators(path);
    try {
        // Never truncated in place: the old bitmap stays whole until the new one is complete.
        WriteFileAtomically(QFile::encodeName(path).toStdString(), bytes.constData(), size_t(bytes.size()));
    } catch (const SaveError& e) {
        throw std::runtime_error(QStringLiteral("Cannot save the graphic on %1: %2")
                                     .arg(native, QString::fromLocal8Bit(e.Reason().c_str()))
                                     .toStdString());
    }
    Ui::ShowMessage(QStringLiteral("graphic has saved on ") + native);
}

void TFCOMM::TbFdClick() {
    if (chartpaging::ChartIsNormal(Chtshow->y())) {
        TbFd->hide();
        TbSx->show();
        State.ChtSaveTop = Chtshow->y();
        State.ChtSaveLeft = Chtshow->x();
        State.ChtSaveHeight = Chtshow->height();
        State.ChtSaveWidth = Chtshow->width();
        const QRect outer = frameGeometry();
        const chartpaging::Bounds b = chartpaging::ChartEnlargedBounds(outer.width(), outer.height());
        Chtshow->setGeometry(b.Left, b.Top, b.Width, b.Height);
        Chtshow->raise();
    } else {
        TbSx->hide();
        TbFd->show();
        Chtshow->setGeometry(State.ChtSaveLeft, State.ChtSaveTop, State.ChtSaveWidth, State.ChtSaveHeight);
    }
}

void TFCOMM::BtFirstClick() { ChtshowPageClick(chartpaging::PageHandler::First); }
void TFCOMM::BTPreviousClick() { ChtshowPageClick(chartpaging::PageHandler::Previous); }
void TFCOMM::BtNextClick() { ChtshowPageClick(chartpaging::PageHandler::Next); }
void TFCOMM::BTlastClick() { ChtshowPageClick(chartpaging::PageHandler::Last); }

void TFCOMM::OnescopeClick() {
    ResetChartSeries();
    SelectFirstSeriesItem(ComboBox1);
    ChtshowSetMaxPointsPerPage(161);
    // The test sine replaces the sample point too: 161 points, one period every 16·pi points.
    QList<QPointF> points;
    points.reserve(161);
    for (int i = 0; i <= 160; ++i) points.append(QPointF(i, 50.0 * std::sin(i / 8.0)));
    Series1->replace(points);
    ChtshowShowPage();
    Scopeok->show();
    ScopeNo->hide();
}

void TFCOMM::MaxrecordExit() { ChtshowSetMaxPointsPerPage(StrToInt(Maxrecord->text().toLatin1().toStdString())); }

int32_t TFCOMM::ChtshowPageCount() const {
    std::vector<int32_t> counts;
    if (Series1->isVisible()) counts.push_back(int32_t(Series1->count()));
    if (Series2->isVisible()) counts.push_back(int32_t(Series2Line->count()));
    return chartpaging::PageCount(ChtshowMaxPointsPerPage, counts);
}

void TFCOMM::ChtshowSetPage(int32_t page) {
    ChtshowPage = chartpaging::ClampPage(page, ChtshowPageCount());
    ChtshowShowPage();
}

void TFCOMM::ChtshowSetMaxPointsPerPage(int32_t pointsPerPage) {
    ChtshowMaxPointsPerPage = pointsPerPage;
    ChtshowSetPage(ChtshowPage);
}

void TFCOMM::ChtshowShowPage() {
    QValueAxis* bottom = AxisOf(ChtshowChart, Qt::Horizontal);
    if (!bottom) return;
    int32_t longest = 0;
    if (Series1->isVisible()) longest = std::max(longest, int32_t(Series1->count()));
    if (Series2->isVisible()) longest = std::max(longest, int32_t(Series2Line->count()));
    const chartpaging::XRange r = chartpaging::PageXRange(ChtshowPage, ChtshowMaxPointsPerPage, longest);
    bottom->setRange(r.Min, r.Max);
}
