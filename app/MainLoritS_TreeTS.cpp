#include "app/MainLoritS_TreeTS.h"

#include "app/DesktopKeys.h"
#include "app/ProgramFolder.h"
#include "app/StatusPane.h"
#include "common/FontScale.h"
#include "common/RememberingDialogs.h"
#include "common/ReplaceAskingDialogs.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "link/CommError.h"
#include "link/ContactSearch.h"
#include "link/Line.h"
#include "link/LinkControl.h"
#include "link/TrafficLogWindow.h"
#include "measure/PlateWorkbook.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopedValueRollback>
#include <QShowEvent>
#include <QStandardPaths>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

TFormMainLoritS_D7::TFormMainLoritS_D7(TSerialBackend *backend, const TWindowOptions &options,
                                       QWidget *parent)
    : QMainWindow(parent), m_dialogs(options.dialogs), m_settings(std::make_unique<TSettings>(options.settingsFile))
{
    if (!m_dialogs)
        m_dialogs = new TQtDialogs(this);
    m_saveDialogs = new TReplaceAskingDialogs(*m_dialogs, this);
    m_pageDialogs = new TRememberingDialogs(*m_saveDialogs, *m_settings, this);
    line = new TLine(backend, [this](const TReceiveDispatcher::Handler &handler) { Guarded(handler); }, this);
    // The line puts every exchange's words and progress here.
    connect(line, &TLine::statusText, this, &TFormMainLoritS_D7::ShowStatus);
    connect(line, &TLine::progress, this, &TFormMainLoritS_D7::SetProgress);
    connect(line, &TLine::portProblem, this, &TFormMainLoritS_D7::ReportError);
    shell.portGroup = new TLinkControl(*line, *this, this);
    bdtsDatabase = new TBDTSDatabase(this);
    connect(bdtsDatabase, &TBDTSDatabase::statusText, this, &TFormMainLoritS_D7::ShowStatus);
    bdtsTransfer = new TBDTSTransfer(*bdtsDatabase, *line, *this, this);
    connect(&line->lineClaim, &TLineClaim::changed, this, [this] { EnableTavelon(line->LinkPresent()); });
    CreateComponents();
    shell.desktopKeys = new TDesktopKeys(*this, options.userGuide);
    ConnectHandlers();
    ConnectLink();
    m_programFolder = options.programFolder;
    m_demo = options.demo;
    m_documentsFolder = options.documentsFolder.isEmpty()
                            ? QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation)
                            : options.documentsFolder;
    Guarded([this] { FormCreate(); });
    RestoreWindowSize();
    // A window that is not shown completes its start at once; a shown one after its
    // first paint, or at the latest after a while (started minimised, it is not painted).
    QTimer::singleShot(0, this, [this] {
        if (!isVisible())
            CompleteStartUnlessAsking();
        else
            QTimer::singleShot(startAtTheLatestMs, this, &TFormMainLoritS_D7::CompleteStartUnlessAsking);
    });
}

void TFormMainLoritS_D7::CompleteStartUnlessAsking()
{
    // An error box said before the window shows (the code page) is answered first: what
    // the ports have to say gets a box of its own then, not only the status line.
    if (m_errorBoxOpen && !m_startCompleted)
        QTimer::singleShot(startAtTheLatestMs, this, &TFormMainLoritS_D7::CompleteStartUnlessAsking);
    else
        CompleteStart();
}

void TFormMainLoritS_D7::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    // The rest of the start comes once this picture has gone to the screen.
    if (!m_startCompleted)
        QMetaObject::invokeMethod(this, &TFormMainLoritS_D7::CompleteStart, Qt::QueuedConnection);
}

void TFormMainLoritS_D7::CompleteStart()
{
    if (m_startCompleted)
        return;
    m_startCompleted = true;
    CreateWorkPages();
    if (!m_closed)
        Guarded([this] { line->DiscoverPorts(m_settings->lastPort()); });
    Q_EMIT startCompleted();
}

TFormMainLoritS_D7::~TFormMainLoritS_D7() = default;

