#pragma once
// The main window of the service tool: it owns the serial control, the timers, the
// pages and the state that every job of the program shares.

#include "app/Dialogs.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QByteArray>
#include <QMainWindow>
#include <QPointer>
#include <QString>

#include <array>
#include <exception>
#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QMenuBar;
class QProgressBar;
class QPushButton;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QTableWidget;
class QPlainTextEdit;
class QTimer;
class QToolButton;
class TMSComm;
class TOleContainer;
class TSerialBackend;
class TBDTSLists;
class TBDTSTransfer;
class TFirmwareTransfer;
class TProgSteps;
class TLinkLabel;
class TShadowPanel;

class QDateTime;
class QLocale;
/// The clock pane's text: the user's long date, then the long time.
QString clockText(const QLocale &locale, const QDateTime &moment);

/// Where the window keeps its working files, and how it asks the user.
struct TWindowOptions
{
    QString programFolder;       ///< empty: the executable's folder, or the user's when that is read-only
    TDialogs *dialogs = nullptr; ///< empty: the desktop's own dialogs
};

class TFormMainLoritS_D7 : public QMainWindow
{
    Q_OBJECT
public:
    /// Takes the backend over; runs the start-up (port discovery) at once.
    explicit TFormMainLoritS_D7(TSerialBackend *backend, const TWindowOptions &options = {},
                                QWidget *parent = nullptr);
    ~TFormMainLoritS_D7() override;

    static constexpr int pageStart = 0, pageSoftTav = 1, pageBDTS = 2, pageReader = 3, pageResult = 4;
    static const std::array<QString, 6> baudRates;

    // ---- Link state -------------------------------------------------------------
    quint8 baudIndex = 0;
    quint8 targetBaudIndex = 0;
    bool speedChangeRequested = false;
    bool contactSearchActive = false;
    bool probeDue = false;
    bool contactEstablished = false;
    bool portChangePending = false;
    char deferredCommand = 0;
    /// Bytes received and not yet consumed; byte 0 is the reply code.
    QByteArray replyBuffer;

    // ---- Shared state -----------------------------------------------------------
    QString programFolder; ///< the working files' folder, with its final separator
    QPointer<TFrameSoftTav> frameSoftTav;
    QPointer<TFrameBDTS> frameBDTS;
    /// The test-system database: its images, record arrays, counters and list operations.
    TBDTSLists *bdtsLists = nullptr;
    /// The exchange of databases with the instrument: one transfer at a time.
    TBDTSTransfer *bdtsTransfer = nullptr;
    QString firmwareFilePath;
    QString lastFileFolder, lastFileName;
    /// The reprogramming procedure's flags and rules.
    TProgSteps *progSteps = nullptr;
    /// The image being sent; made at the first upload, freed when the window closes.
    std::unique_ptr<TFirmwareTransfer> firmwareImage;

    // ---- Components -------------------------------------------------------------
    TMSComm *MSComm1 = nullptr;
    QTimer *DefSetComm_Timer = nullptr;
    QTimer *SendCommand_Timer = nullptr;
    QTimer *StartProgTav_Timer = nullptr;

    QMenuBar *ActionMainMenuBar1 = nullptr;
    QAction *Action1 = nullptr, *ActionExit = nullptr, *ActionSoftTavelon = nullptr,
            *ActionBDTS = nullptr, *ActionTav2006 = nullptr, *ActionFile = nullptr;
    QWidget *RzGroupBar1 = nullptr;
    QSplitter *SCSplitter1 = nullptr;
    QTabWidget *RzPageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr, *TabShSoftTav = nullptr, *TabShBDTS = nullptr,
            *TabShReader = nullptr, *TabShResult = nullptr;

    TShadowPanel *RzPanel2 = nullptr;
    QFrame *RzPanel3 = nullptr, *RzPanel4 = nullptr, *RzPanel5 = nullptr;
    TLinkLabel *lbLoadPOInTav = nullptr, *lbLoadBDTS = nullptr, *lbReader = nullptr,
               *lbProtokol = nullptr;

