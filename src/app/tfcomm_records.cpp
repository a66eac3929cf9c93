// Record table, recording controls and data files.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFontMetrics>
#include <QLabel>
#include <QSocketNotifier>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QStyle>
#include <QScrollBar>
#include <QTableView>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <algorithm>

#include "app/application.h"
#include "app/startfolder.h"
#include "app/tfcomm.h"
#include "meter/convert.h"
#include "records/datafiles.h"
#include "records/journal.h"
#include "records/recorder.h"
#include "records/recordtable.h"
#include "records/recordtablemodel.h"

namespace {
std::string Text8(const QLineEdit* e) { return e->text().toStdString(); }

// The record table file in the working folder: "Ms35fdb.DB", or a file whose name differs
// from it only in case.
std::string RecordTablePath(const std::string& dataDir) {
    const QString dir = dataDir.empty() ? QStringLiteral(".") : QString::fromStdString(dataDir);
    const QString wanted = QStringLiteral("Ms35fdb.DB");
    QDir d(dir);
    if (!d.exists(wanted)) {
        const QStringList all = d.entryList(QDir::Files);
        for (const QString& name : all)
            if (name.compare(wanted, Qt::CaseInsensitive) == 0) return d.filePath(name).toStdString();
    }
    return dataDir.empty() ? wanted.toStdString() : d.filePath(wanted).toStdString();
}

Reading CurrentReading(const SharedState& s) { return ReadingFrom(s); }

// Save of the record table to name, in the form its extension selects. The text form
// reports success and failure itself; a failed table copy is reported with its reason.
// True when the file was written.
bool SaveRecords(TFCOMM& w, const QString& name) {
    const std::string path = name.toStdString();
    if (SaveFormFor(path) == SaveForm::Paradox) {
        // CopyTableToDB: no message on success; what could not be copied is said.
        SaveOutcome out;
        try {
            out = SaveTable(*w.T22GDB, path);
        } catch (const SaveError& e) {
            Ui::ShowError(QStringLiteral("Could not copy the table to ") + name + QLatin1Char('\n') +
                          QString::fromStdString(e.Reason()));
            return false;
        }
        if (!out.notes.empty()) {
            QString text = QStringLiteral("Table copied to ") + name + QStringLiteral(", but:");
            for (const auto& n : out.notes) text += QStringLiteral("\n- ") + QString::fromStdString(n);
            Ui::ShowMessage(text);
        }
    } else {
        // SaveTableToText.
        try {
            SaveTable(*w.T22GDB, path);
        } catch (const SaveError& e) {
            Ui::ShowMessage(QString::fromStdString(TextSaveFailedMessage(path, e.Reason())));
            return false;
        }
        w.FollowLastRow();
        Ui::ShowMessage(QString::fromStdString(TextSavedMessage(path)));
    }
    w.RecordsUnsaved = false;
    w.JournalClear();
    return true;
}

// SIGTERM and SIGHUP (logout, kill, the terminal closing): the journal is written out and
// synced on the window's thread, then the signal ends the program as it would have; the
// journal stays for the restore offer at the next start.
int gSignalPipe[2] = {-1, -1};
void OnTerminateSignal(int sig) {
    const unsigned char b = static_cast<unsigned char>(sig);
    if (gSignalPipe[1] < 0 || ::write(gSignalPipe[1], &b, 1) != 1) {
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    }
}
void InstallTerminateHandlers(TFCOMM& w) {
    if (gSignalPipe[0] < 0) {
        if (::pipe2(gSignalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
        struct sigaction sa {};
        sa.sa_handler = OnTerminateSignal;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESTART;
        ::sigaction(SIGTERM, &sa, nullptr);
        ::sigaction(SIGHUP, &sa, nullptr);
    }
    auto* n = new QSocketNotifier(gSignalPipe[0], QSocketNotifier::Read, &w);
    GuardedConnect(n, &QSocketNotifier::activated, &w, [&w] {
        unsigned char sig = 0;
        if (::read(gSignalPipe[0], &sig, 1) != 1) return;
        if (w.Journal) {
            try {
                w.Journal->Sync();
            } catch (...) {
            }
        }
        ::signal(sig, SIG_DFL);
        ::raise(sig);
    });
}
}  // namespace

void TFCOMM::SetLimit(QAction* item, int32_t limit) {
    State.RecordLimit = limit;
    for (QAction* a : {N10001, N50001, N100001, N500001, N1000001, limitess}) a->setChecked(a == item);
}

// Moves the grid's current row (and its indicator) to the last row.
void TFCOMM::FollowLastRow() {
    Data1->ShowLastRows();
    const int last = Data1->rowCount() - 1;
    Data1->SetCurrentRow(last);
    if (last < 0) return;
    DBGrid1->setCurrentIndex(Data1->index(last, 0));
    DBGrid1->scrollTo(Data1->index(last, 0));
}

void TFCOMM::BindRecordsHandlers() {
    // The recording controls, the data files and the record menu.
    GuardedConnect(RecallDataTest, &QPushButton::clicked, this, [this] { RecallDataTestClick(); });
    GuardedConnect(RecordSITime, &QLineEdit::textChanged, this, [this] { RecordSITimeChange(); });
    GuardedConnect(RecordNew, &QToolButton::clicked, this, [this] { RecordNewClick(); });
    GuardedConnect(OpenDataFiles, &QToolButton::clicked, this, [this] { SpeedButton2Click(); });
    GuardedConnect(saveas, &QToolButton::clicked, this, [this] { saveasClick(); });
    GuardedConnect(RecallCheck, &QCheckBox::clicked, this, [this] { RecallCheckClick(); });
    for (QLineEdit* e : {TimeH, TimeM, TimeS, TimeInt})
        GuardedConnect(e, &QLineEdit::textChanged, this, [this] { RecordSITimeChange(); });
    GuardedConnect(New1, &QAction::triggered, this, [this] { RecordNewClick(); });
    GuardedConnect(Save1, &QAction::triggered, this, [this] { saveasClick(); });
    GuardedConnect(N10001, &QAction::triggered, this, [this] { N10001Click(); });
    GuardedConnect(N50001, &QAction::triggered, this, [this] { N50001Click(); });
    GuardedConnect(N100001, &QAction::triggered, this, [this] { N100001Click(); });
    GuardedConnect(N500001, &QAction::triggered, this, [this] { N500001Click(); });
    GuardedConnect(N1000001, &QAction::triggered, this, [this] { N1000001Click(); });
    GuardedConnect(limitess, &QAction::triggered, this, [this] { limitessClick(); });
    GuardedConnect(Trecord, &QTimer::timeout, this, [this] { TrecordTimer(); });
    DBGrid1->setWordWrap(false);
    DBGrid1->setAlternatingRowColors(false);
    QHeaderView* rowsHeader = DBGrid1->verticalHeader();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(18);
    rowsHeader->setFixedWidth(14);
    rowsHeader->setDefaultAlignment(Qt::AlignCenter);
    QHeaderView* cols = DBGrid1->horizontalHeader();
    cols->setHighlightSections(false);
    cols->setStretchLastSection(false);
    // Each column as wide as its title and its widest text in the grid's font ("AUTO" whole);
    // No takes what is left of the grid's width, the vertical scroll bar's room reserved.
    const char* const widest[kRecordColumns] = {"9999999", "23:59:59", "DC", "-3.999", "mV", "AUTO"};
    DBGrid1->ensurePolished();
    cols->ensurePolished();
    const QFontMetrics cellFm(DBGrid1->font());
    const QFontMetrics headFm(cols->font());
    // A header elides its title unless the section has room for the margins and 4 more.
    const int headMargin = 2 * cols->style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, cols) + 4 + 2;
    const int cellMargin = 2 * (DBGrid1->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, DBGrid1) + 1) + 2;
    int widths[kRecordColumns];
    int used = 0;
    for (int c = 0; c < kRecordColumns; ++c) {
        widths[c] =
            std::max(headFm.horizontalAdvance(QString::fromLatin1(RecordTableModel::ColumnTitle(c))) + headMargin,
                     cellFm.horizontalAdvance(QString::fromLatin1(widest[c])) + cellMargin);
        if (c > 0) used += widths[c];
    }
    DBGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    const int room = DBGrid1->width() - 2 * DBGrid1->frameWidth() - rowsHeader->width() -
                     DBGrid1->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, DBGrid1);
    widths[0] = std::max(room - used, headFm.horizontalAdvance(QStringLiteral("No")) + headMargin);
    for (int c = 0; c < kRecordColumns; ++c) DBGrid1->setColumnWidth(c, widths[c]);
    // The grid shows a window of the table (RecordTableModel): scrolled to one of the window's
    // ends, the window moves on by half its size and the same rows stay in view.
    GuardedConnect(DBGrid1->verticalScrollBar(), &QScrollBar::valueChanged, this, [this](int value) {
        QScrollBar* bar = DBGrid1->verticalScrollBar();
        const size_t first = Data1->WindowFirst();
        const bool atTop = value == bar->minimum() && first > 0;
        const bool atEnd = value == bar->maximum() && first + size_t(Data1->rowCount()) < Data1->TableRows();
        if (!atTop && !atEnd) return;
        const int edgeRow = atTop ? DBGrid1->rowAt(0) : DBGrid1->rowAt(DBGrid1->viewport()->height() - 1);
        if (edgeRow < 0) return;
        const size_t keep = first + size_t(edgeRow);
        const size_t half = size_t(RecordTableModel::kWindowRows) / 2;
        if (!Data1->MoveWindow(atTop ? (keep > half ? keep - half : 0) : keep - std::min(keep, half))) return;
        const int current = Data1->CurrentRow();
        if (current >= 0) DBGrid1->setCurrentIndex(Data1->index(current, 0));
        DBGrid1->scrollTo(Data1->index(int(keep - Data1->WindowFirst()), 0),
                          atTop ? QAbstractItemView::PositionAtTop : QAbstractItemView::PositionAtBottom);
    });
    // The indicator follows the current row, also when the user moves it.
    GuardedConnect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
                   [this](const QModelIndex& current, const QModelIndex&) {
                       Data1->SetCurrentRow(current.isValid() ? current.row() : -1);
                   });
    // The not-recording indicator, right of the buttons above the grid.
    RecordStateLabel = new QLabel(QStringLiteral("NOT RECORDING"), DBGrid1->parentWidget());
    RecordStateLabel->setObjectName(QStringLiteral("RecordStateLabel"));
    RecordStateLabel->setToolTip(QStringLiteral("No record table is open: readings are shown but not recorded"));
    RecordStateLabel->setGeometry(158, 229, 165, 24);
    RecordStateLabel->setAlignment(Qt::AlignCenter);
    RecordStateLabel->setStyleSheet(QStringLiteral("QLabel { background: #c00000; color: white; font-weight: bold; }"));
    RecordStateLabel->hide();
    InstallTerminateHandlers(*this);
}