void TFormMainLoritS_D7::Guarded(const std::function<void()> &handler)
{
    // Exceptions must never unwind through Qt's event loop: each handler stops where
    // the error struck, the error box shows it, and the program goes on.
    try {
        handler();
    } catch (const TCommError &error) {
        ReportError(error.text());
    } catch (const std::exception &error) {
        ReportError(QString::fromUtf8(error.what()));
    } catch (...) {
        ReportError(QStringLiteral("Неизвестная ошибка."));
    }
}

void TFormMainLoritS_D7::ReportError(const QString &text)
{
    // Never inside a handler of received bytes: the port would not signal what arrives
    // while the box is open. The box opens once that handler is over.
    if (line && line->InReceiveHandler()) {
        QMetaObject::invokeMethod(this, [this, text] { ReportError(text); }, Qt::QueuedConnection);
        return;
    }
    // The line goes on behind a modal box: what goes wrong before it is answered is
    // said on the status line, so that boxes never pile up one inside another.
    if (m_errorBoxOpen) {
        ShowStatus(text);
        return;
    }
    const QScopedValueRollback<bool> open(m_errorBoxOpen, true);
    m_dialogs->showError(this, text);
}

void TFormMainLoritS_D7::ConnectHandlers()
{
    const auto on = [this](auto *sender, auto signal, auto handler) { connectGuarded(*this, sender, signal, this, handler); };
    on(shell.ActionExit, &QAction::triggered, &TFormMainLoritS_D7::ActionExitExecute);
    on(shell.ActionSoftTavelon, &QAction::triggered, &TFormMainLoritS_D7::ActionSoftTavelonExecute);
    on(shell.ActionBDTS, &QAction::triggered, &TFormMainLoritS_D7::ActionBDTSExecute);
    on(shell.ActionTav2006, &QAction::triggered, &TFormMainLoritS_D7::ActionTav2006Execute);
    on(shell.ActionFile, &QAction::triggered, &TFormMainLoritS_D7::ActionFileExecute);
    on(shell.ActionTrafficLog, &QAction::triggered, &TFormMainLoritS_D7::ActionTrafficLogExecute);
    connect(shell.ActionAnalysis, &QAction::triggered, this, [this] { ShowPage(pageAnalysis); });
    connect(shell.ActionArchive, &QAction::triggered, this, [this] { ShowPage(pageArchive); });
    connect(shell.ActionControls, &QAction::triggered, this, [this] { ShowPage(pageControls); });
    on(shell.Action1, &QAction::triggered, &TFormMainLoritS_D7::Action1Execute);
    on(shell.lbLoadPOInTav, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionSoftTavelonExecute);
    on(shell.lbLoadBDTS, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionBDTSExecute);
    on(shell.lbReader, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionTav2006Execute);
    on(shell.lbProtokol, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionFileExecute);
    for (TLinkLabel *label : {shell.lbLoadPOInTav, shell.lbLoadBDTS, shell.lbReader, shell.lbProtokol}) {
        connect(label, &TLinkLabel::mouseMoved, this, [this, label] { lbLoadPOInTavMouseMove(label); });
        connect(label, &TLinkLabel::mouseLeft, this, [this, label] { lbLoadPOInTavMouseLeave(label); });
    }
    on(shell.RzPageControl1, &QTabWidget::currentChanged, &TFormMainLoritS_D7::RzPageControl1Change);

    auto *clock = new QTimer(this);
    clock->setInterval(1000);
    connect(clock, &QTimer::timeout, this, &TFormMainLoritS_D7::UpdateClock);
    clock->start();
    UpdateClock();
}

QString clockText(const QLocale &locale, const QDateTime &moment)
{
    // The user's long date and long time, without the weekday and the time zone that
    // Qt's long formats add: the pane has room for the date and the time only.
    static const QRegularExpression weekday(QStringLiteral("d{4},?\\s*|,?\\s*d{4}"));
    static const QRegularExpression zone(QStringLiteral("\\s*t+"));
    QString dateFormat = locale.dateFormat(QLocale::LongFormat);
    dateFormat.remove(weekday);
    QString timeFormat = locale.timeFormat(QLocale::LongFormat);
    timeFormat.remove(zone);
    return locale.toString(moment.date(), dateFormat.trimmed()) + QLatin1Char(' ')
           + locale.toString(moment.time(), timeFormat.trimmed());
}

