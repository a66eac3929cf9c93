// Record table, recording controls and data files.
#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QTableView>

#include "app/application.h"
#include "app/startfolder.h"
#include "app/tfcomm.h"
#include "meter/convert.h"
#include "records/datafiles.h"
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

Reading CurrentReading(const SharedState& s) {
    Reading r;
    r.ValueText = s.ValueText;
    r.AcDcText = s.AcDcText;
    r.SymbolText = s.SymbolText;
    r.AutoText = s.AutoText;
    r.ValueNum = s.ValueNum;
    return r;
}

// Moves the grid's current row (and its indicator) to the last row.
void FollowLastRow(TFCOMM& w) {
    const int last = w.Data1->rowCount() - 1;
    w.Data1->SetCurrentRow(last);
    if (last < 0) return;
    w.DBGrid1->setCurrentIndex(w.Data1->index(last, 0));
    w.DBGrid1->scrollTo(w.Data1->index(last, 0));
}

void SetLimit(TFCOMM& w, QAction* item, int32_t limit) {
    w.State.RecordLimit = limit;
    for (QAction* a : {w.N10001, w.N50001, w.N100001, w.N500001, w.N1000001, w.limitess}) a->setChecked(a == item);
}

// Save of the record table to name, in the form its extension selects. The text form
// reports success and failure itself; errors of the table copy go to the general error
// handler. True when the file was written.
bool SaveRecords(TFCOMM& w, const QString& name) {
    const std::string path = name.toStdString();
    if (SaveFormFor(path) == SaveForm::Paradox) {
        // CopyTableToDB: no message on success; what could not be copied is said.
        const SaveOutcome out = SaveTable(*w.T22GDB, path);
        if (!out.notes.empty()) {
            QString text = QStringLiteral("Table copied to ") + name + QStringLiteral(", but:");
            for (const auto& n : out.notes) text += QStringLiteral("\n- ") + QString::fromStdString(n);
            Ui::ShowMessage(text);
        }
    } else {
        // SaveTableToText.
        try {
            SaveTable(*w.T22GDB, path);
        } catch (const SaveError&) {
            Ui::ShowMessage(QString::fromStdString(TextSaveFailedMessage(path)));
            return false;
        }
        FollowLastRow(w);
        Ui::ShowMessage(QString::fromStdString(TextSavedMessage(path)));
    }
    w.RecordsUnsaved = false;
    return true;
}
}  // namespace

void TFCOMM::BindRecordsHandlers() {
    DBGrid1->setWordWrap(false);
    DBGrid1->setAlternatingRowColors(false);
    QHeaderView* rowsHeader = DBGrid1->verticalHeader();
    rowsHeader->setSectionResizeMode(QHeaderView::Fixed);
    rowsHeader->setDefaultSectionSize(18);
    rowsHeader->setFixedWidth(14);
    rowsHeader->setDefaultAlignment(Qt::AlignCenter);
    QHeaderView* cols = DBGrid1->horizontalHeader();
    cols->setHighlightSections(false);
    cols->setStretchLastSection(true);
    const int widths[kRecordColumns] = {52, 62, 44, 62, 44, 40};
    for (int c = 0; c < kRecordColumns; ++c) DBGrid1->setColumnWidth(c, widths[c]);
    // The indicator follows the current row, also when the user moves it.
    connect(DBGrid1->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { Data1->SetCurrentRow(current.isValid() ? current.row() : -1); });
}

void TFCOMM::StartupOpenRecordTable() {
    // A folder without the table gets the empty one from the template installed with the
    // program. A missing (no template) or unreadable table is reported and start-up goes on
    // with the table closed.
    Guard([this] {
        const std::string path = RecordTablePath(Options.dataDir);
        const QString tmpl = Options.tableTemplate.empty() ? FindRecordTableTemplate()
                                                           : QString::fromStdString(Options.tableTemplate);
        const QString created = CreateRecordTableFromTemplate(QString::fromStdString(path), tmpl);
        if (!created.isEmpty()) Log(created);
        T22GDB->Open(path);
    });
    Data1->Refresh();
    FollowLastRow(*this);
}

