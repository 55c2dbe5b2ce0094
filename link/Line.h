#pragma once
// The line to the instrument: the serial control, the contact search and the speed
// change, who holds the line now, and the receive dispatcher every reply passes. It has
// no widgets: the port group shows it through its signals, which are sent at the moment
// the change is made, so that the status texts keep their order.

#include "link/LineClaim.h"
#include "link/ReceiveDispatcher.h"

#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <functional>

class QTimer;
class TExchange;
class TMSComm;
class TSerialBackend;

class TLine : public QObject
{
    Q_OBJECT
public:
    /// Takes the backend over. `guard` runs every handler of the line's own (its timers,
    /// the port's events, the dispatcher's owners) so that an error reaches the error box.
    TLine(TSerialBackend *backend, TReceiveDispatcher::Guard guard, QObject *parent = nullptr);
    ~TLine() override;

    static const std::array<QString, 6> baudRates;
    static constexpr int topSpeedIndex = 5;

    /// Where the contact search stands. Searching: the timer probes one speed after the
    /// other. SpeedChanging: the instrument was told its new speed and the search starts
    /// again shortly. Halted: the line dropped under the search, which waits for "Стоп".
    enum class TContactSearch { Idle, Searching, SpeedChanging, Halted };

    // ---- State ----------------------------------------------------------------------
    quint8 baudIndex = 0;
    quint8 targetBaudIndex = 0;
    bool speedChangeRequested = false;
    bool probeDue = false;
    bool contactEstablished = false;
    bool portChangePending = false;
    TContactSearch contactSearch() const { return m_search; }
    /// A search or the speed change it leads to is under way.
    bool contactSearchRunning() const
    {
        return m_search == TContactSearch::Searching || m_search == TContactSearch::SpeedChanging;
    }
    /// Who owns the line: the contact search or one exchange (a database exchange, an
    /// upload, a table or a protocol).
    TLineClaim lineClaim;
    /// Gathers what the instrument sends and hands each reply to its owner.
    TReceiveDispatcher dispatcher;
    /// The exchange holds the line from its start to its end, and what it sends goes out
    /// here; one that starts while the contact search runs stops the search and puts the
    /// port back at 115200.
    void Serve(TExchange &exchange);
    /// The same for a procedure that says only whether it runs.
    void HoldFor(TLineUser user, bool running);

    // ---- Components -----------------------------------------------------------------
    TMSComm *MSComm1 = nullptr;
    QTimer *DefSetComm_Timer = nullptr;
    QTimer *SendCommand_Timer = nullptr;

    /// The instrument holds its line (the link indicator is lit).
    bool LinkPresent() const { return m_linkPresent; }
    /// A request of a page that needs the line. Free: it runs at once. Held by the
    /// contact search: it waits (the status line says so) and runs once the instrument
    /// has answered at the speed asked for; a search that is stopped or loses the line
    /// drops it. Held by an exchange: refused, with the exchange's words.
    void WhenLineFree(std::function<void()> request);
    void SendToDevice(const QByteArray &bytes);
    /// What was gathered of a reply is dropped: a new request is on its way.
    void ForgetGathered() { dispatcher.clear(); }

    // ---- Ports ------------------------------------------------------------------------
    /// Opens the port used last (`preferredPort`) when it is still there, else the
    /// first port found; at 115200, without a contact search.
    void DiscoverPorts(const QString &preferredPort = {});
    /// Looks again for the ports plugged in since; the open port stays open.
    void RefreshPorts();
    /// The numbers n of the ports "COMn" offered.
    const QList<int> &comPorts() const { return m_comPorts; }
    /// The system device behind "COMn", or an empty text.
    QString DeviceForComPort(int n) const;
    /// The port number of one of the box's own texts "COM1" … "COM4", or 0 for any
    /// other text. "COM12" is not COM1: on Windows it is a system port the backend knows
    /// by its own name, elsewhere it names nothing.
    static int comNumberOf(const QString &text);
    /// "COMn", or a system device the user typed.
    bool NamesAPort(const QString &text) const;
    /// The user may choose another port: no contact stands and the line is free.
    bool PortChangeAllowed() const;
    /// The user chose another port ("COMn" or a device): it is opened at once.
    void ChangePort(const QString &name);
    bool PortOpen() const;
    /// The port set ("COM2" or a device), open or not.
    QString PortText() const;
    /// The port that is open, or an empty text.
    QString OpenPortText() const;
    /// The speed the port is set to, in baud.
    qint32 PortBaud() const;
    /// The port's speed and framing: "115200,n,8,1".
    QString PortSettings() const;
    /// Bytes come from the instrument and not yet read.
    qint64 InBufferCount() const;
    /// The port that went away under the line and is looked for until it is back;
    /// empty when none.
    QString LostPort() const;
    /// Bytes sent and not yet gone out on the line.
    qint64 OutBufferCount() const;
    /// Drops every byte not yet gone out: none of them reaches the instrument.
    void DropUnsent();
    /// The firmware page works at 115200 on this side only: the port opened there.
    void OpenAtTopSpeed();