    QGroupBox *RzGroupBox1 = nullptr;
    QComboBox *cbxNumPort = nullptr;
    QCheckBox *cbPortOpen = nullptr;
    QToolButton *sbtnCommON = nullptr;
    QLabel *lbCommParam = nullptr;
    QComboBox *cbBaudRate = nullptr;
    QPushButton *btnVerifyConnect = nullptr;
    QPushButton *btnConnect = nullptr;

    QStatusBar *RzStatusBar1 = nullptr;
    QLabel *RzStatusPane1 = nullptr;
    QProgressBar *RzProgressBar1 = nullptr;
    QLabel *RzClockStatus1 = nullptr;

    // Reader page
    TShadowPanel *RzPanel6 = nullptr;
    QFrame *RzPanel7 = nullptr;
    QTableWidget *StringGrid1 = nullptr;
    QPushButton *btnReadOP = nullptr, *btnSaveOP = nullptr, *btnCreateExcel = nullptr,
                *btnFileToExcel = nullptr;
    QCheckBox *chckAutoReadOP = nullptr, *chckAutoSaveOP = nullptr;
    // Results page
    QPlainTextEdit *Memo1 = nullptr;
    QCheckBox *chckAutoReadRes = nullptr, *chckAutoSaveRes = nullptr;
    QPushButton *btnReadProtokol = nullptr, *btnSaveProtokol = nullptr, *btnClrMemo1 = nullptr;

    TFileDialogState sdlgSaveTavDat;
    TFileDialogState odlgOpenFileToExcel;

    // ---- Status line and progress -------------------------------------------------
    void ShowStatus(const QString &text);
    QString statusText() const;
    void SetProgress(int percent);

    // ---- Link: ports, contact, speed ------------------------------------------------
    bool UpdateLinkState();
    void StartContact();
    void RequestTopSpeed();
    void ContactReplyReceived();
    void DiscardInput();
    void btnConnectClick();
    void btnVerifyConnectClick();
    void cbxNumPortChange();
    void cbBaudRateChange();
    void cbPortOpenClick();
    void DefSetComm_TimerTimer();
    void SendCommand_TimerTimer();
    /// A port text the user typed and confirmed with Enter.
    void cbxNumPortTextConfirmed();
    /// A speed text the user typed and confirmed with Enter.
    void cbBaudRateTextConfirmed();
    /// The user left the port box after typing in it.
    void cbxNumPortEditingFinished();

    // ---- Receive dispatcher and sending --------------------------------------------
    void MSComm1Comm();
    /// Hands the gathered replies, one after another, to the handlers of their codes.
    void DispatchReplies();
    void SendToDevice(const QByteArray &bytes);
    /// The handler of each first byte of a reply; empty entries are not replies.
    std::array<std::function<void()>, 256> replyHandlers;

    // ---- Navigation -----------------------------------------------------------------
    void FormCreate();
    void FormClose();
    void ActionExitExecute();
    void ActionSoftTavelonExecute();
    void ActionBDTSExecute();
    void ActionTav2006Execute();
    void ActionFileExecute();
    void RzPageControl1Change();
    void lbLoadPOInTavMouseMove(TLinkLabel *label);
    void lbLoadPOInTavMouseLeave(TLinkLabel *label);
    /// Shows a page's tab for good and makes the page active.
    void ShowPage(int index);

    // ---- One exchange on the line at a time ----------------------------------------
    /// A database exchange or an upload (from its start until the instrument has
    /// restarted and answered) owns the line: nothing else may send, probe, change the
    /// port or its speed, or empty what the line gathers.
    bool LineBusy() const;
    /// An upload owns the line, from its start until the instrument has answered.
    bool UploadRunning() const;
    /// Why another request must wait, for the status line; empty while the line is free.
    QString LineBusyText() const;

    // ---- Reprogramming procedure (nothing happens while the firmware frame is absent) --
    void DisarmProgSteps();
    void ArmProgSteps();
    void UpdateProgStep();
    void ProgLinkLost();     ///< the line is absent on the firmware page
    void ProgLinkReturned(); ///< the line has come back on the firmware page
    void ProgStepRefresh();  ///< after every link update: step display and cancel check
    void StartProgTav_TimerTimer();
    void ReplyProgramStarted(); // 'L'
    /// A minute without a sign of the instrument after the image was sent.
    void ProgSilence_TimerTimer();
    QTimer *ProgSilence_Timer = nullptr;
    static constexpr int progSilenceMs = 60000;

