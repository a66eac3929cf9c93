// The recording controls, the grid and the data-file handlers of the main window, driven
// the way a user drives them (menu items, edits, buttons, dialogs answered by the hooks).
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QListView>
#include <QListWidget>
#include <QTimer>
#include <csignal>
#include <cstring>
#include <sys/wait.h>
#include <unistd.h>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <memory>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/tfcomm.h"
#include "window_test_support.h"
#include "meter/convert.h"
#include "records/recordtable.h"
#include "records/recordtablemodel.h"

namespace {

class RecordsWindow : public WindowTest {
protected:
    // The table is copied by Start, when the test wants one.
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        Ui::ShowMessage = [this](const QString& t) { messages_.push_back(t.toStdString()); };
        Ui::ShowError = [this](const QString& t) { errors_.push_back(t.toStdString()); };
        Ui::OpenFileName = [this](const QString& filter) {
            filters_.push_back(filter.toStdString());
            return QString::fromStdString(openName_);
        };
        Ui::SaveFileName = [this](const QString& filter, const QString& ext) {
            filters_.push_back(filter.toStdString());
            defaultExt_ = ext.toStdString();
            return QString::fromStdString(saveName_);
        };
        Ui::AskSaveBeforeExit = [this] {
            ++exitQuestions_;
            return exitChoice_;
        };
        Ui::AskSaveRows = [this](const QString& q) {
            rowQuestions_.push_back(q.toStdString());
            return rowsChoice_;
        };
        Ui::AskYesNo = [this](const QString& q) {
            yesNoQuestions_.push_back(q.toStdString());
            return restoreAnswer_;
        };
        Ui::QuitApplication = [this] { ++quitCalls_; };
    }
    void TearDown() override {
        WindowTest::TearDown();
        Ui::ResetHooks();
    }
    void Start(bool withTable = true) {
        if (withTable) {
            ASSERT_NO_FATAL_FAILURE(CopyTable());
        }
        AppOptions o = InFolder();
        o.tableTemplate = tableTemplate_;
        StartWindow(o, false);
    }
    std::string Path(const char* name) const { return dir_.filePath(QString::fromLatin1(name)).toStdString(); }
    void Reading(const std::string& value, const std::string& acdc = "DC", const std::string& unit = " V",
                 const std::string& autoText = "") {
        w_->State.ValueText = value;
        w_->State.AcDcText = acdc;
        w_->State.SymbolText = unit;
        w_->State.AutoText = autoText;
        w_->State.ValueNum = 1.0f;
        w_->INDataToTable();
    }
    int GridRows() const { return Control<QTableView>(*w_, "DBGrid1")->model()->rowCount(); }
    QString Cell(int row, int col) const {
        return Control<QTableView>(*w_, "DBGrid1")->model()->index(row, col).data().toString();
    }
    static std::string ReadAll(const std::string& path) {
        QFile f(QString::fromStdString(path));
        if (!f.open(QIODevice::ReadOnly)) return "<missing>";
        return f.readAll().toStdString();
    }

    std::string tableTemplate_;  // empty: the template installed with the program
    std::unique_ptr<TFCOMM>& w_ = window_;
    std::vector<std::string> messages_, errors_, filters_;
    std::string openName_, saveName_, defaultExt_;
    Ui::ExitChoice exitChoice_ = Ui::ExitChoice::Discard;
    Ui::ExitChoice rowsChoice_ = Ui::ExitChoice::Discard;
    std::vector<std::string> rowQuestions_, yesNoQuestions_;
    bool restoreAnswer_ = false;
    int exitQuestions_ = 0;
    int quitCalls_ = 0;
};

TEST_F(RecordsWindow, StartupOpensTheTableAndTheGridShowsItsColumns) {
    Start();
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(w_->T22GDB->IsOpen());
    EXPECT_EQ(GridRows(), 0);
    const char* titles[] = {"No", "Time", "DC/AC", "Value", "Unit", "AUTO"};
    const Qt::Alignment align[] = {Qt::AlignLeft,  Qt::AlignHCenter, Qt::AlignHCenter,
                                   Qt::AlignRight, Qt::AlignRight,   Qt::AlignLeft};
    auto* m = Control<QTableView>(*w_, "DBGrid1")->model();
    ASSERT_EQ(m->columnCount(), 6);
    Reading("00.66", "DC", "k*", "AUTO");
    for (int c = 0; c < 6; ++c) {
        EXPECT_EQ(m->headerData(c, Qt::Horizontal).toString().toStdString(), titles[c]);
        const auto a = Qt::Alignment(m->index(0, c).data(Qt::TextAlignmentRole).toInt());
        EXPECT_TRUE(a & align[c]) << c;
    }
    EXPECT_EQ(Cell(0, 4), QStringLiteral("k") + QChar(0x03A9));  // the unit as the meter's symbols
    EXPECT_TRUE(Control<QTableView>(*w_, "DBGrid1")->editTriggers() == QAbstractItemView::NoEditTriggers);
}

