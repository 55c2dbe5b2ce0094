#include "app/MainLoritS_TreeTS.h"

#include "app/BDTSWindowHost.h"
#include "app/ProgramFolder.h"
#include "app/StyledWidgets.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "link/CommError.h"
#include "link/TMSComm.h"
#include "testdb/BDTSLists.h"
#include "testdb/BDTSTransfer.h"

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
#include <QShowEvent>
#include <QStandardPaths>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

const std::array<QString, 6> TFormMainLoritS_D7::baudRates{
    QStringLiteral("4800"),  QStringLiteral("9600"),  QStringLiteral("19200"),
    QStringLiteral("38400"), QStringLiteral("57600"), QStringLiteral("115200")};

TFormMainLoritS_D7::TFormMainLoritS_D7(TSerialBackend *backend, const TWindowOptions &options,
                                       QWidget *parent)
    : QMainWindow(parent), m_dialogs(options.dialogs)
{
    if (!m_dialogs)
        m_dialogs = new TQtDialogs(this);
    MSComm1 = new TMSComm(backend, this);
    bdtsLists = new TBDTSLists(this);
    connect(bdtsLists, &TBDTSLists::statusText, this, &TFormMainLoritS_D7::ShowStatus);
    progSteps = new TProgSteps(this);
    bdtsTransfer = new TBDTSTransfer(*bdtsLists, std::make_unique<TBDTSWindowHost>(*this), this);
    connect(bdtsTransfer, &TBDTSTransfer::runningChanged, this, &TFormMainLoritS_D7::LineClaimChanged);
    CreateComponents();
    BuildReplyTable();
    ConnectHandlers();
    ConnectProgSteps();
    programFolder = options.programFolder;
    Guarded([this] { FormCreate(); });
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
    m_dialogs->showError(this, text);
}

void TFormMainLoritS_D7::ConnectHandlers()
{
    const auto on = [this](auto *sender, auto signal, void (TFormMainLoritS_D7::*handler)()) {
        connect(sender, signal, this, [this, handler] { Guarded([this, handler] { (this->*handler)(); }); });
    };
    on(ActionExit, &QAction::triggered, &TFormMainLoritS_D7::ActionExitExecute);
    on(ActionSoftTavelon, &QAction::triggered, &TFormMainLoritS_D7::ActionSoftTavelonExecute);
    on(ActionBDTS, &QAction::triggered, &TFormMainLoritS_D7::ActionBDTSExecute);
    on(ActionTav2006, &QAction::triggered, &TFormMainLoritS_D7::ActionTav2006Execute);
    on(ActionFile, &QAction::triggered, &TFormMainLoritS_D7::ActionFileExecute);
    on(lbLoadPOInTav, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionSoftTavelonExecute);
    on(lbLoadBDTS, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionBDTSExecute);
    on(lbReader, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionTav2006Execute);
    on(lbProtokol, &TLinkLabel::clicked, &TFormMainLoritS_D7::ActionFileExecute);
    for (TLinkLabel *label : {lbLoadPOInTav, lbLoadBDTS, lbReader, lbProtokol}) {
        connect(label, &TLinkLabel::mouseMoved, this, [this, label] { lbLoadPOInTavMouseMove(label); });
        connect(label, &TLinkLabel::mouseLeft, this, [this, label] { lbLoadPOInTavMouseLeave(label); });
    }
    on(RzPageControl1, &QTabWidget::currentChanged, &TFormMainLoritS_D7::RzPageControl1Change);

    on(MSComm1, &TMSComm::OnComm, &TFormMainLoritS_D7::MSComm1Comm);
    on(DefSetComm_Timer, &QTimer::timeout, &TFormMainLoritS_D7::DefSetComm_TimerTimer);
    on(SendCommand_Timer, &QTimer::timeout, &TFormMainLoritS_D7::SendCommand_TimerTimer);
    on(btnConnect, &QPushButton::clicked, &TFormMainLoritS_D7::btnConnectClick);
    on(btnVerifyConnect, &QPushButton::clicked, &TFormMainLoritS_D7::btnVerifyConnectClick);
    on(cbPortOpen, &QCheckBox::clicked, &TFormMainLoritS_D7::cbPortOpenClick);
    // Only a choice of the user runs the change handlers; the program's own text
    // changes do not.
    on(cbxNumPort, &QComboBox::activated, &TFormMainLoritS_D7::cbxNumPortChange);
    on(cbBaudRate, &QComboBox::activated, &TFormMainLoritS_D7::cbBaudRateChange);
    on(cbxNumPort->lineEdit(), &QLineEdit::returnPressed, &TFormMainLoritS_D7::cbxNumPortTextConfirmed);
    on(cbBaudRate->lineEdit(), &QLineEdit::returnPressed, &TFormMainLoritS_D7::cbBaudRateTextConfirmed);
    on(cbBaudRate->lineEdit(), &QLineEdit::editingFinished, &TFormMainLoritS_D7::cbBaudRateTextConfirmed);
    on(cbxNumPort->lineEdit(), &QLineEdit::editingFinished, &TFormMainLoritS_D7::cbxNumPortEditingFinished);

    on(btnReadOP, &QPushButton::clicked, &TFormMainLoritS_D7::btnReadOPClick);
    on(btnSaveOP, &QPushButton::clicked, &TFormMainLoritS_D7::btnSaveOPClick);
    on(btnCreateExcel, &QPushButton::clicked, &TFormMainLoritS_D7::btnCreateExcelClick);
    on(btnFileToExcel, &QPushButton::clicked, &TFormMainLoritS_D7::btnFileToExcelClick);
    on(btnReadProtokol, &QPushButton::clicked, &TFormMainLoritS_D7::btnReadProtokolClick);
    on(btnSaveProtokol, &QPushButton::clicked, &TFormMainLoritS_D7::btnSaveProtokolClick);
    on(btnClrMemo1, &QPushButton::clicked, &TFormMainLoritS_D7::btnClrMemo1Click);

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
    RzClockStatus1->setText(clockText(QLocale(), QDateTime::currentDateTime()));
}

