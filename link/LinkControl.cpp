#include "link/LinkControl.h"

#include "common/FontScale.h"
#include "common/PageHost.h"
#include "link/CommError.h"
#include "link/Exchange.h"
#include "link/PortBox.h"
#include "link/PortNames.h"
#include "link/ReplyTable.h"
#include "link/TMSComm.h"
#include "link/TrafficLogWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>

#include <utility>

namespace {
const QString settingsTail = QStringLiteral(",n,8,1");
// px at the design font
constexpr int portBoxWidth = 70, parametersWidth = 150, speedBoxWidth = 72, verifyButtonWidth = 26;
constexpr int portBoxChrome = 34;      ///< the box's frame and arrow beside its text
constexpr int portBoxWidestPath = 300; ///< a longer path shows whole in the hint

QIcon linkIndicatorIcon()
{
    // Two glyphs: a lit lamp while the instrument holds its line, a dark one otherwise.
    const auto lamp = [](const QColor &color) {
        QPixmap pixmap(16, 16);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QColor(60, 60, 60));
        painter.setBrush(color);
        painter.drawEllipse(2, 2, 12, 12);
        return pixmap;
    };
    QIcon icon;
    icon.addPixmap(lamp(QColor(40, 210, 60)), QIcon::Normal);
    icon.addPixmap(lamp(QColor(120, 120, 120)), QIcon::Disabled);
    return icon;
}
} // namespace

namespace {
/// The port number of one of the box's own texts "COM1" … "COM4", or 0 for any other
/// text. "COM12" is not COM1: on Windows it is a system port the backend knows by its
/// own name, elsewhere it names nothing.
int comNumberOf(const QString &text)
{
    if (text.size() != 4 || !text.startsWith(QLatin1String("COM")))
        return 0;
    const int n = text.at(3).digitValue();
    return (n >= 1 && n <= 4) ? n : 0;
}
} // namespace

const std::array<QString, 6> TLinkControl::baudRates = [] {
    std::array<QString, 6> texts;
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = QString::number(wire::speeds[i]);
    return texts;
}();

TLinkControl::TLinkControl(TSerialBackend *backend, TPageHost &host, QObject *parent)
    : QObject(parent), dispatcher([&host](const TReceiveDispatcher::Handler &handler) { host.Guarded(handler); }),
      m_host(host)
{
    MSComm1 = new TMSComm(backend, this);
    DefSetComm_Timer = new QTimer(this);
    DefSetComm_Timer->setInterval(200);
    SendCommand_Timer = new QTimer(this);
    SendCommand_Timer->setInterval(100);
    CreatePortGroup();
    ConnectHandlers();
    connect(&lineClaim, &TLineClaim::changed, this, &TLinkControl::LineClaimChanged);
}

// The port group lives in the window's layout, which deletes it; a group not yet placed
// goes with the link.
TLinkControl::~TLinkControl()
{
    if (RzGroupBox1 && !RzGroupBox1->parent())
        delete RzGroupBox1.data();
}