TEST_F(RecordsWindow, MissingTableIsReportedAndStartUpGoesOn) {
    // Without a template to make it from, the missing table stays missing.
    tableTemplate_ = Path("no-such-template.DB");
    Start(false);
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find("Ms35fdb.DB"), std::string::npos) << errors_[0];
    EXPECT_FALSE(w_->T22GDB->IsOpen());
    EXPECT_EQ(w_->State.RecordLimit, 10000);  // later start-up steps ran
    EXPECT_EQ(w_->windowTitle(), QStringLiteral("MS42K Interface Program _Ver: 1.00"));
    // Readings meet the closed table: reported once, not for every frame.
    EXPECT_THROW(Reading("1"), TableError);
    EXPECT_NO_THROW(Reading("2"));
    EXPECT_EQ(GridRows(), 0);
    // The window says plainly that it is not recording, and the log has one line about it.
    EXPECT_TRUE(Control<QLabel>(*w_, "RecordStateLabel")->isVisibleTo(w_.get()));
    EXPECT_TRUE(Control<QLabel>(*w_, "RecordStateLabel")->text().contains(QStringLiteral("NOT RECORDING")));
    int lines = 0;
    for (int i = 0; i < Control<QListWidget>(*w_, "HistoryListBox")->count(); ++i)
        lines +=
            Control<QListWidget>(*w_, "HistoryListBox")->item(i)->text().startsWith(QStringLiteral("Not recording"))
                ? 1
                : 0;
    EXPECT_EQ(lines, 1);
}

TEST_F(RecordsWindow, ReadingsAppendAndTheGridFollows) {
    Start();
    for (int i = 0; i < 5; ++i) Reading(std::to_string(i));
    EXPECT_EQ(GridRows(), 5);
    EXPECT_EQ(Control<QTableView>(*w_, "DBGrid1")->currentIndex().row(), 4);
    EXPECT_EQ(Control<QTableView>(*w_, "DBGrid1")->model()->headerData(4, Qt::Vertical).toString(),
              QString(QChar(0x25B6)));
    EXPECT_EQ(Control<QTableView>(*w_, "DBGrid1")->model()->headerData(3, Qt::Vertical).toString(), QString());
    EXPECT_EQ(Cell(4, 0), QStringLiteral("5"));
    EXPECT_EQ(w_->State.RecordNo, 6);
    EXPECT_EQ(w_->State.RecordsAppended, 5);
}

TEST_F(RecordsWindow, LimitMenu) {
    Start();
    struct Case {
        const char* item;
        int32_t limit;
    };
    const Case cases[] = {{"N10001", 1000},     {"N50001", 5000},       {"N100001", 10000},     {"N500001", 50000},
                          {"N1000001", 100000}, {"limitess", 10000000}, {"limitess", 10000000}, {"N10001", 1000}};
    QAction* all[] = {Control<QAction>(*w_, "N10001"),   Control<QAction>(*w_, "N50001"),
                      Control<QAction>(*w_, "N100001"),  Control<QAction>(*w_, "N500001"),
                      Control<QAction>(*w_, "N1000001"), Control<QAction>(*w_, "limitess")};
    for (const auto& c : cases) {
        QAction* item = Control<QAction>(*w_, c.item);
        item->trigger();
        EXPECT_EQ(w_->State.RecordLimit, c.limit);
        for (QAction* a : all) EXPECT_EQ(a->isChecked(), a == item) << a->text().toStdString();
    }
    // With the limit 1000 the 1001st reading is dropped.
    for (int i = 0; i < 1001; ++i) Reading(std::to_string(i));
    EXPECT_EQ(GridRows(), 1000);
    EXPECT_EQ(w_->State.RecordsAppended, 1000);
}

