#include "link/Line.h"

#include "link/CommError.h"
#include "link/ContactSearch.h"
#include "link/Exchange.h"
#include "link/PortNames.h"
#include "link/ReplyTable.h"
#include "link/TMSComm.h"

#include <QScopeGuard>
#include <QStringList>
#include <QTimer>

#include <algorithm>

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
    : QObject(parent), dispatcher([this](const TReceiveDispatcher::Handler &handler) { Receiving(handler); }),
      m_guard(std::move(guard))
{
    if (!m_guard)
        m_guard = [](const TReceiveDispatcher::Handler &handler) { handler(); };
    MSComm1 = new TMSComm(backend, this);
    search = new TContactSearch(*this);
    connect(MSComm1, &TMSComm::OnComm, this, [this] { Receiving([this] { MSComm1Comm(); }); });
    connect(search->DefSetComm_Timer, &QTimer::timeout, this,
            [this] { m_guard([this] { search->DefSetComm_TimerTimer(); }); });
    connect(search->SendCommand_Timer, &QTimer::timeout, this,
            [this] { m_guard([this] { search->SendCommand_TimerTimer(); }); });
    Serve(*search);
    RouteReplies();
    connect(&dispatcher, &TReceiveDispatcher::drained, this, &TLine::StartNextSoon);
}

TLine::~TLine() = default;

// ---- The exchanges -------------------------------------------------------------------------

void TLine::Serve(TExchange &exchange)
{
    connect(&exchange, &TExchange::runningChanged, this,
            [this, &exchange](bool running) { ExchangeRunningChanged(exchange, running); });
    // Only the exchange that holds the line talks on it.
    connect(&exchange, &TExchange::bytesToSend, this, [this, &exchange](const QByteArray &bytes) {
        if (m_running == &exchange)
            SendToDevice(bytes);
    });
    // An exchange that goes before the line (its page closing) leaves nothing behind here.
    connect(&exchange, &QObject::destroyed, this, [this, gone = &exchange] {
        m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                       [gone](const TRequest &request) { return request.exchange == gone; }),
                        m_waiting.end());
        if (m_running == gone) {
            m_running = nullptr;
            lineClaim.release(lineClaim.holder());
        }
    });
    connect(&exchange, &TExchange::statusText, this, &TLine::statusText);
    connect(&exchange, &TExchange::progress, this, &TLine::progress);
    connect(&exchange, &TExchange::finished, this, [this](bool, const QString &why) {
        if (!why.isEmpty())
            Q_EMIT statusText(why);
    });
}

void TLine::Receiving(const TReceiveDispatcher::Handler &handler)
{
    // What is received is handled here, and an error on the way reaches the error box
    // once this handler is over: a modal box opened inside it would stop the port from
    // signalling what arrives until the box is closed.
    ++m_receiveDepth;
    const auto done = qScopeGuard([this] { --m_receiveDepth; });
    m_guard(handler);
}

void TLine::RouteReplies()
{
    TReceiveDispatcher::TRoute route;
    route.awaits = [this](char code) { return m_running ? m_running->awaits(code) : TAwaited::no(); };
    route.reply = [this](char code, const QByteArray &bytes, qsizetype behind) {
        TExchange *const to = m_running;
        if (!to)
            return false;
        to->reply(code, bytes, behind);
        return to->takeOwnsWhatCameBehind();
    };
    route.arriving = [this](char code, qsizetype gathered) {
        if (m_running)
            m_running->arriving(code, gathered);
    };
    route.notice = [this](char code, bool behindReply) {
        if (m_running && m_running->noticeHeard(code, behindReply))
            return;
        // 'B' that no search awaited answers "?".
        if (code == 'B')
            search->ContactReplyReceived();
        Q_EMIT notice(code);
    };
    route.dropped = [this](qsizetype count) {
        if (m_running)
            m_running->disturbed(count);
    };
    dispatcher.setRoute(std::move(route));
}

