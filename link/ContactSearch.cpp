#include "link/ContactSearch.h"

#include "link/Line.h"
#include "link/TMSComm.h"

#include <QTimer>

TContactSearch::TContactSearch(TLine &line) : TExchange(TLineUser::Contact, &line), m_line(line)
{
    DefSetComm_Timer = new QTimer(this);
    DefSetComm_Timer->setInterval(probeIntervalMs);
    SendCommand_Timer = new QTimer(this);
    SendCommand_Timer->setInterval(restartDelayMs);
}

void TContactSearch::SetState(TState state)
{
    const bool wasRunning = running();
    m_state = state;
    Q_EMIT m_line.searchChanged(contactSearchActive());
    if (wasRunning != running())
        Q_EMIT runningChanged(running());
}

void TContactSearch::StopTimers()
{
    DefSetComm_Timer->stop();
    SendCommand_Timer->stop();
}

void TContactSearch::EndSearch(bool found, const QString &why)
{
    StopTimers();
    // The line starts what waited once the reply that ended the search has been dealt
    // with; a search that did not find the instrument drops it.
    if (!found && running())
        m_line.DropWaiting(why);
    SetState(TState::Idle);
}

void TContactSearch::StopContactSearch()
{
    m_speedChangeRequested = false;
    EndSearch(false, QStringLiteral("Контакт с прибором не установлен."));
    Q_EMIT m_line.portControlsEnabled(true, m_line.LinkPresent());
}

void TContactSearch::Reset()
{
    StopTimers();
    if (m_state != TState::Idle)
        SetState(TState::Idle);
    Q_EMIT m_line.portControlsEnabled(true, m_line.LinkPresent());
}

void TContactSearch::PortChanged()
{
    m_portChangePending = true;
}

void TContactSearch::StartContact()
{
    if (!m_line.PortChosen())
        return;
    if (UnderAnotherExchange())
        return; // the exchange that holds the line talks at the instrument's speed already
    if (!m_line.Running()) {
        // The line is free: the search takes it (a search that cannot start lets it go).
        m_line.Begin(*this, [this] { StartContact(); });
        return;
    }
    // A search still running stops here: if the port cannot be opened again, no tick
    // may go on probing a closed port.
    StopTimers();
    if (m_line.MSComm1->PortOpen())
        m_line.MSComm1->setPortOpen(false);
    try {
        m_line.OpenSetPort();
    } catch (...) {
        SetState(TState::Idle);
        throw;
    }
    if (!m_line.UpdateLinkState())
        return;
    m_line.DiscardInput();
    m_baudIndex = 0;
    m_line.MSComm1->setSettings(TLine::SettingsAt(0));
    m_probeDue = true;
    m_contactEstablished = false;
    SetState(TState::Searching);
    DefSetComm_Timer->start();
    Q_EMIT m_line.portControlsEnabled(false, false);
}

void TContactSearch::RequestTopSpeed()
{
    // An exchange runs at the instrument's speed already, and probes on its line would
    // break it: it goes on while the user looks at another page.
    if (UnderAnotherExchange())
        return;
    DefSetComm_Timer->stop();
    if (!m_line.PortOpen() && m_line.PortChosen())
        m_line.OpenSetPort();
    m_speedChangeRequested = true;
    m_targetBaudIndex = TLine::topSpeedIndex;
    StartContact();
}

void TContactSearch::DefSetComm_TimerTimer()
{
    if (m_state != TState::Searching)
        return;
    if (!m_line.PortOpen()) {
        // The port was lost under the search: nothing to probe, and no error box every tick.
        EndSearch(false, QStringLiteral("Порт отключен."));
        return;
    }
    if (m_probeDue) {
        // Garbage of a wrong speed may have started a "reply" of any code; the probe's
        // answer must not be appended behind it.
        m_line.DiscardInput();
        Q_EMIT bytesToSend(QByteArrayLiteral("B"));
        m_probeDue = false;
        m_line.ShowParameters();
    } else if (!m_contactEstablished) {
        m_baudIndex = m_baudIndex < 5 ? quint8(m_baudIndex + 1) : quint8(0);
        m_line.MSComm1->setSettings(TLine::SettingsAt(m_baudIndex));
        m_probeDue = true;
    }
}

TAwaited TContactSearch::awaits(char code) const
{
    return code == 'B' && m_state == TState::Searching ? TAwaited::yes() : TAwaited::no();
}

void TContactSearch::reply(char code, const QByteArray &, qsizetype)
{
    if (code == 'B')
        ContactReplyReceived();
}