TEST_F(RecordsWindow, KeyFilterLetsOnlyDigitsAndBackspaceThrough) {
    Start();
    struct Case {
        const char* edit;
        const char* typed;
        const char* text;
    };
    const Case cases[] = {{"RecordSITime", "1a-+2 .", "12"}, {"TimeInt", "9x9", "99"}, {"TimeS", "5", "5"}};
    for (const auto& c : cases) {
        QLineEdit* e = Control<QLineEdit>(*w_, c.edit);
        e->clear();
        QTest::keyClicks(e, QString::fromLatin1(c.typed));
        EXPECT_EQ(e->text().toStdString(), c.text) << c.typed;
    }
    Control<QLineEdit>(*w_, "RecordSITime")->setText(QStringLiteral("123"));
    Control<QLineEdit>(*w_, "RecordSITime")->end(false);
    QTest::keyClick(Control<QLineEdit>(*w_, "RecordSITime"), Qt::Key_Backspace);
    EXPECT_EQ(Control<QLineEdit>(*w_, "RecordSITime")->text(), QStringLiteral("12"));
    EXPECT_EQ(w_->State.SampleCountdown, 12);  // every change reloads the countdown
}

TEST_F(RecordsWindow, SamplingCountdownWithTheTimer) {
    Start();
    Control<QCheckBox>(*w_, "RecordSI")->setChecked(true);
    Control<QLineEdit>(*w_, "RecordSITime")->setText(QStringLiteral("3"));
    w_->State.SampleCountdown = 0;
    Reading("a");
    Reading("b");  // dropped: 3 s to go
    for (int i = 0; i < 3; ++i) w_->TrecordTimer();
    Reading("c");
    EXPECT_EQ(GridRows(), 2);
    EXPECT_EQ(Cell(1, 3), QStringLiteral("c"));
    // Editing the interval restarts the countdown at once.
    Control<QLineEdit>(*w_, "RecordSITime")->setText(QStringLiteral("1"));
    EXPECT_EQ(w_->State.SampleCountdown, 1);
    // Pasted text that is no integer raises the conversion error; "-" counts as 0.
    const QSignalBlocker block(Control<QLineEdit>(*w_, "RecordSITime"));
    Control<QLineEdit>(*w_, "RecordSITime")->setText(QStringLiteral("x"));
    EXPECT_THROW(w_->RecordSITimeChange(), ConvertError);
    Control<QLineEdit>(*w_, "RecordSITime")->setText(QStringLiteral("-"));
    w_->RecordSITimeChange();
    EXPECT_EQ(w_->State.SampleCountdown, 0);
}

TEST_F(RecordsWindow, StartTimeIsCheckedOnKeyRelease) {
    Start();
    struct Case {
        const char *h, *m, *s;
        int messages;
        const char *th, *tm, *ts;  // texts afterwards
        int vh, vm, vs;            // values afterwards (set before: 1, 2, 3)
    };
    const Case cases[] = {
        {"23", "59", "59", 0, "23", "59", "59", 23, 59, 59},
        {"24", "59", "59", 1, "00", "59", "59", 1, 59, 59},
        {"24", "60", "61", 3, "00", "00", "00", 1, 2, 3},
        {"0", "60", "0", 1, "0", "00", "0", 0, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.h) + ":" + c.m + ":" + c.s);
        w_->State.RecallHour = 1;
        w_->State.RecallMinute = 2;
        w_->State.RecallSecond = 3;
        Control<QLineEdit>(*w_, "TimeH")->setText(QString::fromLatin1(c.h));
        Control<QLineEdit>(*w_, "TimeM")->setText(QString::fromLatin1(c.m));
        Control<QLineEdit>(*w_, "TimeS")->setText(QString::fromLatin1(c.s));
        messages_.clear();
        QTest::keyRelease(Control<QLineEdit>(*w_, "TimeM"), Qt::Key_0);
        EXPECT_EQ(int(messages_.size()), c.messages);
        for (const auto& m : messages_) EXPECT_EQ(m, "Input error!");
        EXPECT_EQ(Control<QLineEdit>(*w_, "TimeH")->text().toStdString(), c.th);
        EXPECT_EQ(Control<QLineEdit>(*w_, "TimeM")->text().toStdString(), c.tm);
        EXPECT_EQ(Control<QLineEdit>(*w_, "TimeS")->text().toStdString(), c.ts);
        EXPECT_EQ(w_->State.RecallHour, c.vh);
        EXPECT_EQ(w_->State.RecallMinute, c.vm);
        EXPECT_EQ(w_->State.RecallSecond, c.vs);
    }
    // A text that is no integer stops the check with the conversion error.
    Control<QLineEdit>(*w_, "TimeH")->setText(QString());
    try {
        w_->TimeHKeyUp(Control<QLineEdit>(*w_, "TimeH"));
        ADD_FAILURE() << "no conversion error";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
}

