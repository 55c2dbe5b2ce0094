// The contact search and the speed change: the line probes one speed after the other
// until the instrument answers 'B', tells it the speed asked for, and looks for it again
// there; a request made meanwhile waits for the end.

#include "link/Line.h"

#include "link/TMSComm.h"

#include <QTimer>

#include <utility>

void TLine::SetSearch(TContactSearch state)
{
    m_search = state;
    if (contactSearchRunning())
        lineClaim.claim(TLineUser::Contact);
    else
        lineClaim.release(TLineUser::Contact);
    Q_EMIT searchChanged(state);
}

void TLine::EndSearch(bool found)
{
    DefSetComm_Timer->stop();
    SendCommand_Timer->stop();
    std::function<void()> request = std::exchange(m_waitingRequest, {});
    SetSearch(TContactSearch::Idle);
    // Once the reply that ended the search has been dealt with.
    if (found && request)
        QMetaObject::invokeMethod(this, [this, request] { m_guard(request); }, Qt::QueuedConnection);
}

void TLine::StopContactSearch()
{
    speedChangeRequested = false;
    m_waitingRequest = {};
    EndSearch(false);
    Q_EMIT portControlsEnabled(true, LinkPresent());
}

void TLine::DiscardInput()
{
    if (MSComm1->PortOpen())
        MSComm1->Input();
    dispatcher.clear();
    MSComm1->setInBufferCount(0);
}

void TLine::StartContact()
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
        OpenSetPort();
    } catch (...) {
        m_waitingRequest = {};
        SetSearch(TContactSearch::Idle);
        throw;
    }
    if (!UpdateLinkState())
        return;
    DiscardInput();
    baudIndex = 0;
    MSComm1->setSettings(SettingsAt(0));
    probeDue = true;
    contactEstablished = false;
    SetSearch(TContactSearch::Searching);
    DefSetComm_Timer->start();
    dispatcher.clear();
    Q_EMIT portControlsEnabled(false, false);
}

void TLine::RequestTopSpeed()
{
    DefSetComm_Timer->stop();
    if (!MSComm1->PortOpen() && PortChosen())
        OpenSetPort();
    speedChangeRequested = true;
    targetBaudIndex = topSpeedIndex;
    StartContact();
}

void TLine::RequestTopSpeedUnlessExchanging()
{
    // A database exchange runs at 115200 already, and probes on its line would break
    // it: it goes on while the user looks at another page.
    if (!lineClaim.heldByExchange())
        RequestTopSpeed();
}

void TLine::DefSetComm_TimerTimer()
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
        MSComm1->setSettings(SettingsAt(baudIndex));
        probeDue = true;
    }
}

void TLine::ContactReplyReceived()
{
    // Under an exchange nobody probes: a 'B' then is noise and changes nothing; nor
    // does one while the instrument moves to its new speed, which the search then finds.
    if (lineClaim.heldByExchange() || m_search == TContactSearch::SpeedChanging)
        return;
    DefSetComm_Timer->stop();
    contactEstablished = true;
    ShowParameters();
    Q_EMIT statusText(QStringLiteral("Есть контакт с прибором"));
    Q_EMIT speedShown(baudIndex);
    portChangePending = false;
    Q_EMIT portControlsEnabled(true, true);
    if (speedChangeRequested && baudIndex != targetBaudIndex) {
        QByteArray command("b");
        command.append(char(targetBaudIndex));
        SendToDevice(command);
        speedChangeRequested = false;
        Q_EMIT statusText(QStringLiteral("Установка новой скорости обмена."));
        // The instrument takes in 'b' and its index and moves to the new speed; the
        // search starts again once it has (a timer: the window is never held up).
        SetSearch(TContactSearch::SpeedChanging);
        SendCommand_Timer->setInterval(100);
        SendCommand_Timer->start();
    } else if (m_search != TContactSearch::Idle) {
        EndSearch(true);
    }
}

void TLine::SendCommand_TimerTimer()
{
    SendCommand_Timer->stop();
    if (m_search == TContactSearch::SpeedChanging)
        StartContact();
}

void TLine::ToggleContact()
{
    if (lineClaim.heldByExchange()) {
        Q_EMIT statusText(lineClaim.busyText());
        return;
    }
    if (!MSComm1->PortOpen()) {
        // "Стоп" still ends a search that lost its port.
        StopContactSearch();
        Q_EMIT statusText(QStringLiteral("Порт отключен."));
        return;
    }
    if (m_search == TContactSearch::Idle) {
        StartContact();
        // A search that could not start (no instrument on the line) still shows "Стоп",
        // which the user presses to give up.
        if (m_search == TContactSearch::Idle)
            SetSearch(TContactSearch::Halted);
        Q_EMIT statusText(QStringLiteral("Установление контакта."));
    } else {
        // A speed asked for stays asked for: the next contact reply carries it out.
        m_waitingRequest = {};
        EndSearch(false);
        if (!contactEstablished)
            Q_EMIT statusText(QStringLiteral("Прибор не отвечает!"));
    }
}

void TLine::VerifyContact()
{
    if (lineClaim.heldByExchange()) {
        Q_EMIT statusText(lineClaim.busyText());
        return;
    }
    if (!MSComm1->PortOpen()) {
        Q_EMIT statusText(QStringLiteral("Порт отключен."));
        return;
    }
    Q_EMIT statusText(QStringLiteral("Нет контакта с прибором"));
    SendToDevice(QByteArrayLiteral("B"));
    dispatcher.clear();
}

bool TLine::ChangeSpeed(int index)
{
    if (index < 0 || index >= int(baudRates.size()))
        return false;
    if (lineClaim.heldByExchange()) {
        Q_EMIT statusText(lineClaim.busyText());
        return false;
    }
    targetBaudIndex = quint8(index);
    if (UpdateLinkState()) {
        speedChangeRequested = true;
        Q_EMIT statusText(QStringLiteral("Установление контакта с прибором."));
        StartContact();
    }
    return true;
}
