#pragma once
// The main window: the shell (menus, group bar, start page, page control, status bar,
// navigation) and the rooms it composes: the line, the pages, the database and its
// exchange. The line runs every exchange with the instrument; the rooms submit to it.

#include "app/MainShell.h"
#include "app/WindowOptions.h"
#include "common/Dialogs.h"
#include "common/PageHost.h"

#include <QMainWindow>
#include <QPointer>

#include <memory>

class TAnalysisPage;
class TArchivePage;
class TControlsPage;
class TBDTSDatabase;
class TBDTSTransfer;
class TFrameBDTS;
class TWorkPage;
class TFrameSoftTav;
class TLine;
class TReaderPage;
class TResultPage;
class TRunRecorder;
class TSerialBackend;
class TSettings;

class TFormMainLoritS_D7 : public QMainWindow, public TPageHost
{
    Q_OBJECT
public:
    /// Takes the backend over. What the first paint does not need comes right after
    /// it (`CompleteStart`).
    explicit TFormMainLoritS_D7(TSerialBackend *backend, const TWindowOptions &options = {},
                                QWidget *parent = nullptr);
    ~TFormMainLoritS_D7() override;

    static constexpr int pageStart = 0, pageSoftTav = 1, pageBDTS = 2, pageReader = 3, pageResult = 4,
                         pageAnalysis = 5, ///< beside the instrument's own: the plate analysed on the PC
                         pageArchive = 6,  ///< the runs kept
                         pageControls = 7; ///< the controls across runs
    static constexpr int groupBarWidth = 137; ///< px at the design font, until the user moves the splitter
    /// ms after showing by which the start completes even when no paint came
    static constexpr int startAtTheLatestMs = 500;

    // ---- The rooms ----------------------------------------------------------------------
    TLine *line = nullptr; ///< the line to the instrument; its port group is in the shell
    TReaderPage *readerPage = nullptr; ///< made when the start completes
    TResultPage *resultPage = nullptr; ///< made when the start completes
    TAnalysisPage *analysisPage = nullptr; ///< "Анализ планшета", made on the first visit of its page
    TRunRecorder *runRecorder = nullptr;   ///< every table, protocol and analysis into the archive; made with the pages
    TArchivePage *archivePage = nullptr;   ///< "Архив", made when the start completes
    TControlsPage *controlsPage = nullptr; ///< "Контроли": Levey–Jennings and Westgard, made when the start completes
    QPointer<TFrameSoftTav> frameSoftTav; ///< made on the first visit of its page
    QPointer<TFrameBDTS> frameBDTS;       ///< made on the first visit of its page
    TBDTSDatabase *bdtsDatabase = nullptr; ///< the database's images, records and lists
    TBDTSTransfer *bdtsTransfer = nullptr; ///< the exchange of databases with the instrument

    // ---- The shell ------------------------------------------------------------------------
    TMainShell shell;

    // ---- What the pages ask of the window ------------------------------------------------
    void ShowStatus(const QString &text) override;
    QString statusText() const;
    void SetProgress(int percent) override;
    void Guarded(const std::function<void()> &handler) override;
    /// The one place where unexpected errors are shown.
    void ReportError(const QString &text) override;
    /// The dialogs the pages use: file choices are remembered for the next run.
    TDialogs *dialogs() const override { return m_pageDialogs; }
    QWidget *dialogParent() override { return this; }
    QString programFolder() const override { return m_programFolder; }
    QString handOverFolder() const override { return m_handOverFolder; }
    QString &lastFileFolder() override { return m_lastFileFolder; }
    QString &lastFileName() override { return m_lastFileName; }
    TFileDialogState &sdlgSaveTavDat() override { return m_sdlgSaveTavDat; }
    TSettings &settings() override { return *m_settings; }
    bool isDemo() const override { return m_demo; }

    // ---- The start ------------------------------------------------------------------------
    /// What the first paint does not need: the pages that talk to the instrument (they
    /// hear its notices from the start), then the serial ports, listed and opened, and
    /// the contact search. Runs once: right after the window's first paint, at once for a
    /// window that is not shown, and before anything that needs it.
    void CompleteStart();
    bool StartCompleted() const { return m_startCompleted; }

    // ---- Navigation -----------------------------------------------------------------------
    void FormCreate();
    void FormClose();
    void ActionExitExecute();
    void ActionSoftTavelonExecute();
    void ActionBDTSExecute();
    void ActionTav2006Execute();
    void ActionFileExecute();
    void ActionTrafficLogExecute();
    /// "О программе": the program's name, version, Qt's version and the licence.
    void Action1Execute();
    void RzPageControl1Change();
    void lbLoadPOInTavMouseMove(TLinkLabel *label);
    void lbLoadPOInTavMouseLeave(TLinkLabel *label);
    /// Shows a page's tab for good and makes the page active.
    void ShowPage(int index);
    /// "Открыть раскладку..." of the analysis page starts in this folder (the demo's
    /// samples), also when the page is made later.
    void OfferLayoutsFrom(const QString &folder);
    /// The page of work behind a tab: entered, left, read and saved alike; none for the
    /// start page and the analysis page, which asks nothing of the line.
    TWorkPage *WorkPage(int index) const;
    TWorkPage *ActiveWorkPage() const { return WorkPage(m_lastPage); }

Q_SIGNALS:
    /// The pages are made and the ports listed: the window is whole.
    void startCompleted();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void CreateComponents(); // the shell's layout, captions and hints
    void CreateStartPage();
    /// The reader's and the results' pages, in the tabs the shell keeps for them.
    void CreateWorkPages();
    /// The analysis page, on the first visit of its tab.
    void CreateAnalysisPage();
    /// The start not waiting for a paint: later while an error box waits for the user.
    void CompleteStartUnlessAsking();
    void ConnectHandlers();
    void ConnectLink();
    /// The controls of the shell and the pages that need the instrument follow the link.
    void LinkControlsEnabled(bool enabled);
    void LineBack();
    /// "Тавелон" looks the default file up again: not while an image is on its way.
    void EnableTavelon(bool linkPresent);
    bool OnFirmwarePage() const;
    void UpdateClock();
    void RestoreWindowSize(); ///< the last run's size, at the window's own place
    void SaveSettings();      ///< what the next run starts from: the open port, the size

    TDialogs *m_dialogs = nullptr;
    std::unique_ptr<TSettings> m_settings;
    TDialogs *m_saveDialogs = nullptr; ///< m_dialogs, asking before a file is replaced
    TDialogs *m_pageDialogs = nullptr; ///< m_saveDialogs, remembering the folders chosen
    QString m_programFolder; ///< with its final separator
    QString m_handOverFolder, m_documentsFolder;
    QString m_layoutsFolder; ///< for the analysis page, made on its first visit
    QString m_lastFileFolder, m_lastFileName;
    TFileDialogState m_sdlgSaveTavDat;
    int m_lastPage = 0;
    bool m_splitterPlaced = false;
    bool m_errorBoxOpen = false; ///< one error box at a time
    bool m_demo = false;
    bool m_startCompleted = false;
    bool m_closed = false; ///< the window was closed: a start completed later opens no port
};