TEST_F(RecordsWindow, RecallStepsStampTheRows) {
    Start();
    struct Case {
        bool check;  // RecallCheck checked (start 00:00:00) or unchecked (23:59:59)
        const char* interval;
        std::vector<const char*> times;
    };
    const Case cases[] = {
        {false, "1", {}},  // unchecked: the current time (checked below by its form only)
        {true, "7200", {"02:00:00", "04:00:00"}},
        {true, "0", {"04:00:00", "04:00:00"}},  // still checked: the stamp stays where it was
    };
    for (const auto& c : cases) {
        w_->RecordNewClick();
        if (Control<QCheckBox>(*w_, "RecallCheck")->isChecked() != c.check)
            Control<QCheckBox>(*w_, "RecallCheck")->click();
        EXPECT_EQ(Control<QLineEdit>(*w_, "TimeH")->text(), c.check ? QStringLiteral("00") : QStringLiteral("23"));
        EXPECT_EQ(Control<QLineEdit>(*w_, "TimeS")->text(), c.check ? QStringLiteral("00") : QStringLiteral("59"));
        Control<QLineEdit>(*w_, "TimeInt")->setText(QString::fromLatin1(c.interval));
        for (size_t i = 0; i < std::max<size_t>(c.times.size(), 1); ++i) w_->RecallDataTestClick();
        for (size_t i = 0; i < c.times.size(); ++i) EXPECT_EQ(Cell(int(i), 1).toStdString(), c.times[i]) << c.interval;
        if (!c.check) {
            EXPECT_EQ(Cell(0, 1).size(), 8);
        }
    }
    // 23:59:59 + 1 wraps to 0:00:00 (the start time typed by the user).
    Control<QLineEdit>(*w_, "TimeH")->setText(QStringLiteral("23"));
    Control<QLineEdit>(*w_, "TimeM")->setText(QStringLiteral("59"));
    Control<QLineEdit>(*w_, "TimeS")->setText(QStringLiteral("59"));
    w_->RecallCheckExit();
    Control<QLineEdit>(*w_, "TimeInt")->setText(QStringLiteral("1"));
    const int before = GridRows();
    w_->RecallDataTestClick();
    EXPECT_EQ(Cell(before, 1), QStringLiteral("00:00:00"));
    // An interval that is no integer: nothing is stepped or appended.
    Control<QLineEdit>(*w_, "TimeInt")->setText(QString());
    EXPECT_THROW(w_->RecallDataTestClick(), ConvertError);
    EXPECT_EQ(GridRows(), before + 1);
}

TEST_F(RecordsWindow, NewEmptiesTheTableAndRestartsTheNumbering) {
    Start();
    for (int k : {0, 3}) {
        for (int i = 0; i < k; ++i) Reading(std::to_string(i));
        messages_.clear();
        Control<QToolButton>(*w_, "RecordNew")->click();
        ASSERT_EQ(messages_.size(), 1u);
        EXPECT_EQ(messages_[0], " Record deleted ");
        EXPECT_EQ(GridRows(), 0);
        EXPECT_EQ(w_->State.RecordNo, 1);
        EXPECT_EQ(w_->State.RecordsAppended, 0);
    }
    // The file on disk is not touched.
    EXPECT_EQ(ReadAll(Path("Ms35fdb.DB")), ReadAll(MS42K_SOURCE_DIR "/data/Ms35fdb.DB"));
}

