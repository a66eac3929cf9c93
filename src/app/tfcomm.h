#pragma once
// The program's one window. Every control, timer and device component lives here and every
// user action arrives as one of its handlers. The handlers are implemented by area:
//   tfcomm.cpp          layout, start-up, resize, exit, Clear
//   tfcomm_records.cpp  record table, recording controls, data files
//   tfcomm_meter.cpp    decoder + LCD, gauge, limits, chart panel
//   tfcomm_usb.cpp      USB cable link
//   tfcomm_serial.cpp   serial meter link
//   tfcomm_print.cpp    printed report
#include <QMainWindow>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "app/appoptions.h"
#include "app/sharedstate.h"
#include "records/journal.h"  // the window owns the recovery journal of its record table

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class QTimer;
class QToolButton;
class QChart;
class QChartView;
class QLineSeries;
class QAreaSeries;
class QPrintPreviewDialog;

class ImageButton;
class PanelLabel;
class LcdPanel;
class GaugeImage;
class RecordTable;
class RecordTableModel;
class TCommPortDriver;
class THidDeviceController;
class THidDevice;
class HidBackend;
struct DecodeResult;
class CableConnection;
namespace chartpaging {
enum class PageHandler;
}

class TFCOMM : public QMainWindow {
    Q_OBJECT
public:
    explicit TFCOMM(const AppOptions& options = AppOptions{}, QWidget* parent = nullptr);
    ~TFCOMM() override;

    // The program-wide working state.
    SharedState State;
    AppOptions Options;

    // ---- non-visual components ----
    std::unique_ptr<RecordTable> T22GDB;
    std::unique_ptr<TCommPortDriver> COMM2;
    std::unique_ptr<THidDeviceController> HidCtl;
    THidDevice* SelectedDevice = nullptr;
    static const char* const OpenDialog1Filter;
    static const char* const SaveDialog2Filter;

    // ---- window-level handlers (layout, start-up, exit) ----
    void FormCreate();
    void FormResize();
    void KDResize();
    // The designed client area (717 x 596 below the menu bar) as the window's size.
    QSize DesignedSize() const;
    void BitBtn1Click();
    void BtExit1Click();
    void ClearBtnClick();
    // Adds one line to the device log.
    void Log(const QString& line);

    // ---- records area ----
    void INDataToTable();
    void RecordSITimeChange();
    void RecordSITimeKeyPress(QObject* Sender, char& Key);
    void TrecordTimer();
    void N10001Click();
    void N50001Click();
    void N100001Click();
    void N500001Click();
    void N1000001Click();
    void limitessClick();
    void RecallCheckClick();
    void RecallCheckExit();
    void TimeHKeyUp(QObject* Sender);
    void RecallDataTestClick();
    void RecordNewClick();
    void SpeedButton2Click();
    void saveasClick();
    // Exit prompt: true when the program may end (saved, discarded or nothing to save).
    bool ConfirmExitWithUnsavedRows();

    // ---- meter area (decoder, gauge, limits, chart) ----
    void LcdDisplay42();
    void Button4Click();
    void KDsetup();
    void KDrun(int32_t position);
    void KdFdClick();
    void SetmaxExit();
    void SetMinExit();
    void SetmaxKeyPress(QObject* Sender, char& Key);
    void ResetChartSeries();
    void ShowSeries(int32_t Index);
    void ComboBox1Change();
    void BtNewClick();
    void BtSaveClick();
    void TbFdClick();
    void BtFirstClick();
    void BTPreviousClick();
    void BtNextClick();
    void BTlastClick();
    void OnescopeClick();
    void MaxrecordExit();

    // ---- USB cable link ----
    void HidCtlArrival(THidDevice* HidDev);
    bool HidCtlEnumerate(THidDevice* HidDev, int32_t Idx);
    void HidCtlDeviceChange(QObject* Sender);
    void HidCtlDeviceDataError(THidDevice* HidDev, uint32_t Error);
    void HidCtlRemoval(THidDevice* HidDev);
    void HidDataHandler(THidDevice* HidDev, uint8_t ReportID, const uint8_t* Data, uint16_t Size);
    void ReadBtnClick();
    void USBConClick();
    void SetFeatureClick();
    void SendDataClick();
    void ConTimerTimer();

    // ---- serial meter link ----
    void BTCon1Click();
    void BtDiscon1Click();
    void COMConClick();
    void Button3Click();
    void Button2Click();
    void H42RData(const uint8_t* DataPtr, uint32_t DataSize);

    // ---- printing ----
    void BtPrintClick();
    void PrintClick();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // ---- the window's controls (tests reach them by objectName, which is the member's name) ----
    // ---- top strip ----
    QToolButton* USBCon = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QCheckBox* B2400 = nullptr;
    QCheckBox* B4800 = nullptr;
    QCheckBox* B9600 = nullptr;
    QLabel* USBtxt = nullptr;
    QLabel* USBtxt1 = nullptr;
    PanelLabel* BtCOM1 = nullptr;
    PanelLabel* BtCOM2 = nullptr;
    PanelLabel* BtCOM3 = nullptr;
    PanelLabel* BtCOM4 = nullptr;
    QPushButton* RecallDataTest = nullptr;
    QPushButton* Onescope = nullptr;
    QPushButton* Button4 = nullptr;

