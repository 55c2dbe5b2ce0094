#pragma once
// The link to the instrument: the serial control, the port group under the pages, the
// contact search and the speed change, and the receive dispatcher every reply passes.
// It tells the rest of the program what happened through signals, sent at the moment
// the change is made, so that the status texts keep their order.

#include "link/LineClaim.h"
#include "link/PortBox.h"
#include "link/ReceiveDispatcher.h"

#include <QGroupBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <array>
#include <functional>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;
class TMSComm;
class TDialogs;
class TExchange;
class TPageHost;
class TTrafficLogWindow;
class TSerialBackend;

class TLinkControl : public QObject
{
    Q_OBJECT
public:
    /// Takes the backend over. The port group is made at once; ports are looked for
    /// by DiscoverPorts.
    TLinkControl(TSerialBackend *backend, TPageHost &host, QObject *parent = nullptr);
    ~TLinkControl() override;

    static const std::array<QString, 6> baudRates;
    static constexpr int topSpeedIndex = 5;
    static constexpr int portGroupHeight = 39; ///< px at the design font

    /// The port group's drawn sizes for the font it shows; the window calls it again once
    /// the group is in place.
    void FitToFont();

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
    /// Who owns the line: the contact search, a database exchange or an upload.
    TLineClaim lineClaim;
    /// The exchange holds the line from its start to its end; one that starts while the
    /// contact search runs stops the search.
    void Serve(TExchange &exchange);
    /// Gathers what the instrument sends and hands each reply to its owner.
    TReceiveDispatcher dispatcher;

    // ---- Components -----------------------------------------------------------------
    TMSComm *MSComm1 = nullptr;
    QTimer *DefSetComm_Timer = nullptr;
    QTimer *SendCommand_Timer = nullptr;
    QPointer<QGroupBox> RzGroupBox1; ///< the port group; the window places it
    TPortBox *cbxNumPort = nullptr;
    QCheckBox *cbPortOpen = nullptr;
    QToolButton *sbtnCommON = nullptr;
    QLabel *lbCommParam = nullptr;
    QComboBox *cbBaudRate = nullptr;
    QPushButton *btnVerifyConnect = nullptr;
    QPushButton *btnConnect = nullptr;

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

    // ---- Ports, contact, speed ---------------------------------------------------------
    /// Opens the port used last (`preferredPort`) when it is still there, else the
    /// first port found; at 115200, without a contact search.
    void DiscoverPorts(const QString &preferredPort = {});
    bool PortOpen() const;
    /// The speed the port is set to, in baud.
    qint32 PortBaud() const;
    /// Bytes sent and not yet gone out on the line.
    qint64 OutBufferCount() const;
    /// Drops every byte not yet gone out: none of them reaches the instrument.
    void DropUnsent();
    /// The service window that shows every byte on this line; the caller's parent owns it.
    TTrafficLogWindow *CreateTrafficLog(TDialogs *dialogs, QWidget *parent);
    /// The port that is open ("COM2" or a device), or an empty text.
    QString OpenPortText() const;
    bool UpdateLinkState();
    void StartContact();
    void RequestTopSpeed();
    /// The speed request of a page, skipped while an exchange owns the line.
    void RequestTopSpeedUnlessExchanging();
    void ContactReplyReceived(); // 'B'
    void DiscardInput();
    void StopContactSearch();
    /// The firmware page works at 115200 on this side only: the port opened there.
    void OpenAtTopSpeed();

    // ---- Handlers ----------------------------------------------------------------------
    void btnConnectClick();
    void btnVerifyConnectClick();
    void cbxNumPortChange();
    void cbBaudRateChange();
    void cbPortOpenClick();
    void DefSetComm_TimerTimer();
    void SendCommand_TimerTimer();
    /// A port text the user typed and confirmed with Enter.
    void cbxNumPortTextConfirmed();
    /// A speed text the user typed and confirmed with Enter.
    void cbBaudRateTextConfirmed();
    /// The user left the port box after typing in it.
    void cbxNumPortEditingFinished();
    /// The user opens the port list: ports plugged in since are looked for.
    void RefreshPortList();
    void MSComm1Comm();

    // ---- One exchange on the line at a time -----------------------------------------
    /// While an exchange holds the line the port group's controls stay disabled,
    /// whatever the handlers that run meanwhile decide for them.
    void ApplyLineGate();

Q_SIGNALS:
    /// The controls that need the instrument follow the link indicator.
    void linkControlsEnabled(bool enabled);
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
    void CreatePortGroup();
    void ConnectHandlers();
    void SetLinkControlsEnabled(bool enabled);
    /// The lamp lights (enabled) while the instrument holds its line, and says so to
    /// screen readers too.
    void SetLampLit(bool lit);
    /// Chooses and opens the port used last; false when it is gone or will not open.
    bool OpenPreferredPort(const QString &port);
    void SetPortFromBox();
    void OpenChosenPort();
    void ShowParameters();
    void SetTopSpeed();
    /// "COMn", or a system device the user typed.
    bool NamesAPort(const QString &text) const;
    /// The list offers a port, or the user has named a device.
    bool PortChosen() const;
    void AddPortEntry(int n);
    static QString portEntryText(int n, const QString &device);
    /// The port box's hint names the system device behind the port shown.
    void ShowPortDevice();
    /// An exchange took the line or let it go: the port group follows.
    void LineClaimChanged(TLineUser holder);
    void SetSearch(TContactSearch state);
    /// The search ended: with the instrument found at the speed asked for, a request
    /// that waited for it goes now; otherwise it is dropped.
    void EndSearch(bool found);

    TPageHost &m_host;
    TContactSearch m_search = TContactSearch::Idle;
    bool m_linkPresent = false;
    std::function<void()> m_waitingRequest; ///< made during the search, run after it
};