TEST_F(RecordsWindow, SaveAsTextAsTableAndFailures) {
    Start();
    Reading("00.66", "", " V", "");
    Reading("1.234", "AC", "m*", "AUTO");
    struct Case {
        const char* name;  // in the scratch folder; "" = cancelled
        std::vector<std::string> messages;
        bool textFile;
    };
    const std::string txt = Path("out.txt"), xls = Path("out.xls"), db = Path("out.db"), bad = Path("missing/out.txt");
    const Case cases[] = {
        {"out.txt", {"save table to specified file: " + txt + " Scuss!"}, true},
        {"out.xls", {"save table to specified file: " + xls + " Scuss!"}, true},
        {"out.db", {}, false},
        {"missing/out.txt", {"Could not save table to specified file: " + bad + "\nNo such file or directory"}, false},
        {"", {}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        messages_.clear();
        saveName_ = *c.name ? Path(c.name) : std::string();
        Control<QToolButton>(*w_, "saveas")->click();
        EXPECT_EQ(messages_, c.messages);
        EXPECT_EQ(filters_.back(), TFCOMM::SaveDialog2Filter);
        EXPECT_EQ(defaultExt_, "xls");
        if (c.textFile) {
            const std::string text = ReadAll(saveName_);
            EXPECT_EQ(text.substr(0, 33), "No\tTime\tDC/AC\tValue\tUnit\tAUTO\r\n1\t");
            EXPECT_NE(text.find("\t\t00.66\t V\t\r\n2\t"), std::string::npos) << text;
        }
    }
    RecordTable copy;
    copy.Open(db);
    ASSERT_EQ(copy.RowCount(), 2u);
    EXPECT_EQ(copy.CellText(1, ColUnit), "m*");
    EXPECT_TRUE(errors_.empty());
}

TEST_F(RecordsWindow, OpenKeepsThePathAndTheNumbering) {
    Start();
    for (int i = 0; i < 3; ++i) Reading(std::to_string(i));
    saveName_ = Path("Old Data.db");
    w_->saveasClick();
    openName_ = saveName_;
    Control<QToolButton>(*w_, "OpenDataFiles")->click();
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_EQ(filters_.back(), TFCOMM::OpenDialog1Filter);
    EXPECT_EQ(w_->T22GDB->FileName(), openName_);
    EXPECT_EQ(GridRows(), 3);
    Reading("next");
    EXPECT_EQ(Cell(3, 0), QStringLiteral("4"));
    // Cancelled: nothing changes.
    openName_.clear();
    w_->SpeedButton2Click();
    EXPECT_EQ(GridRows(), 4);
}

TEST_F(RecordsWindow, FailedOpenKeepsTheRowsForTheExitPrompt) {
    Start();
    Reading("kept");
    ASSERT_TRUE(
        QFile::copy(QStringLiteral(MS42K_TEST_DATA "/paradox/country.db"), QString::fromStdString(Path("country.db"))));
    openName_ = Path("country.db");
    Guard([&] { w_->SpeedButton2Click(); });
    ASSERT_EQ(errors_.size(), 1u);
    EXPECT_NE(errors_[0].find(openName_), std::string::npos) << errors_[0];
    // The new file was checked before the old table was let go: it stays open and recording
    // goes on into it; nothing was asked.
    EXPECT_TRUE(w_->T22GDB->IsOpen());
    EXPECT_TRUE(rowQuestions_.empty());
    EXPECT_FALSE(Control<QLabel>(*w_, "RecordStateLabel")->isVisibleTo(w_.get()));
    Reading("after");
    EXPECT_EQ(GridRows(), 2);
    EXPECT_EQ(w_->State.RecordsAppended, 2);
    // The exit prompt still offers the recorded reading; saving writes it.
    exitChoice_ = Ui::ExitChoice::Save;
    saveName_ = Path("rescued.txt");
    Control<QPushButton>(*w_, "BitBtn1")->click();
    EXPECT_EQ(exitQuestions_, 1);
    EXPECT_EQ(quitCalls_, 1);
    EXPECT_NE(ReadAll(saveName_).find("\tkept\t"), std::string::npos);
}

TEST_F(RecordsWindow, ExitPrompt) {
    struct Case {
        const char* what;
        int readings;
        bool saveBefore;
        Ui::ExitChoice choice;
        const char* saveAs;  // answer of the save dialog ("" cancels it)
        int questions;
        int quits;
    };
    const Case cases[] = {
        {"nothing recorded", 0, false, Ui::ExitChoice::Cancel, "", 0, 1},
        {"everything saved", 2, true, Ui::ExitChoice::Cancel, "", 0, 1},
        {"cancel keeps running", 2, false, Ui::ExitChoice::Cancel, "", 1, 0},
        {"discard ends", 2, false, Ui::ExitChoice::Discard, "", 1, 1},
        {"save then end", 2, false, Ui::ExitChoice::Save, "exit.txt", 1, 1},
        {"save dialog cancelled keeps running", 2, false, Ui::ExitChoice::Save, "", 1, 0},
        {"failed save keeps running", 2, false, Ui::ExitChoice::Save, "missing/x.txt", 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        w_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("Ms35fdb.DB")));
        Start();
        for (int i = 0; i < c.readings; ++i) Reading(std::to_string(i));
        if (c.saveBefore) {
            saveName_ = Path("before.txt");
            w_->saveasClick();
        }
        exitQuestions_ = quitCalls_ = 0;
        exitChoice_ = c.choice;
        saveName_ = *c.saveAs ? Path(c.saveAs) : std::string();
        w_->BtExit1Click();
        EXPECT_EQ(exitQuestions_, c.questions);
        EXPECT_EQ(quitCalls_, c.quits);
        if (c.choice == Ui::ExitChoice::Save && c.quits) {
            EXPECT_NE(ReadAll(saveName_).find("\r\n2\t"), std::string::npos);
        }
    }
}

}  // namespace