    // ---- left column ----
    LcdPanel* Panel1 = nullptr;
    QProgressBar* PBar2 = nullptr;
    QCheckBox* RepeatSet = nullptr;
    QCheckBox* RecordSI = nullptr;
    QLineEdit* RecordSITime = nullptr;
    QToolButton* RecordNew = nullptr;
    QToolButton* OpenDataFiles = nullptr;
    QToolButton* saveas = nullptr;
    QToolButton* BtPrint = nullptr;
    QToolButton* Print = nullptr;
    QTableView* DBGrid1 = nullptr;

    // ---- right column: gauge ----
    QFrame* KD = nullptr;
    GaugeImage* KD1 = nullptr;
    ImageButton* CONok = nullptr;
    ImageButton* CONokN = nullptr;
    ImageButton* KdFd = nullptr;
    ImageButton* KdSx = nullptr;
    PanelLabel* oltext = nullptr;

    // ---- right column: chart ----
    QChartView* Chtshow = nullptr;
    QChart* ChtshowChart = nullptr;
    QLineSeries* Series1 = nullptr;
    QAreaSeries* Series2 = nullptr;
    QLineSeries* Series2Line = nullptr;  // upper line of the area series
    ImageButton* TbFd = nullptr;
    ImageButton* TbSx = nullptr;
    QToolButton* BtNew = nullptr;
    QToolButton* BtSave = nullptr;
    QToolButton* BtFirst = nullptr;
    QToolButton* BTPrevious = nullptr;
    QToolButton* Bt10 = nullptr;
    QToolButton* BtNext = nullptr;
    QToolButton* BTlast = nullptr;
    QComboBox* ComboBox1 = nullptr;
    ImageButton* ScopeNo = nullptr;
    ImageButton* Scopeok = nullptr;
    QLineEdit* Maxrecord = nullptr;

    // ---- lower strip ----
    QFrame* Panel2 = nullptr;
    QCheckBox* RecallCheck = nullptr;
    QLineEdit* TimeH = nullptr;
    QLineEdit* TimeM = nullptr;
    QLineEdit* TimeS = nullptr;
    QLineEdit* TimeInt = nullptr;
    QFrame* Panel3 = nullptr;
    QLabel* MinText = nullptr;
    QLabel* MaxText = nullptr;
    QLabel* MinTextU = nullptr;
    QLabel* MaxTextU = nullptr;
    QLineEdit* Setmax = nullptr;
    QLineEdit* SetMin = nullptr;
    QCheckBox* SetMaxB = nullptr;
    QCheckBox* SetMinB = nullptr;
    PanelLabel* BTCon = nullptr;
    PanelLabel* BtDiscon = nullptr;
    PanelLabel* BtExit = nullptr;
    QListWidget* HistoryListBox = nullptr;
    QToolButton* ClearBtn = nullptr;
    QPushButton* SendData = nullptr;
    QToolButton* ReadBtn = nullptr;
    QPushButton* SetFeature = nullptr;
    QListWidget* DevListBox = nullptr;
    QToolButton* InfoBtn = nullptr;
    QToolButton* COMCon = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QCheckBox* IFMS22H = nullptr;
    QCheckBox* IFRK740 = nullptr;
    QCheckBox* IFMS35F = nullptr;
    QCheckBox* IFMS22D = nullptr;
    QPlainTextEdit* Memo1 = nullptr;

    // ---- main menu ----
    QMenu* Connect1 = nullptr;
    QAction* START1 = nullptr;
    QAction* STOP1 = nullptr;
    QMenu* Record1 = nullptr;
    QAction* New1 = nullptr;
    QAction* Save1 = nullptr;
    QAction* N10001 = nullptr;
    QAction* N50001 = nullptr;
    QAction* N100001 = nullptr;
    QAction* N500001 = nullptr;
    QAction* N1000001 = nullptr;
    QAction* limitess = nullptr;
    QAction* EXIT1 = nullptr;

    // ---- timers and the grid's model ----
    QTimer* ConTimer = nullptr;
    QTimer* Trecord = nullptr;
    RecordTableModel* Data1 = nullptr;
    // The print preview while it is open (a child of the window named "QuickRep1Preview").
    QPointer<QPrintPreviewDialog> QuickRep1Preview;
    // Shown over the grid's buttons while no record table is open: readings are not recorded.
    QLabel* RecordStateLabel = nullptr;