void TFormMainLoritS_D7::UpdateClock()
{
    shell.RzClockStatus1->setText(clockText(QLocale(), QDateTime::currentDateTime()));
}

void TFormMainLoritS_D7::ShowStatus(const QString &text)
{
    shell.RzStatusPane1->showMessage(text);
}

QString TFormMainLoritS_D7::statusText() const
{
    return shell.RzStatusPane1->text();
}

void TFormMainLoritS_D7::SetProgress(int percent)
{
    shell.RzProgressBar1->setValue(qBound(0, percent, 100));
    // Shown while a job runs: idle, its room goes to the message.
    shell.RzProgressBar1->setVisible(shell.RzProgressBar1->value() > 0);
}

void TFormMainLoritS_D7::ConnectLink()
{
    connect(line, &TLine::linkControlsEnabled, this, &TFormMainLoritS_D7::LinkControlsEnabled);
    connect(line, &TLine::lineBack, this, &TFormMainLoritS_D7::LineBack);
    // Another port is another instrument, as far as reprogramming knows: its procedure
    // starts afresh.
    connect(line, &TLine::portChanged, this, [this] {
        if (OnFirmwarePage() && frameSoftTav && line->lineClaim.holder() != TLineUser::Upload)
            Guarded([this] { frameSoftTav->Enter(); });
    });
}

void TFormMainLoritS_D7::LinkControlsEnabled(bool enabled)
{
    for (QWidget *widget : std::initializer_list<QWidget *>{shell.lbReader, shell.lbLoadBDTS})
        widget->setEnabled(enabled);
    if (readerPage)
        readerPage->btnReadOP->setEnabled(enabled);
    for (QAction *action : {shell.ActionBDTS, shell.ActionTav2006})
        action->setEnabled(enabled);
    EnableTavelon(enabled);
    if (frameBDTS)
        frameBDTS->setButtonEnabled(frameBDTS->btnReadBDTSFromTav, enabled);
}

void TFormMainLoritS_D7::EnableTavelon(bool linkPresent)
{
    const bool enabled = linkPresent && line->lineClaim.holder() != TLineUser::Upload;
    shell.ActionSoftTavelon->setEnabled(enabled);
    shell.lbLoadPOInTav->setEnabled(enabled);
}

bool TFormMainLoritS_D7::OnFirmwarePage() const
{
    return shell.RzPageControl1->currentIndex() == pageSoftTav;
}

void TFormMainLoritS_D7::LineBack()
{
    // On the firmware page the procedure says what the line's return means.
    if (!OnFirmwarePage())
        ShowStatus(QStringLiteral("Связь с прибором есть"));
}

void TFormMainLoritS_D7::FormCreate()
{
    if (m_programFolder.isEmpty()) {
        const TProgramFolder chosen = chooseProgramFolder(
            QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        m_programFolder = chosen.folder;
        if (!chosen.problem.isEmpty())
            ReportError(chosen.problem);
    }
    if (!m_programFolder.endsWith(QLatin1Char('/')) && !m_programFolder.endsWith(QDir::separator()))
        m_programFolder += QLatin1Char('/');
    m_handOverFolder = plate::handOverFolder(m_programFolder, QCoreApplication::applicationDirPath(),
                                             m_documentsFolder);
    // The dialogs start where they were left in the last run, while that folder exists.
    m_sdlgSaveTavDat.initialDir = m_settings->dialogFolder(dialogKey::measureSave, m_handOverFolder);
    bdtsDatabase->setProgramFolder(m_programFolder);
}

void TFormMainLoritS_D7::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_splitterPlaced) {
        m_splitterPlaced = true;
        const int barWidth = fontScale::px(this, groupBarWidth);
        shell.SCSplitter1->setSizes({barWidth, shell.SCSplitter1->width() - barWidth});
    }
}

void TFormMainLoritS_D7::closeEvent(QCloseEvent *event)
{
    m_closed = true;
    Guarded([this] { SaveSettings(); });
    Guarded([this] { FormClose(); });
    QMainWindow::closeEvent(event);
}

void TFormMainLoritS_D7::FormClose()
{
    // A database transfer stops before anything else: it would go on answering the
    // instrument after the window has gone. A writing cut short says so in the error box.
    bdtsTransfer->cancel();
    // The in-memory images go next; the port closes with the control.
    bdtsDatabase->DropImages();
    if (frameSoftTav)
        frameSoftTav->DisarmProgSteps();
    line->search->DefSetComm_Timer->stop();
    line->search->SendCommand_Timer->stop();
}