// ---- the real file dialogs ----

namespace {
// The names the dialog lists in its folder, once its folder has been read.
QStringList Listed(QFileDialog& dlg) {
    auto* view = dlg.findChild<QListView*>(QStringLiteral("listView"));
    if (!view) return {QStringLiteral("<no list view>")};
    QStringList names;
    // The folder is read in the background: wait for its entries (bounded, not timed).
    for (int i = 0; i < 200; ++i) {
        QTest::qWait(10);
        names.clear();
        const QModelIndex root = view->rootIndex();
        for (int r = 0; r < view->model()->rowCount(root); ++r)
            names << view->model()->index(r, 0, root).data().toString();
        if (!names.isEmpty() && i > 20) break;
    }
    names.sort();
    return names;
}

void Touch(const QString& path, const QByteArray& bytes = "x") {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}
}  // namespace

TEST_F(RecordsWindow, FileDialogFiltersKeepTheCaptionsAndMatchWithoutCase) {
    EXPECT_EQ(Ui::FileDialogFilters(QString::fromLatin1(TFCOMM::OpenDialog1Filter)),
              (QStringList{QStringLiteral("access data files (*.DB)"), QStringLiteral("All files (*.*)")}));
    EXPECT_EQ(Ui::FileDialogFilters(QString::fromLatin1(TFCOMM::SaveDialog2Filter)),
              (QStringList{QStringLiteral("Excel File(*.xls)"), QStringLiteral("DB File(*.db)"),
                           QStringLiteral("Txt File(*.txt)"), QStringLiteral("All File(*.*)")}));
    Touch(dir_.filePath(QStringLiteral("Ms35fdb.DB")));
    Touch(dir_.filePath(QStringLiteral("old.db")));
    Touch(dir_.filePath(QStringLiteral("notes.txt")));
    std::unique_ptr<QFileDialog> dlg(MakeFileDialog(nullptr, QString::fromLatin1(TFCOMM::OpenDialog1Filter), false));
    EXPECT_TRUE(dlg->testOption(QFileDialog::DontUseNativeDialog));
    dlg->setDirectory(dir_.path());
    dlg->show();
    EXPECT_EQ(Listed(*dlg), (QStringList{QStringLiteral("Ms35fdb.DB"), QStringLiteral("old.db")}));
    auto* types = dlg->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    ASSERT_NE(types, nullptr);
    ASSERT_EQ(types->count(), 2);
    EXPECT_EQ(types->itemText(0), QStringLiteral("access data files (*.DB)"));
    types->setCurrentIndex(1);
    emit types->activated(1);  // as a click on the entry
    EXPECT_EQ(Listed(*dlg),
              (QStringList{QStringLiteral("Ms35fdb.DB"), QStringLiteral("notes.txt"), QStringLiteral("old.db")}));
    dlg->hide();
}