void TFormMainLoritS_D7::ShowStatus(const QString &text)
{
    RzStatusPane1->setText(text);
}

QString TFormMainLoritS_D7::statusText() const
{
    return RzStatusPane1->text();
}

void TFormMainLoritS_D7::SetProgress(int percent)
{
    RzProgressBar1->setValue(qBound(0, percent, 100));
}

void TFormMainLoritS_D7::FormCreate()
{
    DiscoverPorts();
    if (programFolder.isEmpty()) {
        const TProgramFolder chosen = chooseProgramFolder(
            QCoreApplication::applicationDirPath(),
            QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        programFolder = chosen.folder;
        if (!chosen.problem.isEmpty())
            ReportError(chosen.problem);
    }
    if (!programFolder.endsWith(QLatin1Char('/')) && !programFolder.endsWith(QDir::separator()))
        programFolder += QLatin1Char('/');
    odlgOpenFileToExcel.initialDir = programFolder;
    sdlgSaveTavDat.initialDir = programFolder;
    bdtsLists->setProgramFolder(programFolder);
}

void TFormMainLoritS_D7::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!m_splitterPlaced) {
        m_splitterPlaced = true;
        SCSplitter1->setSizes({groupBarWidth, SCSplitter1->width() - groupBarWidth});
    }
}

void TFormMainLoritS_D7::closeEvent(QCloseEvent *event)
{
    Guarded([this] { FormClose(); });
    QMainWindow::closeEvent(event);
}

void TFormMainLoritS_D7::FormClose()
{
    // A database transfer stops before anything else: it would go on answering the
    // instrument after the window has gone. A writing cut short says so in the error box.
    bdtsTransfer->Stop();
    // The in-memory images go next; the port closes with the control.
    bdtsLists->fileImage.reset();
    bdtsLists->deviceImage.reset();
    bdtsLists->addImage.reset();
    bdtsLists->sendImage.reset();
    if (frameSoftTav)
        frameSoftTav->StopTransfer();
    firmwareImage.reset();
    DefSetComm_Timer->stop();
    SendCommand_Timer->stop();
    StartProgTav_Timer->stop();
}

void TFormMainLoritS_D7::ActionExitExecute()
{
    close();
}

void TFormMainLoritS_D7::ShowPage(int index)
{
    // Make the tab visible before it becomes current, so that it stays so for good.
    RzPageControl1->tabBar()->setTabVisible(index, true);
    RzPageControl1->setCurrentIndex(index);
}

void TFormMainLoritS_D7::ActionSoftTavelonExecute()
{
    if (!frameSoftTav) {
        frameSoftTav = new TFrameSoftTav(this, TabShSoftTav);
        TabShSoftTav->layout()->addWidget(frameSoftTav);
        frameSoftTav->PlaceFirstDivider();
    }
    ShowPage(pageSoftTav);
    frameSoftTav->LookUpDefaultFile();
}

void TFormMainLoritS_D7::ActionBDTSExecute()
{
    if (!frameBDTS) {
        frameBDTS = new TFrameBDTS(TabShBDTS);
        TabShBDTS->layout()->addWidget(frameBDTS);
        bdtsLists->setFrame(frameBDTS);
        frameBDTS->setExchange(bdtsLists, bdtsTransfer);
        frameBDTS->setButtonEnabled(frameBDTS->btnReadBDTSFromTav, sbtnCommON->isEnabled());
    }
    ShowPage(pageBDTS);
}