void TFCOMM::UpdateRecordingState() {
    const bool recording = T22GDB && T22GDB->IsOpen();
    if (RecordStateLabel) {
        RecordStateLabel->setVisible(!recording);
        if (!recording) RecordStateLabel->raise();
    }
}

bool TFCOMM::ConfirmDiscardUnsavedRows(const QString& question) {
    if (!RecordsUnsaved || !T22GDB || T22GDB->RowCount() == 0) return true;
    switch (Ui::AskSaveRows(question)) {
        case Ui::ExitChoice::Discard: JournalClear(); return true;
        case Ui::ExitChoice::Cancel: return false;
        case Ui::ExitChoice::Save: break;
    }
    const QString name = Ui::SaveFileName(QString::fromLatin1(SaveDialog2Filter), QStringLiteral("xls"));
    if (name.isEmpty()) return false;
    bool saved = false;
    Guard([&] { saved = SaveRecords(*this, name); });
    return saved;
}

void TFCOMM::JournalRow(const RecordRow& row) {
    if (!Journal) return;
    try {
        Journal->Append(row, NowDateTime());
    } catch (const JournalError& e) {
        if (!JournalErrorLogged)
            Log(QString::fromStdString(std::string(e.what()) + " (the rows are kept in memory only)"));
        JournalErrorLogged = true;
    }
}