bool TLine::Waiting(const TExchange &exchange) const
{
    return std::any_of(m_waiting.cbegin(), m_waiting.cend(),
                       [&exchange](const TRequest &request) { return request.exchange == &exchange; });
}

bool TLine::Submit(TExchange &exchange, const QString &activity, std::function<void()> begin, TNeeds needs)
{
    if (m_running == &exchange) {
        // Pressed twice: still one request.
        Q_EMIT statusText(TLineClaim::busyText(exchange.lineUser()));
        return false;
    }
    if (Waiting(exchange)) {
        if (m_running)
            Q_EMIT statusText(lineClaim.waitText());
        return false;
    }
    if (needs == TNeeds::Instrument && !MSComm1->PortOpen()) {
        Q_EMIT statusText(QStringLiteral("Порт отключен."));
        return false;
    }
    if (m_running || !m_waiting.isEmpty() || dispatcher.draining()) {
        m_waiting.append({&exchange, activity, std::move(begin), needs});
        // What needs the line alone waits for the exchange to end, and says so; a moment's
        // quiet after a failed exchange needs no word.
        if (m_running)
            Q_EMIT statusText(needs == TNeeds::Line ? lineClaim.busyText() : lineClaim.waitText());
        else
            StartNextSoon();
        return true;
    }
    Begin(exchange, begin);
    return true;
}

void TLine::SubmitAfterNotice(TExchange &exchange, const QString &activity, std::function<void()> begin)
{
    if (Waiting(exchange) || !MSComm1->PortOpen())
        return;
    if (m_running || !m_waiting.isEmpty() || dispatcher.draining()) {
        m_waiting.append({&exchange, activity, std::move(begin), TNeeds::Instrument});
        StartNextSoon();
        return;
    }
    Begin(exchange, begin);
}

void TLine::Withdraw(TExchange &exchange)
{
    m_waiting.erase(std::remove_if(m_waiting.begin(), m_waiting.end(),
                                   [&exchange](const TRequest &request) { return request.exchange == &exchange; }),
                    m_waiting.end());
}

void TLine::Begin(TExchange &exchange, const std::function<void()> &begin)
{
    m_running = &exchange;
    lineClaim.claim(exchange.lineUser());
    // Nothing gathered before a request can be its reply.
    dispatcher.clear();
    if (&exchange != search) {
        // A search halted by the line's loss ends here, and every exchange talks at the
        // instrument's speed, not at the one a search was probing.
        search->Reset();
        if (MSComm1->PortOpen() && PortSpeedIndex() != m_instrumentSpeed) {
            MSComm1->setSettings(SettingsAt(m_instrumentSpeed));
            Q_EMIT speedShown(m_instrumentSpeed);
            ShowParameters();
        }
    }
    try {
        begin();
    } catch (...) {
        if (m_running == &exchange && !exchange.running())
            Ended(exchange);
        throw;
    }
    // An exchange that found nothing to do at its start lets the line go at once.
    if (m_running == &exchange && !exchange.running())
        Ended(exchange);
}

void TLine::ExchangeRunningChanged(TExchange &exchange, bool running)
{
    if (running) {
        if (m_running == &exchange)
            return;
        if (!m_running || m_running == search) {
            // Started without a request (a test's shortcut, or a procedure's own step):
            // it takes the line as a request would.
            if (m_running == search)
                search->StopContactSearch();
            Begin(exchange, [] {});
            return;
        }
        // Another exchange holds the line: this one must not talk over it.
        Q_EMIT statusText(lineClaim.busyText());
        exchange.cancel();
        return;
    }
    if (m_running == &exchange)
        Ended(exchange);
}

