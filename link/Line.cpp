#include "link/Line.h"

#include "link/CommError.h"
#include "link/Exchange.h"
#include "link/PortNames.h"
#include "link/ReplyTable.h"
#include "link/TMSComm.h"

#include <QTimer>

#include <utility>

int TLine::comNumberOf(const QString &text)
{
    if (text.size() != 4 || !text.startsWith(QLatin1String("COM")))
        return 0;
    const int n = text.at(3).digitValue();
    return (n >= 1 && n <= 4) ? n : 0;
}

QString TLine::SettingsAt(int index)
{
    return baudRates[size_t(index)] + QStringLiteral(",n,8,1");
}

const std::array<QString, 6> TLine::baudRates = [] {
    std::array<QString, 6> texts;
    for (size_t i = 0; i < texts.size(); ++i)
        texts[i] = QString::number(wire::speeds[i]);
    return texts;
}();

TLine::TLine(TSerialBackend *backend, TReceiveDispatcher::Guard guard, QObject *parent)
    : QObject(parent), dispatcher(guard), m_guard(std::move(guard))
{
    if (!m_guard)
        m_guard = [](const TReceiveDispatcher::Handler &handler) { handler(); };
    MSComm1 = new TMSComm(backend, this);
    DefSetComm_Timer = new QTimer(this);
    DefSetComm_Timer->setInterval(200);
    SendCommand_Timer = new QTimer(this);
    SendCommand_Timer->setInterval(100);
    const auto on = [this](auto *sender, auto signal, void (TLine::*handler)()) {
        connect(sender, signal, this, [this, handler] { m_guard([this, handler] { (this->*handler)(); }); });
    };
    on(MSComm1, &TMSComm::OnComm, &TLine::MSComm1Comm);
    on(DefSetComm_Timer, &QTimer::timeout, &TLine::DefSetComm_TimerTimer);
    on(SendCommand_Timer, &QTimer::timeout, &TLine::SendCommand_TimerTimer);
}

TLine::~TLine() = default;

// ---- Who holds the line ---------------------------------------------------------------

void TLine::Serve(TExchange &exchange)
{
    connect(&exchange, &TExchange::runningChanged, this,
            [this, &exchange](bool running) { HoldFor(exchange.lineUser(), running); });
    connect(&exchange, &TExchange::bytesToSend, this, &TLine::SendToDevice);
}

void TLine::HoldFor(TLineUser user, bool running)
{
    if (!running) {
        lineClaim.release(user);
        return;
    }
    // An exchange that began without asking the line stops a search still under way.
    // Every exchange talks at 115200: the port goes back there from the speed the
    // search was probing, or the exchange's bytes would reach the instrument as garbage.
    if (!lineClaim.claim(user)) {
        StopContactSearch();
        if (MSComm1->PortOpen())
            SetTopSpeed();
        lineClaim.claim(user);
    }
}

void TLine::WhenLineFree(std::function<void()> request)
{
    if (lineClaim.isFree()) {
        request();
        return;
    }
    if (lineClaim.holder() == TLineUser::Contact)
        m_waitingRequest = std::move(request); // pressed twice: still one request
    Q_EMIT statusText(lineClaim.busyText());
}

void TLine::SendToDevice(const QByteArray &bytes)
{
    MSComm1->setOutput(bytes);
}

// ---- Ports --------------------------------------------------------------------------------

