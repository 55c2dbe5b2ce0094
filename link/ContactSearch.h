#pragma once
// The contact search and the speed change: an exchange that probes one speed after the
// other with 'B' until the instrument answers, tells it the speed asked for with 'b' and
// the speed's index, and looks for it again there. It holds the line while it searches,
// so that a request made meanwhile waits for it; a search stopped by "Стоп" or by the
// line's loss drops what waited. Unlike the other exchanges it never waits: it starts at
// once on a free line, starts again when it runs already, and is refused under another
// exchange.

#include "link/Exchange.h"

class QTimer;
class TLine;

class TContactSearch : public TExchange
{
    Q_OBJECT
public:
    /// Searching: the timer probes one speed after the other. SpeedChanging: the
    /// instrument was told its new speed and the search starts again shortly. Halted: the
    /// line dropped under the search, which waits for "Стоп" (the button keeps its caption).
    enum class TState { Idle, Searching, SpeedChanging, Halted };
    Q_ENUM(TState)

    static constexpr int probeIntervalMs = 200; ///< between two ticks of the search
    static constexpr int restartDelayMs = 100;  ///< after the speed command, before the next search

    explicit TContactSearch(TLine &line);

    TState state() const { return m_state; }
    /// A search or the speed change it leads to holds the line.
    bool running() const override { return m_state == TState::Searching || m_state == TState::SpeedChanging; }
    /// From "Контакт" until the instrument has answered or "Стоп" was pressed: a search
    /// halted by the line's loss is still active.
    bool contactSearchActive() const { return m_state != TState::Idle; }
    /// The instrument answered the last probe at the port's speed.
    bool contactEstablished() const { return m_contactEstablished; }
    /// The speed index the search probes now (the port's).
    quint8 baudIndex() const { return m_baudIndex; }
    /// The speed asked for, carried out at the next contact.
    quint8 targetBaudIndex() const { return m_targetBaudIndex; }
    bool speedChangeRequested() const { return m_speedChangeRequested; }
    /// Another port was chosen and no contact has been made on it yet.
    bool portChangePending() const { return m_portChangePending; }

    // ---- What the user and the pages ask ---------------------------------------------
    void StartContact();
    /// A page of work asks for 115200; not while another exchange holds the line.
    void RequestTopSpeed();
    /// "Контакт": a search starts; "Стоп": it ends.
    void ToggleContact();
    /// "?": one probe, its answer shown in the status line.
    void VerifyContact();
    /// The user chose the speed of this entry of `baudRates`; false when it is refused.
    bool ChangeSpeed(int index);
    /// The search ends where it is and lets the port be chosen again.
    void StopContactSearch();
    /// Another port was opened: no contact stands on it.
    void PortChanged();
    /// The instrument answered 'B', to a probe of the search or to "?".
    void ContactReplyReceived();

    // ---- The exchange -------------------------------------------------------------------
    void cancel() override { StopContactSearch(); }
    TAwaited awaits(char code) const override;
    void reply(char code, const QByteArray &bytes, qsizetype behind) override;
    void lineLost() override;
    void lineBack() override {}
    /// Another exchange takes the line from a search halted by the line's loss: it ends.
    void Reset();

    // ---- Timers -------------------------------------------------------------------------
    QTimer *DefSetComm_Timer = nullptr;
    QTimer *SendCommand_Timer = nullptr;
    void DefSetComm_TimerTimer();
    void SendCommand_TimerTimer();

private:
    void SetState(TState state);
    /// The search ended: the line is free for what waited, or, when the instrument was
    /// not found, what waited is dropped, told after `why`.
    void EndSearch(bool found, const QString &why);
    void StopTimers();
    /// Another exchange holds the line: the search neither probes nor changes the speed.
    bool UnderAnotherExchange() const;
    /// The same, said on the status line with the holder's words.
    bool RefusedUnderAnotherExchange();

    TLine &m_line;
    TState m_state = TState::Idle;
    quint8 m_baudIndex = 0;
    quint8 m_targetBaudIndex = 0;
    bool m_speedChangeRequested = false;
    bool m_probeDue = false;
    bool m_contactEstablished = false;
    bool m_portChangePending = false;
};
