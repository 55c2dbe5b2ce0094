#pragma once
// The port group under the pages: the port box, the port switch, the link lamp, the
// port's parameters, the speed box and the contact buttons. It shows the line, and
// follows its signals; what the user does here the line carries out.

#include "link/Line.h"
#include "link/PortBox.h"

#include <QGroupBox>
#include <QObject>
#include <QPointer>
#include <QString>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QToolButton;
class QWidget;
class TDialogs;
class TPageHost;
class TTrafficLogWindow;

class TLinkControl : public QObject
{
    Q_OBJECT
public:
    /// The port group is made at once; the window places it.
    TLinkControl(TLine &line, TPageHost &host, QObject *parent = nullptr);
    ~TLinkControl() override;

    static constexpr int portGroupHeight = 39; ///< px at the design font

    /// The port group's drawn sizes for the font it shows; the window calls it again once
    /// the group is in place.
    void FitToFont();

    // ---- Components -----------------------------------------------------------------
    QPointer<QGroupBox> RzGroupBox1; ///< the port group; the window places it
    TPortBox *cbxNumPort = nullptr;
    QCheckBox *cbPortOpen = nullptr;
    QToolButton *sbtnCommON = nullptr;
    QLabel *lbCommParam = nullptr;
    QComboBox *cbBaudRate = nullptr;
    QPushButton *btnVerifyConnect = nullptr;
    QPushButton *btnConnect = nullptr;

    /// The service window that shows every byte on this line; the caller's parent owns it.
    TTrafficLogWindow *CreateTrafficLog(TDialogs *dialogs, QWidget *parent);

    // ---- Handlers ----------------------------------------------------------------------
    void btnConnectClick();
    void btnVerifyConnectClick();
    void cbxNumPortChange();
    void cbBaudRateChange();
    void cbPortOpenClick();
    /// A port text the user typed and confirmed with Enter.
    void cbxNumPortTextConfirmed();
    /// A speed text the user typed and confirmed with Enter.
    void cbBaudRateTextConfirmed();
    /// The user left the port box after typing in it.
    void cbxNumPortEditingFinished();
    /// The user opens the port list: ports plugged in since are looked for.
    void RefreshPortList();

private:
    void CreatePortGroup();
    void ConnectHandlers();
    void FollowLine();
    /// The lamp lights (enabled) while the instrument holds its line, and says so to
    /// screen readers too.
    void SetLampLit(bool lit);
    void SetPortOpenShown(bool open);
    void ShowPort(const QString &name);
    void ListPorts();
    static QString portEntryText(int n, const QString &device);
    /// The port box's hint names the system device behind the port shown.
    void ShowPortDevice();
    /// The controls that need the instrument follow the link indicator.
    void SetLinkControlsEnabled(bool enabled);
    /// The search holds the port box, or the speed and the probe, or lets them go.
    void SetPortControlsEnabled(bool portBox, bool speedAndProbe);
    /// An exchange took the line or let it go: the port group follows.
    void FollowLineClaim(TLineUser holder);
    /// While an exchange holds the line the port group's controls stay disabled,
    /// whatever the line's other signals decide for them.
    void ApplyLineGate();

    TLine &m_line;
    TPageHost &m_host;
    bool m_portsListed = false; ///< the first list of ports has set the port box's width
};