void TFCOMM::JournalClear() {
    if (Journal) Journal->Clear();
}

void TFCOMM::OfferJournalRestore() {
    if (!Journal) return;
    const std::string path = Journal->Path();
    if (::access(path.c_str(), F_OK) != 0) return;
    if (RecordJournal::InUse(path)) {
        Log(QString::fromStdString("The recovery journal " + path + " is in use by another running program"));
        Journal.reset();
        return;
    }
    RecordJournal::Summary sum;
    try {
        sum = RecordJournal::Read(path, nullptr);
    } catch (const JournalError& e) {
        Log(QString::fromStdString(e.what()));
        return;
    }
    if (sum.rows == 0) {
        Journal->Clear();
        return;
    }
    if (!T22GDB->IsOpen()) {
        // No table to restore into: the rows are set aside in a file of their own, so that
        // neither this run's exit nor its recording can clear them.
        const std::string kept = Journal->KeepAside();
        Log(QString::fromStdString(std::to_string(sum.rows) + " unsaved readings of an earlier run were kept in " +
                                   kept + " (ms42k convert turns it into a table)"));
        return;
    }
    const QString question = QString::fromStdString(JournalRestoreQuestion(sum.rows, sum.firstDateTime));
    if (Ui::AskYesNo(question)) {
        int32_t lastNo = 0;
        RecordJournal::Read(path, [&](const RecordRow& row) {
            T22GDB->Append(row);
            lastNo = row.No;
        });
        Journal->Continue();
        RecordsUnsaved = true;
        State.RecordNo = lastNo + 1;
        Data1->Refresh();
        FollowLastRow();
        Log(QString::fromStdString(std::to_string(sum.rows) + " readings restored from " + path));
    } else {
        const std::string kept = Journal->KeepAside();
        Log(QString::fromStdString("The unsaved readings were kept in " + kept +
                                   " (ms42k convert turns it into a table)"));
    }
}