void TLinkControl::CreatePortGroup()
{
    RzGroupBox1 = new QGroupBox(QStringLiteral("Порт связи:"));
    auto *layout = new QHBoxLayout(RzGroupBox1);
    layout->setContentsMargins(6, 0, 6, 1);
    layout->setSpacing(6);

    cbxNumPort = new TPortBox(RzGroupBox1);
    cbxNumPort->setEditable(true);
    cbxNumPort->setInsertPolicy(QComboBox::NoInsert);
    cbxNumPort->setEditText(QStringLiteral("COM1"));
    cbxNumPort->setToolTip(QStringLiteral("Выбор Com-порта."));

    cbPortOpen = new QCheckBox(QStringLiteral("выкл."), RzGroupBox1);
    cbPortOpen->setToolTip(QStringLiteral("Включение/выключение порта."));

    sbtnCommON = new QToolButton(RzGroupBox1);
    sbtnCommON->setAutoRaise(true);
    sbtnCommON->setIcon(linkIndicatorIcon());
    sbtnCommON->setToolTip(QStringLiteral("Индикатор связи."));
    // A screen reader names the lamp by its hint, which was the only words it had, and
    // reads the state as its description.
    sbtnCommON->setAccessibleName(sbtnCommON->toolTip());
    SetLampLit(false);

    lbCommParam = new QLabel(RzGroupBox1);
    lbCommParam->setToolTip(QStringLiteral("Параметры порта: скорость,биты,паритет,стоп-бит"));

    cbBaudRate = new QComboBox(RzGroupBox1);
    cbBaudRate->setEditable(true);
    cbBaudRate->setInsertPolicy(QComboBox::NoInsert);
    for (const QString &rate : baudRates)
        cbBaudRate->addItem(rate);
    cbBaudRate->setEditText(QStringLiteral("9600"));
    cbBaudRate->setToolTip(QStringLiteral("Установка новой скорости обмена."));

    btnVerifyConnect = new QPushButton(QStringLiteral("?"), RzGroupBox1);
    btnVerifyConnect->setToolTip(QStringLiteral("Проверка контакта с прибором."));
    btnConnect = new QPushButton(QStringLiteral("Контакт"), RzGroupBox1);
    btnConnect->setToolTip(QStringLiteral("Установление контакта с прибором."));

    layout->addWidget(cbxNumPort);
    layout->addWidget(cbPortOpen);
    layout->addWidget(sbtnCommON);
    layout->addWidget(lbCommParam, 1);
    layout->addWidget(cbBaudRate);
    layout->addWidget(btnVerifyConnect);
    layout->addWidget(btnConnect);
    FitToFont();
}

void TLinkControl::FitToFont()
{
    const auto px = [this](int designPx) { return fontScale::px(RzGroupBox1, designPx); };
    RzGroupBox1->setFixedHeight(px(portGroupHeight));
    cbxNumPort->setMinimumWidth(px(portBoxWidth));
    lbCommParam->setMinimumWidth(px(parametersWidth));
    cbBaudRate->setMinimumWidth(px(speedBoxWidth));
    btnVerifyConnect->setFixedWidth(px(verifyButtonWidth));
}

void TLinkControl::ConnectHandlers()
{
    const auto on = [this](auto *sender, auto signal, auto handler) { connectGuarded(m_host, sender, signal, this, handler); };
    on(MSComm1, &TMSComm::OnComm, &TLinkControl::MSComm1Comm);
    on(DefSetComm_Timer, &QTimer::timeout, &TLinkControl::DefSetComm_TimerTimer);
    on(SendCommand_Timer, &QTimer::timeout, &TLinkControl::SendCommand_TimerTimer);
    on(btnConnect, &QPushButton::clicked, &TLinkControl::btnConnectClick);
    on(btnVerifyConnect, &QPushButton::clicked, &TLinkControl::btnVerifyConnectClick);
    on(cbPortOpen, &QCheckBox::clicked, &TLinkControl::cbPortOpenClick);
    // Only a choice of the user runs the change handlers; the program's own text
    // changes do not.
    on(cbxNumPort, &QComboBox::activated, &TLinkControl::cbxNumPortChange);
    on(cbBaudRate, &QComboBox::activated, &TLinkControl::cbBaudRateChange);
    on(cbxNumPort->lineEdit(), &QLineEdit::returnPressed, &TLinkControl::cbxNumPortTextConfirmed);
    on(cbBaudRate->lineEdit(), &QLineEdit::returnPressed, &TLinkControl::cbBaudRateTextConfirmed);
    on(cbBaudRate->lineEdit(), &QLineEdit::editingFinished, &TLinkControl::cbBaudRateTextConfirmed);
    on(cbxNumPort->lineEdit(), &QLineEdit::editingFinished, &TLinkControl::cbxNumPortEditingFinished);
    on(cbxNumPort, &TPortBox::popupAboutToShow, &TLinkControl::RefreshPortList);
    connect(cbxNumPort, &QComboBox::currentTextChanged, this, &TLinkControl::ShowPortDevice);
}

void TLinkControl::ShowParameters()
{
    lbCommParam->setText(QStringLiteral("Параметры: ") + MSComm1->Settings());
}

void TLinkControl::SetTopSpeed()
{
    baudIndex = topSpeedIndex;
    MSComm1->setSettings(baudRates[topSpeedIndex] + settingsTail);
    cbBaudRate->setEditText(baudRates[topSpeedIndex]);
    ShowParameters();
}