void TLine::Ended(TExchange &exchange)
{
    if (m_running != &exchange)
        return;
    m_running = nullptr;
    lineClaim.release(exchange.lineUser());
    // What it left gathered can be no other exchange's reply. Ended by a reply, what came
    // behind that reply is still looked at, now that nothing awaits it: a notice is heard,
    // anything else goes as noise.
    if (exchange.takeAnswerInFlight())
        dispatcher.drainUntilQuiet();
    else if (!InReceiveHandler())
        dispatcher.clear();
    StartNextSoon();
}

void TLine::StartNextSoon()
{
    if (m_waiting.isEmpty() || std::exchange(m_nextDue, true))
        return;
    // Once the handler that freed the line is over: an exchange that ends and starts its
    // next step in one handler keeps its place.
    QMetaObject::invokeMethod(this, [this] {
        m_nextDue = false;
        m_guard([this] { StartNext(); });
    }, Qt::QueuedConnection);
}

void TLine::StartNext()
{
    if (m_running || m_waiting.isEmpty() || dispatcher.draining())
        return; // (the line's quiet brings the next request)
    if (!MSComm1->PortOpen())
        DropWaiting(QStringLiteral("Порт отключен."));
    else if (!LinkPresent())
        DropWaiting(QStringLiteral("Нет связи с прибором."));
    if (m_waiting.isEmpty())
        return;
    const TRequest request = m_waiting.takeFirst();
    Begin(*request.exchange, request.begin);
    if (!m_running)
        StartNext();
}

void TLine::DropWaiting(const QString &reason)
{
    if (m_waiting.isEmpty())
        return;
    QStringList activities;
    for (auto it = m_waiting.begin(); it != m_waiting.end();) {
        if (it->needs == TNeeds::Line) {
            ++it;
            continue;
        }
        activities << it->activity;
        it = m_waiting.erase(it);
    }
    if (activities.isEmpty())
        return;
    QString text = reason;
    if (!text.isEmpty())
        text += QLatin1Char(' ');
    Q_EMIT statusText(text + QStringLiteral("Не выполнено: ") + activities.join(QStringLiteral(", ")) + QLatin1Char('.'));
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
        Q_EMIT searchChanged(search->contactSearchActive());
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
    return !search->contactEstablished() && lineClaim.isFree();
}

void TLine::ChangePort(const QString &name)
{
    if (!PortChangeAllowed() || !NamesAPort(name))
        return;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    search->PortChanged();
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
    search->StopContactSearch();
    if (!MSComm1->PortOpen())
        MSComm1->setPortOpen(true);
    Q_EMIT portOpenChanged(true);
    SetTopSpeed();
}

void TLine::ShowParameters()
{
    Q_EMIT parametersShown(MSComm1->Settings());
}

int TLine::PortSpeedIndex() const
{
    const qint32 baud = PortBaud();
    for (size_t i = 0; i < wire::speeds.size(); ++i)
        if (wire::speeds[i] == baud)
            return int(i);
    return -1;
}

void TLine::DiscardInput()
{
    if (MSComm1->PortOpen())
        MSComm1->Input();
    dispatcher.clear();
    dispatcher.stopDraining();
    MSComm1->setInBufferCount(0);
}

void TLine::SetTopSpeed()
{
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
        // A reply begun can never finish, what was asked will never come and what waits
        // for the line will not run: nothing may hold the link hostage once it is gone.
        // The exchange that ran hears of it first, and says what became of it.
        TExchange *const interrupted = m_running;
        dispatcher.clear();
        Q_EMIT statusText(QStringLiteral("Нет связи с прибором"));
        if (interrupted)
            interrupted->lineLost();
        if (interrupted != search)
            search->lineLost();
        DropWaiting(QStringLiteral("Нет связи с прибором."));
        Q_EMIT lineLost(interrupted);
    } else {
        TExchange *const running = m_running;
        if (running)
            running->lineBack();
        Q_EMIT lineBack(running);
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
    dispatcher.append(piece);
    // More bytes arrived meanwhile: the next event goes on gathering.
    if (MSComm1->InBufferCount() != 0)
        return;
    dispatcher.DispatchReplies();
}