    // ---- Test-system database ------------------------------------------------------
    /// Asks the instrument for its database; the replies 'R' and 'r' read it page by page.
    void RequestDatabase();

    // ---- Reader page -----------------------------------------------------------------
    void SetUpGrid();

    // ---- Measurement data: optical densities, spreadsheet, results protocol ---------
    /// The last complete table, as received, its code byte replaced by a blank; the
    /// only copy that is saved or exported. Emptied when a new table is requested.
    QByteArray odTableText;
    QString excelTempPath;          ///< the transfer file of "Данные в Excel"
    TOleContainer *OleContainer1 = nullptr;
    qint32 protocolLength = 0;      ///< length of the awaited 'd' reply, code and last byte included; 0: none awaited
    // How many of these replies our requests still await. The protocol has no
    // checksums: a reply nobody asked for is line noise and is dropped, so that it can
    // never replace a table or write a file. A lost link forgets them all.
    int odTablesAwaited = 0;        ///< 'D' after 'G'
    int odFileNamesAwaited = 0;     ///< '2' after 'D'
    int protocolLengthsAwaited = 0; ///< 'N' after 'g'
    void ForgetAwaitedReplies();
    QByteArray protocolBuffer;      ///< the protocol received last, code page 1251 bytes
    QString protocolFileName;       ///< name of the last automatic protocol save
    static const QString protocolWorkFile; ///< "MSTempProtokol.txt" in the program folder
    static const QString excelTempFile;    ///< "TempBDTS.xls" in the program folder

    void btnReadOPClick();
    void btnSaveOPClick();
    void btnCreateExcelClick();
    void btnFileToExcelClick();
    void ReplyODMeasured();   // 'G'
    void ReplyODTable();      // 'D'
    void ReplyODFileName();   // '2'
    void btnReadProtokolClick();
    void btnSaveProtokolClick();
    void btnClrMemo1Click();
    void ReplyResultsReady(); // 'g'
    void ReplyProtocolLength(); // 'N'
    void ReplyProtocolText();   // 'd'
    void RequestODTable();          // the request of the button and of automatic reception
    void RequestProtocol();         // the automatic request after a 'g' notice
    void ClearODValues();           // the grid's value cells; captions stay
    void SaveProtocolAutomatically();

    /// Runs a handler; an error it does not catch goes to the error box and the
    /// program goes on with the state as the handler left it.
    void Guarded(const std::function<void()> &handler);
    /// The one place where unexpected errors are shown.
    void ReportError(const QString &text);
    TDialogs *dialogs() const { return m_dialogs; }

    static constexpr int groupBarWidth = 137; ///< px, until the user moves the splitter

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void CreateComponents();     // the window's layout, captions and hints
    void CreateStartPage();
    void CreatePortGroup();
    void CreateReaderPage();
    void CreateResultPage();
    void ConnectHandlers();
    void BuildReplyTable();
    void DiscoverPorts();
    void SetLinkControlsEnabled(bool enabled);
    void SetPortFromBox();
    void OpenChosenPort();
    void ConnectProgSteps();
    void StopContactSearch();
    /// The speed request of a page, skipped while the line is busy.
    void RequestTopSpeedUnlessExchanging();
    /// A database exchange or an upload began or ended: the port group follows, and
    /// what waited for the line goes once it is free.
    void LineClaimChanged();
    /// While the line is busy the port group's controls stay disabled, whatever the
    /// handlers that run meanwhile decide for them.
    void ApplyLineGate();
    /// The line has become free: what waited for it goes now.
    void LineFreed();
    /// A notice 'G' or 'g': its status, and the automatic request when its box is ticked.
    void MeasurementNotice(const QString &status, const QCheckBox *automatic, bool &deferred,
                           void (TFormMainLoritS_D7::*request)());
    /// Arriving on the firmware page: the port at 115200 on this side, the procedure armed.
    void EnterFirmwarePage();
    bool m_autoTableDeferred = false;    ///< a 'G' notice came while the line was busy
    bool m_autoProtocolDeferred = false; ///< a 'g' notice came while the line was busy
    void UpdateClock();

    TDialogs *m_dialogs = nullptr;
    int m_lastPage = 0;
    bool m_splitterPlaced = false;
};