    void BuildWindow();
    void BuildMenu();
    void NameControls();  // objectName of each control and component = its member name
    void BindHandlers();
    void CloseAndQuit();
    void ApplyStartOuterHeight();  // start-up step 2 with the frame as known now
    void CentreOnScreen();
    void FollowFrameAtStart();  // the frame arrived after the window was shown
    void WatchFrameAtStart(int looksLeft);
    // Start-up steps joined from their areas, in the order FormCreate runs them.
    void StartupOpenRecordTable();  // step 5
    void StartupResetChart();       // step 7
    void StartupSeriesSelector();   // step 8
    void StartupBindSerial();       // step 9, serial binding
    void StartupChartAxis();        // step 10
    void StartupGauge();            // step 11
    // Areas connect the signals of their own controls here (called from BindHandlers).
    void BindRecordsHandlers();
    void BindMeterHandlers();
    void BindUsbHandlers();
    void BindSerialHandlers();
    void BindPrintHandlers();
    // Area teardown that must run before the widgets go (called from the destructor).
    void ShutdownUsb();
    void ShutdownSerial();

    bool quitting_ = false;
    bool shownOnce_ = false;
    bool startHeightPending_ = false;
    int startFrameHeight_ = 0;  // frame height the start-up height was computed with

public:
    // ---- area-private state: each area adds its own members in its own block ----
    // [records state]
    bool RecordsUnsaved = false;          // rows appended since the last save, New or Open
    bool RecordClosedErrorShown = false;  // a reading met a closed table and that was logged
    // The recovery journal of the unsaved rows, beside the record table (null when it could
    // not be set up).
    std::unique_ptr<RecordJournal> Journal;
    bool JournalErrorLogged = false;
    // Puts the not-recording indicator in line with the table's state.
    void UpdateRecordingState();
    // Asks Save / Discard / Cancel before unsaved rows are thrown away (question names the
    // action); true when the action may go on.
    bool ConfirmDiscardUnsavedRows(const QString& question);
    // The journal after a row was appended / after the rows were saved or thrown away.
    void JournalRow(const RecordRow& row);
    void JournalClear();
    // Start-up: offers the rows of a journal left by an earlier run.
    void OfferJournalRestore();
    // The grid's current row (and its indicator) to the last row.
    void FollowLastRow();
    // The record limit and its menu mark (item: the checked entry).
    void SetLimit(QAction* item, int32_t limit);
    // [end records state]
    // [meter state]
    // For the frame links: runs LcdDisplay42 on State.FrameHex; a frame that fails (decoder
    // conversion or recording error) is logged once in HistoryListBox, no dialog, and false is
    // returned. Never throws, so reception goes on with the next frame.
    bool LcdDisplay42Logged() noexcept;
    // The chart's paging: points per page (0 or less: one page) and the current page from 1.
    int32_t ChtshowMaxPointsPerPage = 161;
    int32_t ChtshowPage = 1;
    int32_t ChtshowPageCount() const;
    void ChtshowSetPage(int32_t page);  // clamped into 1 .. page count
    void ChtshowSetMaxPointsPerPage(int32_t pointsPerPage);
    void ChtshowShowPage();  // the bottom axis shows the current page
    // Where "Save" writes the chart bitmap: "c:\databmp.bmp" on Windows, else databmp.bmp in
    // the home folder.
    QString ChartBitmapPath;
    // The run's extremes: the smallest and largest reading (value in the base unit) of one
    // measuring mode since start, New or the last change of mode; shown in MinText/MaxText.
    bool ExtremesSet = false;
    double ExtremeMin = 0;
    double ExtremeMax = 0;
    int ExtremesMode = -1;
    std::string ExtremesCoupling;
    void TrackExtremes(const DecodeResult& r);
    void ResetExtremes();  // back to the design texts "40001" / "-40001"
    // The chart back to its fixed scale (rubber-band zoom undone).
    void ChtshowFixedScale();
    // One of the chart's page buttons: the page and the buttons' states.
    void ChtshowPageClick(chartpaging::PageHandler handler);
    // [end meter state]
    // [usb state]
    // The name a device is listed and logged under.
    QString DeviceDisplayName(THidDevice* HidDev);
    // The device attached to an entry of DevListBox (nullptr: none).
    THidDevice* DevListDevice(int row) const;
    // SelectedDevice := the device of the selected DevListBox entry; false when there is none.
    bool PickSelectedDevice();
    // Frames decoded from the cable since start (for the live display and the tests).
    uint64_t UsbFramesDecoded = 0;
    // The connection to the cable; the handlers above delegate to it.
    std::unique_ptr<CableConnection> UsbLink;
    // [end usb state]
    // [serial state]
    // The decoder a qualifying serial line runs; empty: LcdDisplay42. Code that wants to
    // watch or stand in for the decoder on the serial path sets it.
    std::function<void()> SerialDecoder;
    // The device path COM1 stands for: the --com1 option, else the environment variable
    // MS42K_COM1, else the system's first serial port.
    std::string SerialCom1Device() const;
    // The serial link opened / closed: menu marks, Connect/Disconnect and the COM panels.
    void OpenSerialLink();
    void CloseSerialLink();
    // [end serial state]
    // [print state]
    // [end print state]
};