void TLine::DiscoverPorts(const QString &preferredPort)
{
    m_comPorts.clear();
    QStringList problems; // ports the system has and would not open
    for (int n = 1; n <= 4; ++n) {
        try {
            if (MSComm1->PortOpen())
                MSComm1->setPortOpen(false);
            MSComm1->setCommPort(n);
            MSComm1->setPortOpen(true);
            m_comPorts << n;
        } catch (const TCommError &error) {
            // A port that cannot be opened is not offered; one the system has says why.
            if (!MSComm1->backend()->deviceForComPort(n).isEmpty())
                problems << error.text();
        }
    }
    Q_EMIT portsListed();
    if (m_comPorts.isEmpty()) {
        Q_EMIT portShown(QString());
        // The link check would replace the message with "no link" at once; the user
        // must read why there is none.
        UpdateLinkState();
        Q_EMIT statusText(QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
        if (!problems.isEmpty())
            Q_EMIT portProblem(problems.join(QLatin1Char('\n')));
        return;
    }
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    if (!OpenPreferredPort(preferredPort)) {
        const QString first = QStringLiteral("COM%1").arg(m_comPorts.first());
        SetPort(first);
        OpenSetPort();
    }
    Q_EMIT portShown(MSComm1->portText());
    SetTopSpeed();
    DiscardInput();
    SetLampLit(MSComm1->CTSHolding());
    if (!LinkPresent()) {
        Q_EMIT statusText(QStringLiteral("Включите прибор или смените порт."));
        Q_EMIT searchChanged(m_search);
    }
}

bool TLine::OpenPreferredPort(const QString &port)
{
    // A port of the list, or a device the user typed last time that is plugged in.
    const int n = comNumberOf(port);
    const bool listed = n > 0 && m_comPorts.contains(n);
    if (!listed && (n > 0 || !NamesAPort(port)))
        return false;
    try {
        SetPort(port);
        MSComm1->setPortOpen(true);
    } catch (const TCommError &) {
        // Held by another program, or no longer a port: the first port is opened as
        // ever, and the port of an earlier run is not worth an error box.
        MSComm1->setCommPort(1);
        return false;
    }
    Q_EMIT portOpenChanged(true);
    return true;
}

void TLine::RefreshPorts()
{
    // An adapter plugged in since start gets its entry; the open port stays as it is,
    // and "COMn" keeps naming the same device.
    TSerialBackend *backend = MSComm1->backend();
    backend->refreshComPorts();
    m_comPorts.clear();
    for (int n = 1; n <= PortNames::comPortCount; ++n) {
        const bool open = MSComm1->PortOpen() && MSComm1->commDevice().isEmpty() && MSComm1->CommPort() == n;
        if (open || !backend->deviceForComPort(n).isEmpty())
            m_comPorts << n;
    }
    Q_EMIT portsListed();
}

QString TLine::DeviceForComPort(int n) const
{
    return MSComm1->backend()->deviceForComPort(n);
}

bool TLine::NamesAPort(const QString &text) const
{
    return comNumberOf(text) > 0 || (!text.isEmpty() && MSComm1->backend()->isSerialDevice(text));
}

bool TLine::PortChangeAllowed() const
{
    return !contactEstablished && lineClaim.isFree();
}

void TLine::ChangePort(const QString &name)
{
    if (!PortChangeAllowed() || !NamesAPort(name))
        return;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    portChangePending = true;
    SetPort(name);
    OpenSetPort();
    UpdateLinkState();
    DiscardInput();
    Q_EMIT portChanged();
}

void TLine::SetPort(const QString &name)
{
    // "COMn" names a port by its number; any other text is a device the user typed.
    if (const int n = comNumberOf(name))
        MSComm1->setCommPort(n);
    else if (MSComm1->backend()->isSerialDevice(name))
        MSComm1->setCommDevice(name);
}

void TLine::OpenSetPort()
{
    try {
        MSComm1->setPortOpen(true);
    } catch (...) {
        // The port group must not show a port or a link that is not there.
        Q_EMIT portOpenChanged(false);
        UpdateLinkState();
        throw;
    }
    Q_EMIT portOpenChanged(true);
}

bool TLine::PortChosen() const
{
    // A port of the list, one the user typed by its device, or one typed by its number
    // that opened although the list (made at start) had none.
    return !m_comPorts.isEmpty() || !MSComm1->commDevice().isEmpty() || MSComm1->PortOpen();
}

bool TLine::PortOpen() const
{
    return MSComm1->PortOpen();
}

QString TLine::PortText() const
{
    return MSComm1->portText();
}

QString TLine::OpenPortText() const
{
    return MSComm1->PortOpen() ? MSComm1->portText() : QString();
}

qint32 TLine::PortBaud() const
{
    return MSComm1->Settings().section(QLatin1Char(','), 0, 0).toInt();
}

QString TLine::PortSettings() const
{
    return MSComm1->Settings();
}

qint64 TLine::InBufferCount() const
{
    return MSComm1->InBufferCount();
}

QString TLine::LostPort() const
{
    return MSComm1->lostDevice();
}

qint64 TLine::OutBufferCount() const
{
    return MSComm1->OutBufferCount();
}

void TLine::DropUnsent()
{
    if (MSComm1->PortOpen())
        MSComm1->setOutBufferCount(0);
}

void TLine::OpenAtTopSpeed()
{
    // A contact search or a pending restart after a speed change would move the port
    // away from the firmware page's speed.
    StopContactSearch();
    if (!MSComm1->PortOpen())
        MSComm1->setPortOpen(true);
    Q_EMIT portOpenChanged(true);
    SetTopSpeed();
}

void TLine::ShowParameters()
{
    Q_EMIT parametersShown(MSComm1->Settings());
}

void TLine::SetTopSpeed()
{
    baudIndex = topSpeedIndex;
    MSComm1->setSettings(SettingsAt(topSpeedIndex));
    Q_EMIT speedShown(topSpeedIndex);
    ShowParameters();
}

// ---- The link -----------------------------------------------------------------------------

void TLine::SetLinkControlsEnabled(bool enabled)
{
    Q_EMIT linkControlsEnabled(enabled);
}

void TLine::SetLampLit(bool lit)
{
    m_linkPresent = lit;
    Q_EMIT lampLit(lit);
}

bool TLine::UpdateLinkState()
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
        Q_EMIT statusText(QStringLiteral("Нет связи с прибором"));
        Q_EMIT lineLost();
    } else {
        Q_EMIT lineBack();
    }
    Q_EMIT linkChecked();
    return LinkPresent();
}

void TLine::MSComm1Comm()
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