void TLinkControl::OpenAtTopSpeed()
{
    // A contact search or a pending restart after a speed change would move the port
    // away from the firmware page's speed.
    StopContactSearch();
    if (!MSComm1->PortOpen())
        MSComm1->setPortOpen(true);
    cbPortOpen->setChecked(true);
    cbPortOpen->setText(QStringLiteral("вкл."));
    SetTopSpeed();
}

void TLinkControl::Serve(TExchange &exchange)
{
    connect(&exchange, &TExchange::runningChanged, this, [this, &exchange](bool running) {
        const TLineUser user = exchange.lineUser();
        if (!running) {
            lineClaim.release(user);
            return;
        }
        if (!lineClaim.claim(user)) {
            StopContactSearch();
            lineClaim.claim(user);
        }
    });
}

void TLinkControl::RequestTopSpeedUnlessExchanging()
{
    // A database exchange runs at 115200 already, and probes on its line would break
    // it: it goes on while the user looks at another page.
    if (!lineClaim.heldByExchange())
        RequestTopSpeed();
}

void TLinkControl::LineClaimChanged(TLineUser holder)
{
    if (lineClaim.heldByExchange()) {
        ApplyLineGate();
        return;
    }
    if (holder != TLineUser::None)
        return;
    cbxNumPort->setEnabled(true);
    for (QWidget *widget : std::initializer_list<QWidget *>{btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(LinkPresent());
}

void TLinkControl::ApplyLineGate()
{
    if (!lineClaim.heldByExchange())
        return;
    for (QWidget *widget : std::initializer_list<QWidget *>{cbxNumPort, btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(false);
}

void TLinkControl::SetSearch(TContactSearch state)
{
    m_search = state;
    // The caption follows the search: "Стоп" while one runs or waits to be stopped.
    btnConnect->setText(state == TContactSearch::Idle ? QStringLiteral("Контакт") : QStringLiteral("Стоп"));
    if (contactSearchRunning())
        lineClaim.claim(TLineUser::Contact);
    else
        lineClaim.release(TLineUser::Contact);
}

void TLinkControl::EndSearch(bool found)
{
    DefSetComm_Timer->stop();
    SendCommand_Timer->stop();
    std::function<void()> request = std::exchange(m_waitingRequest, {});
    SetSearch(TContactSearch::Idle);
    // Once the reply that ended the search has been dealt with.
    if (found && request)
        QMetaObject::invokeMethod(this, [this, request] { m_host.Guarded(request); }, Qt::QueuedConnection);
}

void TLinkControl::WhenLineFree(std::function<void()> request)
{
    if (lineClaim.isFree()) {
        request();
        return;
    }
    if (lineClaim.holder() == TLineUser::Contact)
        m_waitingRequest = std::move(request); // pressed twice: still one request
    m_host.ShowStatus(lineClaim.busyText());
}

void TLinkControl::StopContactSearch()
{
    speedChangeRequested = false;
    m_waitingRequest = {};
    EndSearch(false);
    cbxNumPort->setEnabled(true);
    cbBaudRate->setEnabled(LinkPresent());
    btnVerifyConnect->setEnabled(LinkPresent());
    ApplyLineGate();
}

void TLinkControl::MSComm1Comm()
{
    // Bytes that arrive while the instrument's line is down wait in the queue.
    if (!UpdateLinkState())
        return;
    if (MSComm1->InBufferCount() == 0)
        return;
    const QByteArray input = MSComm1->Input();
    // An empty read still counts as one byte, 0x00.
    const QByteArray piece = input.isEmpty() ? QByteArray(1, '\0') : input;
    Q_EMIT bytesArrived(piece.size());
    dispatcher.append(piece);
    // More bytes arrived meanwhile: the next event goes on gathering.
    if (MSComm1->InBufferCount() != 0)
        return;
    dispatcher.DispatchReplies();
}

void TLinkControl::SendToDevice(const QByteArray &bytes)
{
    MSComm1->setOutput(bytes);
}

void TLinkControl::DiscoverPorts(const QString &preferredPort)
{
    cbxNumPort->clear();
    QStringList problems; // ports the system has and would not open
    for (int n = 1; n <= 4; ++n) {
        try {
            if (MSComm1->PortOpen())
                MSComm1->setPortOpen(false);
            MSComm1->setCommPort(n);
            MSComm1->setPortOpen(true);
            AddPortEntry(n);
        } catch (const TCommError &error) {
            // A port that cannot be opened is not offered; one the system has says why.
            if (!MSComm1->backend()->deviceForComPort(n).isEmpty())
                problems << error.text();
        }
    }
    if (cbxNumPort->count() == 0) {
        cbxNumPort->setEditText(QString());
        // The link check would replace the message with "no link" at once; the user
        // must read why there is none.
        UpdateLinkState();
        m_host.ShowStatus(QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
        if (!problems.isEmpty())
            m_host.ReportError(problems.join(QLatin1Char('\n')));
        return;
    }
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    if (!OpenPreferredPort(preferredPort)) {
        cbxNumPort->setCurrentIndex(0);
        OpenChosenPort();
    }
    SetTopSpeed();
    DiscardInput();
    SetLampLit(MSComm1->CTSHolding());
    if (!LinkPresent()) {
        m_host.ShowStatus(QStringLiteral("Включите прибор или смените порт."));
        btnConnect->setText(QStringLiteral("Контакт"));
    }
}

bool TLinkControl::OpenPreferredPort(const QString &port)
{
    // An entry of the list, or a device the user typed last time that is plugged in.
    const int entry = port.isEmpty() ? -1 : cbxNumPort->findText(port);
    if (entry < 0 && (comNumberOf(port) > 0 || !NamesAPort(port)))
        return false;
    if (entry >= 0)
        cbxNumPort->setCurrentIndex(entry);
    else
        cbxNumPort->setEditText(port);
    try {
        SetPortFromBox();
        MSComm1->setPortOpen(true);
    } catch (const TCommError &) {
        // Held by another program, or no longer a port: the first port is opened as
        // ever, and the port of an earlier run is not worth an error box.
        MSComm1->setCommPort(1);
        return false;
    }
    cbPortOpen->setChecked(true);
    cbPortOpen->setText(QStringLiteral("вкл."));
    return true;
}

bool TLinkControl::PortOpen() const
{
    return MSComm1->PortOpen();
}

qint32 TLinkControl::PortBaud() const
{
    return MSComm1->Settings().section(QLatin1Char(','), 0, 0).toInt();
}

qint64 TLinkControl::OutBufferCount() const
{
    return MSComm1->OutBufferCount();
}

void TLinkControl::DropUnsent()
{
    if (MSComm1->PortOpen())
        MSComm1->setOutBufferCount(0);
}

TTrafficLogWindow *TLinkControl::CreateTrafficLog(TDialogs *dialogs, QWidget *parent)
{
    return new TTrafficLogWindow(MSComm1, dialogs, parent);
}

QString TLinkControl::OpenPortText() const
{
    return MSComm1->PortOpen() ? MSComm1->portText() : QString();
}

void TLinkControl::AddPortEntry(int n)
{
    const QString device = MSComm1->backend()->deviceForComPort(n);
    cbxNumPort->addItem(QStringLiteral("COM%1").arg(n), device);
    cbxNumPort->setItemData(cbxNumPort->count() - 1, portEntryText(n, device), Qt::ToolTipRole);
}

QString TLinkControl::portEntryText(int n, const QString &device)
{
    const QString com = QStringLiteral("COM%1").arg(n);
    return device.isEmpty() || device == com ? com : com + QStringLiteral(" — ") + device;
}

void TLinkControl::RefreshPortList()
{
    // An adapter plugged in since start gets its entry; the open port and the text in
    // the box stay as they are, and "COMn" keeps naming the same device.
    TSerialBackend *backend = MSComm1->backend();
    backend->refreshComPorts();
    const QString shown = cbxNumPort->currentText();
    const QSignalBlocker quiet(cbxNumPort);
    cbxNumPort->clear();
    for (int n = 1; n <= PortNames::comPortCount; ++n) {
        const bool open = MSComm1->PortOpen() && MSComm1->commDevice().isEmpty() && MSComm1->CommPort() == n;
        if (open || !backend->deviceForComPort(n).isEmpty())
            AddPortEntry(n);
    }
    cbxNumPort->setEditText(shown);
    ShowPortDevice();
}

void TLinkControl::ShowPortDevice()
{
    // The hint names the system device behind the port shown, so that two adapters
    // can be told apart.
    const QString text = cbxNumPort->currentText().trimmed();
    const int n = comNumberOf(text);
    const QString device = n > 0 ? MSComm1->backend()->deviceForComPort(n) : QString();
    QString hint = QStringLiteral("Выбор Com-порта.");
    if (n > 0 && !device.isEmpty())
        hint += QLatin1Char('\n') + portEntryText(n, device);
    else if (n == 0 && !text.isEmpty())
        hint += QLatin1Char('\n') + text;
    cbxNumPort->setToolTip(hint);
    // A typed path ("/dev/serial/by-id/usb-…-if00-port0") shows whole, up to a limit.
    const int needed = cbxNumPort->fontMetrics().horizontalAdvance(text) + fontScale::px(cbxNumPort, portBoxChrome);
    cbxNumPort->setMinimumWidth(qBound(fontScale::px(cbxNumPort, portBoxWidth), needed,
                                       fontScale::px(cbxNumPort, portBoxWidestPath)));
}


void TLinkControl::SetPortFromBox()
{
    // "COMn" names a port by its number; any other text is a device the user typed.
    // A text that names nothing (typed and not confirmed) leaves the port as it is.
    const QString text = cbxNumPort->currentText();
    if (const int n = comNumberOf(text))
        MSComm1->setCommPort(n);
    else if (MSComm1->backend()->isSerialDevice(text))
        MSComm1->setCommDevice(text);
}

void TLinkControl::OpenChosenPort()
{
    try {
        SetPortFromBox();
        MSComm1->setPortOpen(true);
    } catch (...) {
        // The box and the lamp must not show a port or a link that is not there.
        cbPortOpen->setChecked(false);
        cbPortOpen->setText(QStringLiteral("выкл."));
        UpdateLinkState();
        throw;
    }
    cbPortOpen->setChecked(true);
    cbPortOpen->setText(QStringLiteral("вкл."));
}

bool TLinkControl::NamesAPort(const QString &text) const
{
    return comNumberOf(text) > 0 || (!text.isEmpty() && MSComm1->backend()->isSerialDevice(text));
}

bool TLinkControl::PortChosen() const
{
    // A port of the list, one the user typed by its device, or one typed by its number
    // that opened although the list (made at start) had none.
    return cbxNumPort->count() > 0 || !MSComm1->commDevice().isEmpty() || MSComm1->PortOpen();
}

void TLinkControl::SetLinkControlsEnabled(bool enabled)
{
    for (QWidget *widget : std::initializer_list<QWidget *>{btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(enabled);
    Q_EMIT linkControlsEnabled(enabled);
    ApplyLineGate();
}

void TLinkControl::SetLampLit(bool lit)
{
    m_linkPresent = lit;
    sbtnCommON->setEnabled(lit);
    sbtnCommON->setAccessibleDescription(lit ? QStringLiteral("связь есть") : QStringLiteral("нет связи"));
}

bool TLinkControl::UpdateLinkState()
{
    // With no port open there is no line to watch: the link is absent.
    const bool cts = MSComm1->PortOpen() && MSComm1->CTSHolding();
    if (cts && LinkPresent())
        return true;
    SetLampLit(cts);
    SetLinkControlsEnabled(cts);
    if (!cts) {
        // A search stops ticking and keeps "Стоп" until the user presses it; a request
        // that waited for it will never be sent. A contact stands only while the
        // instrument is there, and a reply it had begun can never finish: neither may
        // hold the link hostage once it is gone.
        DefSetComm_Timer->stop();
        SendCommand_Timer->stop();
        m_waitingRequest = {};
        if (m_search != TContactSearch::Idle)
            SetSearch(TContactSearch::Halted);
        contactEstablished = false;
        dispatcher.clear();
        m_host.ShowStatus(QStringLiteral("Нет связи с прибором"));
        Q_EMIT lineLost();
    } else {
        Q_EMIT lineBack();
    }
    Q_EMIT linkChecked();
    return LinkPresent();
}

void TLinkControl::DiscardInput()
{
    if (MSComm1->PortOpen())
        MSComm1->Input();
    dispatcher.clear();
    MSComm1->setInBufferCount(0);
}

void TLinkControl::StartContact()
{
    if (!PortChosen() || lineClaim.heldByExchange())
        return;
    // A search still running stops here: if the port cannot be opened again, no tick
    // may go on probing a closed port.
    DefSetComm_Timer->stop();
    SendCommand_Timer->stop();
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    try {
        OpenChosenPort();
    } catch (...) {
        m_waitingRequest = {};
        SetSearch(TContactSearch::Idle);
        throw;
    }
    if (!UpdateLinkState())
        return;
    DiscardInput();
    baudIndex = 0;
    MSComm1->setSettings(baudRates[0] + settingsTail);
    probeDue = true;
    contactEstablished = false;
    SetSearch(TContactSearch::Searching);
    DefSetComm_Timer->start();
    dispatcher.clear();
    cbxNumPort->setEnabled(false);
    cbBaudRate->setEnabled(false);
    btnVerifyConnect->setEnabled(false);
}

void TLinkControl::RequestTopSpeed()
{
    DefSetComm_Timer->stop();
    if (!MSComm1->PortOpen() && PortChosen())
        OpenChosenPort();
    speedChangeRequested = true;
    targetBaudIndex = 5;
    StartContact();
}

void TLinkControl::DefSetComm_TimerTimer()
{
    if (m_search != TContactSearch::Searching)
        return;
    if (!MSComm1->PortOpen()) {
        // The port was lost under the search: nothing to probe, and no error box every tick.
        EndSearch(false);
        return;
    }
    if (probeDue) {
        // Garbage of a wrong speed may have started a "reply" of any code; the probe's
        // answer must not be appended behind it.
        DiscardInput();
        SendToDevice(QByteArrayLiteral("B"));
        probeDue = false;
        ShowParameters();
    } else if (!contactEstablished) {
        baudIndex = baudIndex < 5 ? quint8(baudIndex + 1) : quint8(0);
        MSComm1->setSettings(baudRates[baudIndex] + settingsTail);
        probeDue = true;
    }
}

void TLinkControl::ContactReplyReceived()
{
    // Under an exchange nobody probes: a 'B' then is noise and changes nothing; nor
    // does one while the instrument moves to its new speed, which the search then finds.
    if (lineClaim.heldByExchange() || m_search == TContactSearch::SpeedChanging)
        return;
    DefSetComm_Timer->stop();
    contactEstablished = true;
    ShowParameters();
    m_host.ShowStatus(QStringLiteral("Есть контакт с прибором"));
    cbBaudRate->setEditText(baudRates[baudIndex]);
    portChangePending = false;
    cbxNumPort->setEnabled(true);
    cbBaudRate->setEnabled(true);
    btnVerifyConnect->setEnabled(true);
    if (speedChangeRequested && baudIndex != targetBaudIndex) {
        QByteArray command("b");
        command.append(char(targetBaudIndex));
        SendToDevice(command);
        speedChangeRequested = false;
        m_host.ShowStatus(QStringLiteral("Установка новой скорости обмена."));
        // The instrument takes in 'b' and its index and moves to the new speed; the
        // search starts again once it has (a timer: the window is never held up).
        SetSearch(TContactSearch::SpeedChanging);
        SendCommand_Timer->setInterval(100);
        SendCommand_Timer->start();
    } else if (m_search != TContactSearch::Idle) {
        EndSearch(true);
    }
    ApplyLineGate();
}

void TLinkControl::SendCommand_TimerTimer()
{
    SendCommand_Timer->stop();
    if (m_search == TContactSearch::SpeedChanging)
        StartContact();
}

void TLinkControl::btnConnectClick()
{
    if (lineClaim.heldByExchange()) {
        m_host.ShowStatus(lineClaim.busyText());
        return;
    }
    cbxNumPort->setEnabled(true);
    cbBaudRate->setEnabled(true);
    btnVerifyConnect->setEnabled(true);
    if (!MSComm1->PortOpen()) {
        // "Стоп" still ends a search that lost its port.
        StopContactSearch();
        m_host.ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (m_search == TContactSearch::Idle) {
        StartContact();
        // A search that could not start (no instrument on the line) still shows "Стоп",
        // which the user presses to give up.
        if (m_search == TContactSearch::Idle)
            SetSearch(TContactSearch::Halted);
        m_host.ShowStatus(QStringLiteral("Установление контакта."));
    } else {
        // A speed asked for stays asked for: the next contact reply carries it out.
        m_waitingRequest = {};
        EndSearch(false);
        if (!contactEstablished)
            m_host.ShowStatus(QStringLiteral("Прибор не отвечает!"));
    }
}

void TLinkControl::btnVerifyConnectClick()
{
    if (lineClaim.heldByExchange()) {
        m_host.ShowStatus(lineClaim.busyText());
        return;
    }
    if (!MSComm1->PortOpen()) {
        m_host.ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    m_host.ShowStatus(QStringLiteral("Нет контакта с прибором"));
    SendToDevice(QByteArrayLiteral("B"));
    dispatcher.clear();
}

void TLinkControl::cbxNumPortChange()
{
    if (contactEstablished || !lineClaim.isFree()) {
        cbxNumPort->setEditText(MSComm1->portText());
        return;
    }
    if (!NamesAPort(cbxNumPort->currentText().trimmed()))
        return;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    portChangePending = true;
    OpenChosenPort();
    UpdateLinkState();
    DiscardInput();
    Q_EMIT portChanged();
}

void TLinkControl::cbxNumPortTextConfirmed()
{
    // A typed entry of the list arrives as a choice of it; here come the other texts.
    const QString text = cbxNumPort->currentText().trimmed();
    if (cbxNumPort->findText(text) >= 0)
        return;
    // A device typed by its path is taken whatever the list holds: an adapter plugged
    // in after start, or one named by its /dev/serial/by-id/ link.
    if (NamesAPort(text)) {
        cbxNumPort->setEditText(text);
        cbxNumPortChange();
        // A port typed by hand opens without a word from the list: say which one it is.
        if (MSComm1->PortOpen() && MSComm1->portText() == text)
            m_host.ShowStatus(QStringLiteral("Открыт порт %1. %2").arg(text, LinkPresent()
                                                                            ? QStringLiteral("Связь с прибором есть")
                                                                            : QStringLiteral("Нет связи с прибором")));
        return;
    }
    cbxNumPortEditingFinished();
}

void TLinkControl::cbxNumPortEditingFinished()
{
    // Text typed and left without a choice changes nothing: the box shows the port again.
    if (cbxNumPort->count() == 0)
        return;
    // Put back once the key press is over: the box looks at the text after us.
    QMetaObject::invokeMethod(this, [this] {
        const QString shown = MSComm1->PortOpen() ? MSComm1->portText() : cbxNumPort->itemText(0);
        if (cbxNumPort->currentText() != shown && cbxNumPort->findText(cbxNumPort->currentText()) < 0)
            cbxNumPort->setEditText(shown);
    }, Qt::QueuedConnection);
}

void TLinkControl::cbBaudRateChange()
{
    const int index = cbBaudRate->findText(cbBaudRate->currentText().trimmed());
    if (index < 0 || index >= int(baudRates.size())) {
        // A typed speed that is no entry changes nothing.
        cbBaudRate->setEditText(baudRates[baudIndex]);
        return;
    }
    if (lineClaim.heldByExchange()) {
        cbBaudRate->setEditText(baudRates[baudIndex]);
        m_host.ShowStatus(lineClaim.busyText());
        return;
    }
    targetBaudIndex = quint8(index);
    if (UpdateLinkState()) {
        speedChangeRequested = true;
        m_host.ShowStatus(QStringLiteral("Установление контакта с прибором."));
        StartContact();
    }
}

void TLinkControl::cbBaudRateTextConfirmed()
{
    // A typed entry of the list arrives as a choice of it; any other text changes
    // nothing. The box looks at the text itself after this handler, so it is put back
    // only once the key press is over.
    if (cbBaudRate->findText(cbBaudRate->currentText().trimmed()) < 0) {
        QMetaObject::invokeMethod(this, [this] {
            if (cbBaudRate->findText(cbBaudRate->currentText().trimmed()) < 0)
                cbBaudRate->setEditText(baudRates[baudIndex]);
        }, Qt::QueuedConnection);
    }
}

void TLinkControl::cbPortOpenClick()
{
    cbPortOpen->setChecked(MSComm1->PortOpen());
}