void TFCOMM::StartupOpenRecordTable() {
    // A folder without the table gets the empty one from the template installed with the
    // program. A missing (no template) or unreadable table is reported and start-up goes on
    // with the table closed.
    const std::string tablePath = RecordTablePath(Options.dataDir);
    Guard([&] {
        const QString tmpl =
            Options.tableTemplate.empty() ? FindRecordTableTemplate() : QString::fromStdString(Options.tableTemplate);
        const QString created = CreateRecordTableFromTemplate(QString::fromStdString(tablePath), tmpl);
        if (!created.isEmpty()) Log(created);
        T22GDB->Open(tablePath);
    });
    Journal = std::make_unique<RecordJournal>(RecordJournal::PathFor(tablePath));
    Data1->Refresh();
    FollowLastRow();
    UpdateRecordingState();
    if (!T22GDB->IsOpen()) Log(QStringLiteral("Not recording: no record table is open"));
}

void TFCOMM::INDataToTable() {
    RecordOptions o;
    o.RecordLimit = State.RecordLimit;
    o.SamplingOn = RecordSI->isChecked();
    o.SamplingText = Text8(RecordSITime);
    o.RepeatSuppression = RepeatSet->isChecked();
    o.RecallOn = RecallCheck->isChecked();
    RecordCounters c{State.RecordNo, State.RecordsAppended, State.SampleCountdown, State.LastReadingKey,
                     State.RecallStamp};
    GateResult result;
    RecordRow row;
    try {
        result = OfferReading(*T22GDB, CurrentReading(State), o, c, NowDateTime(), &row);
    } catch (const TableError&) {
        // Without an open table readings cannot be recorded: the indicator says so, and the
        // error is reported once (one line in the log through the decoder's caller), not for
        // every frame.
        UpdateRecordingState();
        if (RecordClosedErrorShown) return;
        RecordClosedErrorShown = true;
        throw;
    }
    if (result != GateResult::Appended) return;
    JournalRow(row);
    RecordsUnsaved = true;
    Data1->RowsAppended();
    FollowLastRow();
}

void TFCOMM::RecordSITimeChange() { State.SampleCountdown = SampleSecondsFromText(Text8(RecordSITime)); }

void TFCOMM::RecordSITimeKeyPress(QObject*, char& Key) {
    if (!((Key >= '0' && Key <= '9') || Key == 8)) Key = 0;
}

void TFCOMM::TrecordTimer() {
    RecordOptions o;
    o.SamplingOn = RecordSI->isChecked();
    SamplingTick(o, State.SampleCountdown);
    if (Journal) {
        try {
            Journal->Tick();
        } catch (const JournalError& e) {
            if (!JournalErrorLogged) Log(QString::fromStdString(e.what()));
            JournalErrorLogged = true;
        }
    }
}

void TFCOMM::N10001Click() { SetLimit(N10001, 1000); }
void TFCOMM::N50001Click() { SetLimit(N50001, 5000); }
void TFCOMM::N100001Click() { SetLimit(N100001, 10000); }
void TFCOMM::N500001Click() { SetLimit(N500001, 50000); }
void TFCOMM::N1000001Click() { SetLimit(N1000001, 100000); }
void TFCOMM::limitessClick() { SetLimit(limitess, 10000000); }

void TFCOMM::RecallCheckClick() {
    if (RecallCheck->isChecked()) {
        TimeH->setText(QStringLiteral("00"));
        TimeM->setText(QStringLiteral("00"));
        TimeS->setText(QStringLiteral("00"));
    } else {
        TimeH->setText(QStringLiteral("23"));
        TimeM->setText(QStringLiteral("59"));
        TimeS->setText(QStringLiteral("59"));
    }
    RecallCheckExit();
}