void TFormMainLoritS_D7::ActionTav2006Execute()
{
    ShowPage(pageReader);
    SetUpGrid();
}

void TFormMainLoritS_D7::ActionFileExecute()
{
    ShowPage(pageResult);
}

void TFormMainLoritS_D7::RzPageControl1Change()
{
    const int page = RzPageControl1->currentIndex();
    if (page == m_lastPage)
        return;
    m_lastPage = page;
    DisarmProgSteps();
    switch (page) {
    case pageSoftTav:
        if (LineBusy()) {
            // A database exchange goes on: the procedure starts once it has ended.
            ShowStatus(LineBusyText());
            break;
        }
        EnterFirmwarePage();
        break;
    case pageBDTS:
    case pageResult:
        RequestTopSpeedUnlessExchanging();
        break;
    case pageReader:
        RequestTopSpeedUnlessExchanging();
        SetUpGrid();
        break;
    default:
        break;
    }
}

void TFormMainLoritS_D7::EnterFirmwarePage()
{
    // The page works at 115200 on this side only: a contact search or a pending
    // restart after a speed change would move the port away from it.
    StopContactSearch();
    if (!MSComm1->PortOpen())
        MSComm1->setPortOpen(true);
    ArmProgSteps();
    cbPortOpen->setChecked(true);
    cbPortOpen->setText(QStringLiteral("вкл."));
    baudIndex = 5;
    MSComm1->setSettings(baudRates[5] + QStringLiteral(",n,8,1"));
    cbBaudRate->setEditText(baudRates[5]);
    lbCommParam->setText(QStringLiteral("Параметры: ") + MSComm1->Settings());
    UpdateProgStep();
}

void TFormMainLoritS_D7::lbLoadPOInTavMouseMove(TLinkLabel *label)
{
    label->setTextColor(palette().color(QPalette::ToolTipBase));
}

void TFormMainLoritS_D7::lbLoadPOInTavMouseLeave(TLinkLabel *label)
{
    label->setTextColor(palette().color(QPalette::Light));
}

void TFormMainLoritS_D7::RequestTopSpeedUnlessExchanging()
{
    // A database exchange runs at 115200 already, and probes on its line would break
    // it: it goes on while the user looks at another page.
    if (!LineBusy())
        RequestTopSpeed();
}

bool TFormMainLoritS_D7::UploadRunning() const
{
    return frameSoftTav && progSteps->uploadStarted;
}

bool TFormMainLoritS_D7::LineBusy() const
{
    return bdtsTransfer->running() || UploadRunning();
}

QString TFormMainLoritS_D7::LineBusyText() const
{
    if (bdtsTransfer->running())
        return QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания.");
    if (UploadRunning())
        return QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания.");
    return {};
}