// Save through the window's own dialog: choosing "DB File(*.db)" and typing run5 writes
// run5.db as a Paradox copy.
TEST_F(RecordsWindow, SaveDialogTakesTheChosenFiltersExtension) {
    Start();
    Reading("1.5");
    // The real save dialog; every other hook stays quiet.
    const auto quietMessage = Ui::ShowMessage, quietError = Ui::ShowError;
    const auto quietRows = Ui::AskSaveRows;
    const auto quietYesNo = Ui::AskYesNo;
    const auto quietExit = Ui::AskSaveBeforeExit;
    const auto quietQuit = Ui::QuitApplication;
    Ui::ResetHooks();
    Ui::ShowMessage = quietMessage;
    Ui::ShowError = quietError;
    Ui::AskSaveRows = quietRows;
    Ui::AskYesNo = quietYesNo;
    Ui::AskSaveBeforeExit = quietExit;
    Ui::QuitApplication = quietQuit;
    bool driven = false;
    QStringList listed;
    Touch(dir_.filePath(QStringLiteral("earlier.DB")));
    QTimer::singleShot(0, [&] {
        auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (!dlg) return;
        dlg->setDirectory(dir_.path());
        auto* types = dlg->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        types->setCurrentIndex(1);  // "DB File(*.db)", chosen as a click does
        emit types->activated(1);
        listed = Listed(*dlg);
        auto* edit = dlg->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        edit->setText(QStringLiteral("run5"));
        driven = true;
        QMetaObject::invokeMethod(dlg, "accept", Qt::QueuedConnection);
    });
    w_->saveasClick();
    ASSERT_TRUE(driven);
    // "DB File(*.db)" lists the tables whatever the case of their extension.
    EXPECT_TRUE(listed.contains(QStringLiteral("earlier.DB"))) << listed.join(' ').toStdString();
    EXPECT_TRUE(listed.contains(QStringLiteral("Ms35fdb.DB"))) << listed.join(' ').toStdString();
    EXPECT_TRUE(errors_.empty()) << errors_.front();
    EXPECT_TRUE(messages_.empty()) << messages_.front();
    ASSERT_TRUE(QFile::exists(QString::fromStdString(Path("run5.db"))))
        << QDir(dir_.path()).entryList().join(' ').toStdString();
    RecordTable copy;
    copy.Open(Path("run5.db"));
    ASSERT_EQ(copy.RowCount(), 1u);
    EXPECT_EQ(copy.CellText(0, ColValue), "1.5");
}

// ---- unsaved rows are not thrown away without asking ----

