#include "link/LinkControl.h"

#include "link/ContactSearch.h"

#include "common/FontScale.h"
#include "common/PageHost.h"
#include "link/PortBox.h"
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
#include <QSignalBlocker>
#include <QToolButton>

#include <initializer_list>

namespace {
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

TLinkControl::TLinkControl(TLine &line, TPageHost &host, QObject *parent)
    : QObject(parent), m_line(line), m_host(host)
{
    CreatePortGroup();
    ConnectHandlers();
    FollowLine();
}

// The port group lives in the window's layout, which deletes it; a group not yet placed
// goes with the view.
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
    for (const QString &rate : TLine::baudRates)
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

void TLinkControl::FollowLine()
{
    connect(&m_line, &TLine::lampLit, this, &TLinkControl::SetLampLit);
    connect(&m_line, &TLine::linkControlsEnabled, this, &TLinkControl::SetLinkControlsEnabled);
    connect(&m_line, &TLine::portControlsEnabled, this, &TLinkControl::SetPortControlsEnabled);
    connect(&m_line, &TLine::portOpenChanged, this, &TLinkControl::SetPortOpenShown);
    connect(&m_line, &TLine::portsListed, this, &TLinkControl::ListPorts);
    connect(&m_line, &TLine::portShown, this, &TLinkControl::ShowPort);
    connect(&m_line, &TLine::parametersShown, this,
            [this](const QString &settings) { lbCommParam->setText(QStringLiteral("Параметры: ") + settings); });
    connect(&m_line, &TLine::speedShown, this, [this](int index) { cbBaudRate->setEditText(TLine::baudRates[index]); });
    // The caption follows the search: "Стоп" while one runs or waits to be stopped.
    connect(&m_line, &TLine::searchChanged, this, [this](bool active) {
        btnConnect->setText(active ? QStringLiteral("Стоп") : QStringLiteral("Контакт"));
    });
    connect(&m_line.lineClaim, &TLineClaim::changed, this, &TLinkControl::FollowLineClaim);
}

void TLinkControl::SetLampLit(bool lit)
{
    sbtnCommON->setEnabled(lit);
    sbtnCommON->setAccessibleDescription(lit ? QStringLiteral("связь есть") : QStringLiteral("нет связи"));
}

void TLinkControl::SetPortOpenShown(bool open)
{
    cbPortOpen->setChecked(open);
    cbPortOpen->setText(open ? QStringLiteral("вкл.") : QStringLiteral("выкл."));
}

void TLinkControl::SetLinkControlsEnabled(bool enabled)
{
    for (QWidget *widget : std::initializer_list<QWidget *>{btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(enabled);
    ApplyLineGate();
}

void TLinkControl::SetPortControlsEnabled(bool portBox, bool speedAndProbe)
{
    cbxNumPort->setEnabled(portBox);
    cbBaudRate->setEnabled(speedAndProbe);
    btnVerifyConnect->setEnabled(speedAndProbe);
    ApplyLineGate();
}

void TLinkControl::FollowLineClaim(TLineUser holder)
{
    if (m_line.lineClaim.heldByExchange()) {
        ApplyLineGate();
        return;
    }
    if (holder != TLineUser::None)
        return;
    cbxNumPort->setEnabled(true);
    for (QWidget *widget : std::initializer_list<QWidget *>{btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(m_line.LinkPresent());
}

void TLinkControl::ApplyLineGate()
{
    if (!m_line.lineClaim.heldByExchange())
        return;
    for (QWidget *widget : std::initializer_list<QWidget *>{cbxNumPort, btnConnect, btnVerifyConnect, cbBaudRate})
        widget->setEnabled(false);
}

void TLinkControl::ShowPort(const QString &name)
{
    const int entry = name.isEmpty() ? -1 : cbxNumPort->findText(name);
    if (entry >= 0)
        cbxNumPort->setCurrentIndex(entry);
    else
        cbxNumPort->setEditText(name);
}

void TLinkControl::ListPorts()
{
    const QSignalBlocker quiet(cbxNumPort);
    cbxNumPort->clear();
    for (const int n : m_line.comPorts()) {
        const QString device = m_line.DeviceForComPort(n);
        cbxNumPort->addItem(QStringLiteral("COM%1").arg(n), device);
        cbxNumPort->setItemData(cbxNumPort->count() - 1, portEntryText(n, device), Qt::ToolTipRole);
    }
    // The box takes its width from the first list of ports, also when the window was
    // shown before it; later lists leave the width as it is.
    if (!m_portsListed) {
        m_portsListed = true;
        cbxNumPort->FitToEntries();
    }
}

QString TLinkControl::portEntryText(int n, const QString &device)
{
    const QString com = QStringLiteral("COM%1").arg(n);
    return device.isEmpty() || device == com ? com : com + QStringLiteral(" — ") + device;
}

void TLinkControl::RefreshPortList()
{
    // The text in the box stays as it is while the list is made again.
    const QString shown = cbxNumPort->currentText();
    m_line.RefreshPorts();
    cbxNumPort->setEditText(shown);
    ShowPortDevice();
}

void TLinkControl::ShowPortDevice()
{
    // The hint names the system device behind the port shown, so that two adapters
    // can be told apart.
    const QString text = cbxNumPort->currentText().trimmed();
    const int n = TLine::comNumberOf(text);
    const QString device = n > 0 ? m_line.DeviceForComPort(n) : QString();
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

TTrafficLogWindow *TLinkControl::CreateTrafficLog(TDialogs *dialogs, QWidget *parent)
{
    return new TTrafficLogWindow(m_line.MSComm1, dialogs, parent);
}

void TLinkControl::btnConnectClick()
{
    if (!m_line.lineClaim.heldByExchange()) {
        cbxNumPort->setEnabled(true);
        cbBaudRate->setEnabled(true);
        btnVerifyConnect->setEnabled(true);
    }
    m_line.search->ToggleContact();
}

void TLinkControl::btnVerifyConnectClick()
{
    m_line.search->VerifyContact();
}

void TLinkControl::cbxNumPortChange()
{
    if (!m_line.PortChangeAllowed()) {
        cbxNumPort->setEditText(m_line.PortText());
        return;
    }
    m_line.ChangePort(cbxNumPort->currentText().trimmed());
}

void TLinkControl::cbxNumPortTextConfirmed()
{
    // A typed entry of the list arrives as a choice of it; here come the other texts.
    const QString text = cbxNumPort->currentText().trimmed();
    if (cbxNumPort->findText(text) >= 0)
        return;
    // A device typed by its path is taken whatever the list holds: an adapter plugged
    // in after start, or one named by its /dev/serial/by-id/ link.
    if (m_line.NamesAPort(text)) {
        cbxNumPort->setEditText(text);
        cbxNumPortChange();
        // A port typed by hand opens without a word from the list: say which one it is.
        if (m_line.PortOpen() && m_line.PortText() == text)
            m_host.ShowStatus(QStringLiteral("Открыт порт %1. %2").arg(text, m_line.LinkPresent()
                                                                            ? QStringLiteral("Связь с прибором есть")
                                                                            : QStringLiteral("Нет связи с прибором")));
        return;
    }
    cbxNumPortEditingFinished();
}

void TLinkControl::cbxNumPortEditingFinished()
{
    // Text typed and left without a choice changes nothing: the box shows the port again.
    if (m_line.comPorts().isEmpty())
        return;
    // Put back once the key press is over: the box looks at the text after us.
    QMetaObject::invokeMethod(this, [this] {
        const QString shown = m_line.PortOpen() ? m_line.PortText()
                                                : QStringLiteral("COM%1").arg(m_line.comPorts().first());
        if (cbxNumPort->currentText() != shown && cbxNumPort->findText(cbxNumPort->currentText()) < 0)
            cbxNumPort->setEditText(shown);
    }, Qt::QueuedConnection);
}

void TLinkControl::cbBaudRateChange()
{
    // A typed speed that is no entry, or one refused while an exchange holds the line,
    // changes nothing: the box shows the line's speed again.
    if (!m_line.search->ChangeSpeed(cbBaudRate->findText(cbBaudRate->currentText().trimmed())))
        cbBaudRate->setEditText(TLine::baudRates[size_t(qMax(0, m_line.PortSpeedIndex()))]);
}

void TLinkControl::cbBaudRateTextConfirmed()
{
    // A typed entry of the list arrives as a choice of it; any other text changes
    // nothing. The box looks at the text itself after this handler, so it is put back
    // only once the key press is over.
    if (cbBaudRate->findText(cbBaudRate->currentText().trimmed()) < 0) {
        QMetaObject::invokeMethod(this, [this] {
            if (cbBaudRate->findText(cbBaudRate->currentText().trimmed()) < 0)
                cbBaudRate->setEditText(TLine::baudRates[size_t(qMax(0, m_line.PortSpeedIndex()))]);
        }, Qt::QueuedConnection);
    }
}

void TLinkControl::cbPortOpenClick()
{
    SetPortOpenShown(m_line.PortOpen());
}