void TFormMainLoritS_D7::LineClaimChanged()
{
    if (LineBusy()) {
        // Nothing may change the port or its speed, or probe, under an exchange; a
        // contact search still running would do all three.
        StopContactSearch();
        return;
    }
    cbxNumPort->setEnabled(true);
    for (QWidget *widget : std::initializer_list<QWidget *>{btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(sbtnCommON->isEnabled());
    // A write ends and its read-back begins in one handler: look once it is over.
    QMetaObject::invokeMethod(this, [this] { Guarded([this] { LineFreed(); }); }, Qt::QueuedConnection);
}

void TFormMainLoritS_D7::ApplyLineGate()
{
    if (!LineBusy())
        return;
    for (QWidget *widget : std::initializer_list<QWidget *>{cbxNumPort, btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(false);
}

void TFormMainLoritS_D7::MeasurementNotice(const QString &status, const QCheckBox *automatic, bool &deferred,
                                           void (TFormMainLoritS_D7::*request)())
{
    // A notice is its own byte; what follows it is the next reply.
    replyBuffer.remove(0, 1);
    if (UploadRunning())
        return; // the loader sends no notices: this is noise
    btnReadOP->setEnabled(true);
    ShowStatus(status);
    if (!automatic->isChecked())
        return;
    // Automatic reception waits for a database exchange to end.
    if (LineBusy())
        deferred = true;
    else
        (this->*request)();
}

void TFormMainLoritS_D7::LineFreed()
{
    if (LineBusy())
        return;
    if (RzPageControl1->currentIndex() == pageSoftTav && frameSoftTav && !progSteps->progArmed) {
        EnterFirmwarePage();
        return;
    }
    const bool linkPresent = sbtnCommON->isEnabled();
    if (std::exchange(m_autoTableDeferred, false) && linkPresent && chckAutoReadOP->isChecked())
        RequestODTable();
    if (std::exchange(m_autoProtocolDeferred, false) && linkPresent && chckAutoReadRes->isChecked())
        RequestProtocol();
}

void TFormMainLoritS_D7::StopContactSearch()
{
    DefSetComm_Timer->stop();
    SendCommand_Timer->stop();
    deferredCommand = 0;
    speedChangeRequested = false;
    contactSearchActive = false;
    btnConnect->setText(QStringLiteral("Контакт"));
    cbxNumPort->setEnabled(true);
    cbBaudRate->setEnabled(sbtnCommON->isEnabled());
    btnVerifyConnect->setEnabled(sbtnCommON->isEnabled());
    ApplyLineGate();
}

// The reprogramming procedure: its rules live in TProgSteps; here they meet the
// window's timers, status line and the firmware frame. Until the frame exists there
// is nothing to arm, stop or refresh.
void TFormMainLoritS_D7::ConnectProgSteps()
{
    connect(progSteps, &TProgSteps::statusText, this, &TFormMainLoritS_D7::ShowStatus);
    connect(progSteps, &TProgSteps::loadButtonChanged, this, [this](bool enabled) {
        if (frameSoftTav)
            frameSoftTav->btnLoadPO->setEnabled(enabled);
    });
    connect(progSteps, &TProgSteps::loadHintChanged, this, [this](const QString &hint) {
        if (frameSoftTav)
            frameSoftTav->btnLoadPO->setToolTip(hint);
    });
    // Each power-on starts the wait afresh; a drop of the line ends it.
    connect(progSteps, &TProgSteps::powerOnWaitStarted, this, [this] { StartProgTav_Timer->start(); });
    connect(progSteps, &TProgSteps::powerOnWaitStopped, this, [this] { StartProgTav_Timer->stop(); });
    connect(progSteps, &TProgSteps::stopped, this, [this] {
        StartProgTav_Timer->stop();
        ProgSilence_Timer->stop();
        if (frameSoftTav)
            frameSoftTav->StopTransfer();
        SetProgress(0);
    });
    connect(progSteps, &TProgSteps::uploadRunningChanged, this, &TFormMainLoritS_D7::LineClaimChanged);
    // Every sign of the instrument after the image was sent starts the minute afresh.
    connect(progSteps, &TProgSteps::instrumentAwaited, this, [this] { ProgSilence_Timer->start(); });
    ProgSilence_Timer = new QTimer(this);
    ProgSilence_Timer->setSingleShot(true);
    ProgSilence_Timer->setInterval(progSilenceMs);
    connect(ProgSilence_Timer, &QTimer::timeout, this, [this] { Guarded([this] { ProgSilence_TimerTimer(); }); });
    StartProgTav_Timer->setSingleShot(true);
    StartProgTav_Timer->setInterval(TProgSteps::powerOnWaitMs);
    connect(StartProgTav_Timer, &QTimer::timeout, this,
            [this] { Guarded([this] { StartProgTav_TimerTimer(); }); });
}

void TFormMainLoritS_D7::DisarmProgSteps()
{
    if (frameSoftTav)
        progSteps->disarm();
}

void TFormMainLoritS_D7::ArmProgSteps()
{
    if (frameSoftTav)
        progSteps->arm();
}

void TFormMainLoritS_D7::UpdateProgStep()
{
    if (frameSoftTav)
        progSteps->updateStep(sbtnCommON->isEnabled());
}

void TFormMainLoritS_D7::ProgLinkLost()
{
    if (!frameSoftTav)
        return;
    // The loader may restart before the next tick has looked at the queue: a line
    // that drops after the last byte left is the restart, not a cancel.
    frameSoftTav->FinishIfSent();
    progSteps->linkLost();
}

void TFormMainLoritS_D7::ProgLinkReturned()
{
    if (frameSoftTav)
        progSteps->linkReturned();
}

void TFormMainLoritS_D7::ProgStepRefresh()
{
    if (frameSoftTav)
        progSteps->afterLinkUpdate(sbtnCommON->isEnabled());
}

void TFormMainLoritS_D7::StartProgTav_TimerTimer()
{
    StartProgTav_Timer->stop();
    if (frameSoftTav)
        progSteps->powerOnWaitEnded(sbtnCommON->isEnabled());
}

void TFormMainLoritS_D7::ReplyProgramStarted()
{
    // A notice is its own byte; what follows it is the next reply.
    replyBuffer.remove(0, 1);
    if (frameSoftTav)
        progSteps->replyL(sbtnCommON->isEnabled());
}

void TFormMainLoritS_D7::ProgSilence_TimerTimer()
{
    ProgSilence_Timer->stop();
    if (frameSoftTav)
        progSteps->instrumentSilent();
}