TEST_F(RecordsWindow, NewAndOpenAskBeforeUnsavedRowsGo) {
    Start();
    saveName_ = Path("other.db");
    w_->saveasClick();  // an empty table to open
    struct Case {
        const char* what;
        bool open;  // Open, else New
        Ui::ExitChoice choice;
        const char* saveAs;
        int rowsAfter;
        bool deletedBox;
    };
    const Case cases[] = {
        {"New, cancel", false, Ui::ExitChoice::Cancel, "", 2, false},
        {"New, discard", false, Ui::ExitChoice::Discard, "", 0, true},
        {"New, save", false, Ui::ExitChoice::Save, "saved-new.txt", 0, true},
        {"New, save dialog cancelled", false, Ui::ExitChoice::Save, "", 2, false},
        {"Open, cancel", true, Ui::ExitChoice::Cancel, "", 2, false},
        {"Open, discard", true, Ui::ExitChoice::Discard, "", 0, false},
        {"Open, save", true, Ui::ExitChoice::Save, "saved-open.txt", 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        w_->T22GDB->Open(Path("Ms35fdb.DB"));
        Control<RecordTableModel>(*w_, "Data1")->Refresh();
        Reading("a");
        Reading("b");
        rowQuestions_.clear();
        messages_.clear();
        rowsChoice_ = c.choice;
        saveName_ = *c.saveAs ? Path(c.saveAs) : std::string();
        openName_ = Path("other.db");
        if (c.open)
            Control<QToolButton>(*w_, "OpenDataFiles")->click();
        else
            Control<QToolButton>(*w_, "RecordNew")->click();
        ASSERT_EQ(rowQuestions_.size(), 1u);
        EXPECT_EQ(GridRows(), c.rowsAfter);
        const bool deleted = std::find(messages_.begin(), messages_.end(), " Record deleted ") != messages_.end();
        EXPECT_EQ(deleted, c.deletedBox);
        if (*c.saveAs) {
            EXPECT_NE(ReadAll(saveName_).find("\ta\t"), std::string::npos);
        }
        if (c.rowsAfter == 0) {
            // Nothing unsaved is left: the next New or Open asks nothing.
            rowQuestions_.clear();
            Control<QToolButton>(*w_, "RecordNew")->click();
            EXPECT_TRUE(rowQuestions_.empty());
        } else {
            w_->RecordsUnsaved = false;
            Control<QToolButton>(*w_, "RecordNew")->click();
        }
    }
    EXPECT_TRUE(errors_.empty()) << errors_.front();
}

// ---- the recovery journal ----

TEST_F(RecordsWindow, JournalRowsAreOfferedAtTheNextStart) {
    for (bool restore : {true, false}) {
        SCOPED_TRACE(restore ? "restored" : "declined");
        w_.reset();
        QFile::remove(dir_.filePath(QStringLiteral("Ms35fdb.DB")));
        Start();
        yesNoQuestions_.clear();
        Reading("1.1");
        Reading("2.2");
        Reading("3.3");
        // The program ends without a clean exit (killed, logged out): the journal stays.
        w_.reset();
        restoreAnswer_ = restore;
        QFile::remove(dir_.filePath(QStringLiteral("Ms35fdb.DB")));
        Start();
        ASSERT_EQ(yesNoQuestions_.size(), 1u);
        const std::string& q = yesNoQuestions_[0];
        EXPECT_EQ(q.rfind("3 readings recorded on ", 0), 0u) << q;
        EXPECT_NE(q.find(" from "), std::string::npos) << q;
        EXPECT_NE(q.find(" were not saved. Restore them?"), std::string::npos) << q;
        if (restore) {
            ASSERT_EQ(GridRows(), 3);
            EXPECT_EQ(Cell(2, 3), QStringLiteral("3.3"));
            EXPECT_TRUE(w_->RecordsUnsaved);
            Reading("4.4");
            EXPECT_EQ(Cell(3, 0), QStringLiteral("4"));
            // Saved: the journal is gone, the next start asks nothing.
            saveName_ = Path("all.txt");
            w_->saveasClick();
            w_.reset();
            yesNoQuestions_.clear();
            QFile::remove(dir_.filePath(QStringLiteral("Ms35fdb.DB")));
            Start();
            EXPECT_TRUE(yesNoQuestions_.empty());
        } else {
            EXPECT_EQ(GridRows(), 0);
            // The declined rows are kept in a file that opens (and converts) as a table.
            const QStringList kept = QDir(dir_.path()).entryList({QStringLiteral("*.unsaved-*.journal")}, QDir::Files);
            ASSERT_EQ(kept.size(), 1) << kept.join(' ').toStdString();
            RecordTable t;
            t.Open(dir_.filePath(kept[0]).toStdString());
            ASSERT_EQ(t.RowCount(), 3u);
            EXPECT_EQ(t.CellText(1, ColValue), "2.2");
            QFile::remove(dir_.filePath(kept[0]));
        }
        // A clean exit with nothing unsaved leaves no journal.
        w_->BtExit1Click();
        EXPECT_FALSE(QFile::exists(dir_.filePath(QStringLiteral("Ms35fdb.DB.journal"))));
    }
}

// SIGTERM (a logout, a kill) and SIGHUP (the terminal closing) end the program as before, but
// the rows wait in the journal.
TEST_F(RecordsWindow, StopSignalsLeaveTheRowsInTheJournal) {
    for (const int sig : {SIGTERM, SIGHUP}) {
        SCOPED_TRACE(::strsignal(sig));
        Start(sig == SIGTERM);  // the first run copies the table in, the second finds it
        const std::string journal = Path("Ms35fdb.DB.journal");
        const pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0; i < 5; ++i) Reading(std::to_string(i));
            ::raise(sig);
            // The window's thread writes the journal out and lets the signal end the process.
            QTest::qWait(5000);
            _exit(7);  // not ended by the signal
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << status;
        EXPECT_EQ(RecordJournal::Read(journal, nullptr).rows, 5u);
        // Clear up for the next signal: this process's window saved nothing and discards.
        w_.reset();
        QFile::remove(QString::fromStdString(journal));
    }
}

// A journal met at a start whose record table does not open is set aside, not cleared by
// that run's exit.
TEST_F(RecordsWindow, JournalIsKeptWhenTheTableDoesNotOpen) {
    Start();
    Reading("5.5");
    w_.reset();  // ended without a clean exit
    QFile::remove(dir_.filePath(QStringLiteral("Ms35fdb.DB")));
    tableTemplate_ = Path("no-such-template.DB");  // the table stays missing
    Start(false);
    EXPECT_TRUE(yesNoQuestions_.empty());
    w_->BtExit1Click();
    const QStringList kept = QDir(dir_.path()).entryList({QStringLiteral("*.unsaved-*.journal")}, QDir::Files);
    ASSERT_EQ(kept.size(), 1) << QDir(dir_.path()).entryList().join(' ').toStdString();
    EXPECT_EQ(RecordJournal::Read(dir_.filePath(kept[0]).toStdString(), nullptr).rows, 1u);
}