    // ---- Contact and speed --------------------------------------------------------------
    bool UpdateLinkState();
    void StartContact();
    void RequestTopSpeed();
    /// The speed request of a page, skipped while an exchange owns the line.
    void RequestTopSpeedUnlessExchanging();
    void ContactReplyReceived(); // 'B'
    void DiscardInput();
    void StopContactSearch();
    /// "Контакт": a search starts; "Стоп": it ends.
    void ToggleContact();
    /// "?": one probe, its answer shown in the status line.
    void VerifyContact();
    /// The user chose the speed of this entry of `baudRates`; false when it is refused.
    bool ChangeSpeed(int index);

    // ---- Handlers ----------------------------------------------------------------------
    void DefSetComm_TimerTimer();
    void SendCommand_TimerTimer();
    void MSComm1Comm();

Q_SIGNALS:
    /// For the status line, in the order the changes happen.
    void statusText(const QString &text);
    /// Why ports could not be used, for the error box.
    void portProblem(const QString &text);
    /// The controls that need the instrument follow the link indicator.
    void linkControlsEnabled(bool enabled);
    /// The link indicator: lit while the instrument holds its line.
    void lampLit(bool lit);
    /// The contact search moved: the port group's button says "Стоп" unless it is idle.
    void searchChanged(TLine::TContactSearch state);
    /// The search holds the port (false) or lets it be chosen again (true); the speed and
    /// the probe may be used again (`speedAndProbe`).
    void portControlsEnabled(bool portBox, bool speedAndProbe);
    /// The ports offered were looked for again.
    void portsListed();
    /// The port the line uses now, for the port box.
    void portShown(const QString &name);
    /// The port was opened or closed.
    void portOpenChanged(bool open);
    /// The port's speed and framing ("115200,n,8,1").
    void parametersShown(const QString &settings);
    /// The speed the instrument talks at now: an index of `baudRates`.
    void speedShown(int index);
    /// The instrument's line has dropped; what was asked of it will never come.
    void lineLost();
    /// The instrument's line has come up.
    void lineBack();
    /// After every look at the line that changed the indicator.
    void linkChecked();
    /// The user chose another port and it is open.
    void portChanged();
    /// Bytes were read from the port, before they are handed on.
    void bytesArrived(qsizetype count);

private:
    /// The port's settings at the speed of this entry of `baudRates`.
    static QString SettingsAt(int index);
    void SetLinkControlsEnabled(bool enabled);
    void SetLampLit(bool lit);
    /// Chooses and opens the port used last; false when it is gone or will not open.
    bool OpenPreferredPort(const QString &port);
    /// Sets the port a name stands for; a name that names nothing leaves it as it is.
    void SetPort(const QString &name);
    /// Opens the port set; a port that will not open is shown closed, with no link.
    void OpenSetPort();
    void ShowParameters();
    void SetTopSpeed();
    /// The list offers a port, or the user has named one that opened.
    bool PortChosen() const;
    void SetSearch(TContactSearch state);
    /// The search ended: with the instrument found at the speed asked for, a request
    /// that waited for it goes now; otherwise it is dropped.
    void EndSearch(bool found);

    TReceiveDispatcher::Guard m_guard;
    TContactSearch m_search = TContactSearch::Idle;
    bool m_linkPresent = false;
    QList<int> m_comPorts;
    std::function<void()> m_waitingRequest; ///< made during the search, run after it
};
