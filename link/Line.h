#pragma once
// The line to the instrument: the serial control and its ports, the link indicator, and
// the exchanges that talk on it. Requests queue in order and the line starts one exchange
// at a time (the contact search is one of them); it hands the exchange that runs every
// reply it awaits, the line's drop and return and the noise that came meanwhile, sends
// what it says to send, and puts its status, progress and end on the status line. It has
// no widgets: the port group shows it through its signals, which are sent at the moment
// the change is made, so that the status texts keep their order.

#include "link/LineClaim.h"
#include "link/ReceiveDispatcher.h"

#include <QList>
#include <QObject>
#include <QString>

#include <array>
#include <functional>

class TContactSearch;
class TExchange;
class TMSComm;
class TSerialBackend;

class TLine : public QObject
{
    Q_OBJECT
public:
    /// Takes the backend over. `guard` runs every handler of the line's own (its timers,
    /// the port's events, the exchanges' replies) so that an error reaches the error box.
    TLine(TSerialBackend *backend, TReceiveDispatcher::Guard guard, QObject *parent = nullptr);
    ~TLine() override;

    static const std::array<QString, 6> baudRates;
    static constexpr int topSpeedIndex = 5;

    // ---- Components -----------------------------------------------------------------
    TMSComm *MSComm1 = nullptr;
    /// The contact search and the speed change: the exchange that finds the instrument.
    TContactSearch *search = nullptr;
    /// Who holds the line now: the exchange that runs, or nobody.
    TLineClaim lineClaim;

    // ---- Exchanges ----------------------------------------------------------------------
    /// The line serves this exchange from now on: what it sends goes out while it runs,
    /// and its status, progress and end reach the status line.
    void Serve(TExchange &exchange);
    /// A request: `begin` starts the exchange once the line is free, at the instrument's
    /// speed, with nothing gathered before it. Meanwhile it waits behind the exchange that
    /// runs and those asked for before it (the status line says so). Refused when the
    /// same exchange runs or waits already, or the port is closed. `activity` names it
    /// when it is dropped ("чтение БД ТС из прибора").
    /// What a request needs besides the free line: the instrument (it is dropped when the
    /// instrument is gone), or the line alone (the firmware page's arming, which the
    /// instrument's absence does not stop).
    enum class TNeeds { Instrument, Line };
    bool Submit(TExchange &exchange, const QString &activity, std::function<void()> begin,
                TNeeds needs = TNeeds::Instrument);
    /// A request the instrument's notice makes: it goes like `Submit`, and also when the
    /// same exchange runs (the instrument has something newer than what it fetches);
    /// it says nothing when it must wait.
    void SubmitAfterNotice(TExchange &exchange, const QString &activity, std::function<void()> begin);
    /// A request that waits is taken back; it is not told.
    void Withdraw(TExchange &exchange);
    /// The exchange that holds the line; none while it is free.
    TExchange *Running() const { return m_running; }
    /// Whether a request of this exchange waits for the line.
    bool Waiting(const TExchange &exchange) const;
    /// Whether a reply handler of an exchange is running: a modal box must not open now
    /// (the port would not signal what arrives until it is closed).
    bool InReceiveHandler() const { return m_receiveDepth > 0; }
    /// Nothing received is gathered or being heard out.
    bool ReceiveIdle() const { return dispatcher.idle(); }
    /// A reply that ends with a pause is arriving.
    bool AwaitingPause() const { return dispatcher.awaitingPause(); }
    /// Bytes for the instrument that belong to no exchange: the probe of "?".
    void SendToDevice(const QByteArray &bytes);

    /// The instrument holds its line (the link indicator is lit).
    bool LinkPresent() const { return m_linkPresent; }

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
    /// The index of the port's speed in `baudRates`; -1 for a speed not there.
    int PortSpeedIndex() const;
    /// The speed index the instrument talks at, as far as the line knows: where the last
    /// contact found it, or where the speed command sent it; 115200 at start.
    int InstrumentSpeedIndex() const { return m_instrumentSpeed; }
    void SetInstrumentSpeedIndex(int index) { m_instrumentSpeed = index; }

    // ---- The link -----------------------------------------------------------------------
    bool UpdateLinkState();
    /// Empties the receive queue and what was gathered.
    void DiscardInput();
    /// The list offers a port, or the user has named one that opened.
    bool PortChosen() const;
    /// Opens the port set; a port that will not open is shown closed, with no link.
    void OpenSetPort();

    // ---- Handlers ----------------------------------------------------------------------
    void MSComm1Comm();

Q_SIGNALS:
    /// For the status line, in the order the changes happen.
    void statusText(const QString &text);
    /// For the progress bar: the exchange that runs.
    void progress(int percent);
    /// Why ports could not be used, for the error box.
    void portProblem(const QString &text);
    /// The controls that need the instrument follow the link indicator.
    void linkControlsEnabled(bool enabled);
    /// The link indicator: lit while the instrument holds its line.
    void lampLit(bool lit);
    /// The contact search moved: the port group's button says "Стоп" unless it is idle.
    void searchChanged(bool active);
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
    /// A notice of the instrument that no running exchange awaited ('G', 'g', 'L', 'B').
    void notice(char code);
    /// The instrument's line has dropped; `interrupted` ran then and has heard of it.
    void lineLost(const TExchange *interrupted);
    /// The instrument's line has come up; `running` holds the line and has heard of it.
    void lineBack(const TExchange *running);
    /// After every look at the line that changed the indicator.
    void linkChecked();
    /// The user chose another port and it is open.
    void portChanged();

private:
    struct TRequest
    {
        TExchange *exchange;
        QString activity;
        std::function<void()> begin;
        TNeeds needs;
    };
    /// The port's settings at the speed of this entry of `baudRates`.
    static QString SettingsAt(int index);
    void SetLinkControlsEnabled(bool enabled);
    void SetLampLit(bool lit);
    /// Chooses and opens the port used last; false when it is gone or will not open.
    bool OpenPreferredPort(const QString &port);
    /// Sets the port a name stands for; a name that names nothing leaves it as it is.
    void SetPort(const QString &name);
    void ShowParameters();
    void SetTopSpeed();

    // The exchange that runs.
    friend class TContactSearch;
    /// Starts an exchange on the free line.
    void Begin(TExchange &exchange, const std::function<void()> &begin);
    void ExchangeRunningChanged(TExchange &exchange, bool running);
    void Ended(TExchange &exchange);
    /// The next request that waits, once the handler that freed the line is over.
    void StartNextSoon();
    void StartNext();
    /// The requests that wait will not run: the status line names them after `reason`.
    void DropWaiting(const QString &reason);
    void RouteReplies();
    /// Runs a handler of received bytes (the port's event, the dispatcher's timers).
    void Receiving(const TReceiveDispatcher::Handler &handler);

    TReceiveDispatcher dispatcher;
    TReceiveDispatcher::Guard m_guard;
    TExchange *m_running = nullptr;
    QList<TRequest> m_waiting;
    bool m_nextDue = false;
    int m_receiveDepth = 0;
    bool m_linkPresent = false;
    int m_instrumentSpeed = topSpeedIndex;
    QList<int> m_comPorts;
};