void TFormMainLoritS_D7::ActionExitExecute()
{
    close();
}

void TFormMainLoritS_D7::ShowPage(int index)
{
    CompleteStart();
    if (index == pageAnalysis)
        CreateAnalysisPage(); // before its tab shows, so that it shows with it
    // Make the tab visible before it becomes current, so that it stays so for good.
    shell.RzPageControl1->tabBar()->setTabVisible(index, true);
    shell.RzPageControl1->setCurrentIndex(index);
}

void TFormMainLoritS_D7::ActionSoftTavelonExecute()
{
    if (!frameSoftTav) {
        frameSoftTav = new TFrameSoftTav(*this, *line, shell.TabShSoftTav);
        shell.TabShSoftTav->layout()->addWidget(frameSoftTav);
        frameSoftTav->PlaceFirstDivider();
    }
    ShowPage(pageSoftTav);
    frameSoftTav->LookUpDefaultFile();
}

void TFormMainLoritS_D7::ActionBDTSExecute()
{
    if (!frameBDTS) {
        frameBDTS = new TFrameBDTS(shell.TabShBDTS);
        shell.TabShBDTS->layout()->addWidget(frameBDTS);
        frameBDTS->setExchange(bdtsDatabase, bdtsTransfer, this);
        frameBDTS->setButtonEnabled(frameBDTS->btnReadBDTSFromTav, line->LinkPresent());
        // Empty while nothing is remembered: the frame then starts in FilesInTavelon.
        frameBDTS->SaveDialog.initialDir = m_settings->dialogFolder(dialogKey::databaseSave, {});
        frameBDTS->OpenDialog.initialDir = m_settings->dialogFolder(dialogKey::databaseOpen, {});
    }
    ShowPage(pageBDTS);
}

void TFormMainLoritS_D7::ActionTav2006Execute()
{
    ShowPage(pageReader);
    readerPage->SetUpGrid();
}

void TFormMainLoritS_D7::ActionFileExecute()
{
    ShowPage(pageResult);
}

void TFormMainLoritS_D7::ActionTrafficLogExecute()
{
    // A window of its own beside the main one; it listens to the line only while shown.
    if (!shell.trafficLog) {
        shell.trafficLog = shell.portGroup->CreateTrafficLog(m_saveDialogs, this);
        shell.trafficLog->setSaveFolder(m_handOverFolder);
    }
    shell.trafficLog->show();
    shell.trafficLog->raise();
    shell.trafficLog->activateWindow();
}

void TFormMainLoritS_D7::RzPageControl1Change()
{
    const int page = shell.RzPageControl1->currentIndex();
    if (page == m_lastPage)
        return;
    // However the tab was reached, its page is there.
    CompleteStart();
    if (page == pageAnalysis)
        CreateAnalysisPage();
    TWorkPage *left = WorkPage(m_lastPage);
    // A page that keeps the user for an exchange under way says so; one whose exchange
    // ended while its question was open leaves what that exchange said.
    if (left && !left->MayLeave()) {
        shell.RzPageControl1->setCurrentIndex(m_lastPage);
        if (!line->lineClaim.isFree())
            ShowStatus(line->lineClaim.busyText());
        return;
    }
    m_lastPage = page;
    if (left)
        left->Leave();
    if (TWorkPage *entered = WorkPage(page))
        entered->Enter();
}

TWorkPage *TFormMainLoritS_D7::WorkPage(int index) const
{
    switch (index) {
    case pageSoftTav: return frameSoftTav.data();
    case pageBDTS: return frameBDTS.data();
    case pageReader: return readerPage;
    case pageResult: return resultPage;
    default: return nullptr;
    }
}

void TFormMainLoritS_D7::lbLoadPOInTavMouseMove(TLinkLabel *label)
{
    label->setTextColor(palette().color(QPalette::ToolTipBase));
}

void TFormMainLoritS_D7::lbLoadPOInTavMouseLeave(TLinkLabel *label)
{
    label->setTextColor(palette().color(QPalette::Light));
}