void TFCOMM::RecallCheckExit() {
    State.RecallHour = StrToInt(Text8(TimeH));
    State.RecallMinute = StrToInt(Text8(TimeM));
    State.RecallSecond = StrToInt(Text8(TimeS));
}

void TFCOMM::TimeHKeyUp(QObject*) {
    struct Part {
        QLineEdit* edit;
        int32_t& value;
        int32_t max;
    };
    const Part parts[] = {
        {TimeH, State.RecallHour, 23}, {TimeM, State.RecallMinute, 59}, {TimeS, State.RecallSecond, 59}};
    for (const Part& p : parts) {
        const int32_t v = StrToInt(Text8(p.edit));
        if (v > p.max) {
            Ui::ShowMessage(QStringLiteral("Input error!"));
            p.edit->setText(QStringLiteral("00"));
        } else {
            p.value = v;
        }
    }
}

void TFCOMM::RecallDataTestClick() {
    if (RecallCheck->isChecked()) {
        State.RecallInterval = StrToInt(Text8(TimeInt));
        State.RecallStamp =
            StepRecallStamp(State.RecallHour, State.RecallMinute, State.RecallSecond, State.RecallInterval);
    } else {
        State.RecallStamp = NowDateTime();
    }
    RecordRow row;
    AppendStampedRow(*T22GDB, CurrentReading(State), State.RecallStamp, State.RecordNo, &row);
    JournalRow(row);
    RecordsUnsaved = true;
    Data1->RowsAppended();
    FollowLastRow();
}

void TFCOMM::RecordNewClick() {
    // Unsaved rows are not thrown away without asking; the box below keeps its text.
    if (!ConfirmDiscardUnsavedRows(QStringLiteral("New empties the record table. Save the recorded readings first?")))
        return;
    Ui::ShowMessage(QStringLiteral(" Record deleted "));
    if (T22GDB->RowCount() > 0) {
        T22GDB->Empty();
        Data1->Refresh();
        Data1->SetCurrentRow(-1);
    }
    State.RecordNo = 1;
    State.RecordsAppended = 0;
    RecordsUnsaved = false;
    JournalClear();
}

void TFCOMM::SpeedButton2Click() {
    const QString name = Ui::OpenFileName(QString::fromLatin1(OpenDialog1Filter));
    if (name.isEmpty()) return;
    // The path is used as chosen (file names are case-sensitive here). The new file is read
    // and checked completely before the current table is let go: on failure the current
    // table stays open and recording goes on into it.
    const QString question = QStringLiteral("Open replaces the record table. Save the recorded readings first?");
    if (T22GDB->HoldsFile(name.toStdString())) {
        // The file already open, read again from disk (its lock is our own).
        if (!ConfirmDiscardUnsavedRows(question)) return;
        T22GDB->Open(name.toStdString());
    } else {
        RecordTable next;
        try {
            next.Open(name.toStdString());
        } catch (const TableError&) {
            UpdateRecordingState();
            throw;
        }
        if (!ConfirmDiscardUnsavedRows(question)) return;
        T22GDB->TakeOver(next);
    }
    RecordClosedErrorShown = false;
    RecordsUnsaved = false;
    JournalClear();
    Data1->Refresh();
    UpdateRecordingState();
    const int first = Data1->rowCount() > 0 ? 0 : -1;
    Data1->SetCurrentRow(first);
    if (first == 0) {
        DBGrid1->setCurrentIndex(Data1->index(0, 0));
        DBGrid1->scrollToTop();
    }
}

void TFCOMM::saveasClick() {
    const QString name = Ui::SaveFileName(QString::fromLatin1(SaveDialog2Filter), QStringLiteral("xls"));
    if (name.isEmpty()) return;
    SaveRecords(*this, name);
}

bool TFCOMM::ConfirmExitWithUnsavedRows() {
    if (!RecordsUnsaved || !T22GDB || T22GDB->RowCount() == 0) {
        JournalClear();  // a clean exit with nothing unsaved
        return true;
    }
    switch (Ui::AskSaveBeforeExit()) {
        case Ui::ExitChoice::Discard: JournalClear(); return true;
        case Ui::ExitChoice::Cancel: return false;
        case Ui::ExitChoice::Save: break;
    }
    const QString name = Ui::SaveFileName(QString::fromLatin1(SaveDialog2Filter), QStringLiteral("xls"));
    if (name.isEmpty()) return false;  // save dialog cancelled: keep running
    bool saved = false;
    Guard([&] { saved = SaveRecords(*this, name); });
    return saved;
}