void TFCOMM::INDataToTable() {
    RecordOptions o;
    o.RecordLimit = State.RecordLimit;
    o.SamplingOn = RecordSI->isChecked();
    o.SamplingText = Text8(RecordSITime);
    o.RepeatSuppression = RepeatSet->isChecked();
    o.RecallOn = RecallCheck->isChecked();
    RecordCounters c{State.RecordNo, State.RecordsAppended, State.SampleCountdown, State.LastReadingKey, State.RecallStamp};
    GateResult result;
    try {
        result = OfferReading(*T22GDB, CurrentReading(State), o, c, NowDateTime());
    } catch (const TableError&) {
        // Without an open table readings cannot be recorded: say so once, not for every frame.
        if (RecordClosedErrorShown) return;
        RecordClosedErrorShown = true;
        throw;
    }
    if (result != GateResult::Appended) return;
    RecordsUnsaved = true;
    Data1->RowsAppended();
    FollowLastRow(*this);
}

void TFCOMM::RecordSITimeChange() { State.SampleCountdown = SampleSecondsFromText(Text8(RecordSITime)); }

void TFCOMM::RecordSITimeKeyPress(QObject*, char& Key) {
    if (!((Key >= '0' && Key <= '9') || Key == 8)) Key = 0;
}

void TFCOMM::TrecordTimer() {
    RecordOptions o;
    o.SamplingOn = RecordSI->isChecked();
    SamplingTick(o, State.SampleCountdown);
}

void TFCOMM::N10001Click() { SetLimit(*this, N10001, 1000); }
void TFCOMM::N50001Click() { SetLimit(*this, N50001, 5000); }
void TFCOMM::N100001Click() { SetLimit(*this, N100001, 10000); }
void TFCOMM::N500001Click() { SetLimit(*this, N500001, 50000); }
void TFCOMM::N1000001Click() { SetLimit(*this, N1000001, 100000); }
void TFCOMM::limitessClick() { SetLimit(*this, limitess, 10000000); }

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
    const Part parts[] = {{TimeH, State.RecallHour, 23}, {TimeM, State.RecallMinute, 59}, {TimeS, State.RecallSecond, 59}};
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
        State.RecallStamp = StepRecallStamp(State.RecallHour, State.RecallMinute, State.RecallSecond, State.RecallInterval);
    } else {
        State.RecallStamp = NowDateTime();
    }
    AppendStampedRow(*T22GDB, CurrentReading(State), State.RecallStamp, State.RecordNo);
    RecordsUnsaved = true;
    Data1->RowsAppended();
    FollowLastRow(*this);
}

void TFCOMM::RecordNewClick() {
    Ui::ShowMessage(QStringLiteral(" Record deleted "));
    if (T22GDB->RowCount() > 0) {
        T22GDB->Empty();
        Data1->Refresh();
        Data1->SetCurrentRow(-1);
    }
    State.RecordNo = 1;
    State.RecordsAppended = 0;
    RecordsUnsaved = false;
}

void TFCOMM::SpeedButton2Click() {
    const QString name = Ui::OpenFileName(QString::fromLatin1(OpenDialog1Filter));
    if (name.isEmpty()) return;
    // The path is used as chosen (file names are case-sensitive here).
    RecordClosedErrorShown = false;
    try {
        T22GDB->Open(name.toStdString());
    } catch (...) {
        Data1->Refresh();
        throw;
    }
    RecordsUnsaved = false;
    Data1->Refresh();
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
    if (!RecordsUnsaved || !T22GDB || T22GDB->RowCount() == 0) return true;
    switch (Ui::AskSaveBeforeExit()) {
        case Ui::ExitChoice::Discard: return true;
        case Ui::ExitChoice::Cancel: return false;
        case Ui::ExitChoice::Save: break;
    }
    const QString name = Ui::SaveFileName(QString::fromLatin1(SaveDialog2Filter), QStringLiteral("xls"));
    if (name.isEmpty()) return false;  // save dialog cancelled: keep running
    bool saved = false;
    Guard([&] { saved = SaveRecords(*this, name); });
    return saved;
}