void TContactSearch::ContactReplyReceived()
{
    // Under another exchange nobody probes: a 'B' then is noise and changes nothing; nor
    // does one while the instrument moves to its new speed, which the search then finds.
    TExchange *holder = m_line.Running();
    if ((holder && holder != this) || m_state == TState::SpeedChanging)
        return;
    DefSetComm_Timer->stop();
    m_contactEstablished = true;
    // The instrument talks at the port's speed: the one probed, or the one "?" went at.
    m_baudIndex = quint8(qMax(0, m_line.PortSpeedIndex()));
    m_line.SetInstrumentSpeedIndex(m_baudIndex);
    m_line.ShowParameters();
    Q_EMIT m_line.statusText(QStringLiteral("Есть контакт с прибором"));
    Q_EMIT m_line.speedShown(m_baudIndex);
    m_portChangePending = false;
    Q_EMIT m_line.portControlsEnabled(true, true);
    if (m_speedChangeRequested && m_baudIndex != m_targetBaudIndex) {
        if (!holder) {
            // "?" found the instrument while a speed was asked for: the change takes the line.
            m_line.Begin(*this, [this] { SetState(TState::SpeedChanging); });
            if (!running())
                return;
        }
        QByteArray command("b");
        command.append(char(m_targetBaudIndex));
        Q_EMIT bytesToSend(command);
        m_speedChangeRequested = false;
        m_line.SetInstrumentSpeedIndex(m_targetBaudIndex);
        Q_EMIT m_line.statusText(QStringLiteral("Установка новой скорости обмена."));
        // The instrument takes in 'b' and its index and moves to the new speed; the
        // search starts again once it has (a timer: the window is never held up).
        SetState(TState::SpeedChanging);
        SendCommand_Timer->start();
    } else if (m_state != TState::Idle) {
        EndSearch(true, {});
    }
}

void TContactSearch::SendCommand_TimerTimer()
{
    SendCommand_Timer->stop();
    if (m_state == TState::SpeedChanging)
        StartContact();
}

void TContactSearch::lineLost()
{
    // A search stops ticking and keeps "Стоп" until the user presses it. A contact stands
    // only while the instrument is there.
    StopTimers();
    m_contactEstablished = false;
    if (m_state != TState::Idle)
        SetState(TState::Halted);
}

bool TContactSearch::UnderAnotherExchange() const
{
    const TExchange *holder = m_line.Running();
    return holder && holder != this;
}

bool TContactSearch::RefusedUnderAnotherExchange()
{
    if (!UnderAnotherExchange())
        return false;
    Q_EMIT m_line.statusText(m_line.lineClaim.busyText());
    return true;
}

void TContactSearch::ToggleContact()
{
    if (RefusedUnderAnotherExchange())
        return;
    if (!m_line.PortOpen()) {
        // "Стоп" still ends a search that lost its port.
        StopContactSearch();
        Q_EMIT m_line.statusText(QStringLiteral("Порт отключен."));
        return;
    }
    if (m_state == TState::Idle) {
        StartContact();
        // A search that could not start (no instrument on the line) still shows "Стоп",
        // which the user presses to give up.
        if (m_state == TState::Idle)
            SetState(TState::Halted);
        Q_EMIT m_line.statusText(QStringLiteral("Установление контакта."));
    } else {
        // A speed asked for stays asked for: the next contact reply carries it out.
        const QString why = m_contactEstablished ? QStringLiteral("Контакт с прибором не установлен.")
                                                 : QStringLiteral("Прибор не отвечает!");
        if (!m_contactEstablished)
            Q_EMIT m_line.statusText(why);
        EndSearch(false, why);
    }
}

void TContactSearch::VerifyContact()
{
    if (RefusedUnderAnotherExchange())
        return;
    if (!m_line.PortOpen()) {
        Q_EMIT m_line.statusText(QStringLiteral("Порт отключен."));
        return;
    }
    Q_EMIT m_line.statusText(QStringLiteral("Нет контакта с прибором"));
    m_line.DiscardInput();
    m_line.SendToDevice(QByteArrayLiteral("B"));
}

bool TContactSearch::ChangeSpeed(int index)
{
    if (index < 0 || index >= int(TLine::baudRates.size()))
        return false;
    if (RefusedUnderAnotherExchange())
        return false;
    m_targetBaudIndex = quint8(index);
    if (m_line.UpdateLinkState()) {
        m_speedChangeRequested = true;
        Q_EMIT m_line.statusText(QStringLiteral("Установление контакта с прибором."));
        StartContact();
    }
    return true;
}
