// Port discovery, the link indicator, the contact search and the speed change.

#include "app/MainLoritS_TreeTS.h"
#include "app/StyledWidgets.h"
#include "link/CommError.h"
#include "link/TMSComm.h"
#include "testdb/BDTSTransfer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QToolButton>

namespace {
const QString settingsTail = QStringLiteral(",n,8,1");
constexpr int speedCommandPauseMs = 10; ///< the instrument needs this to take in 'b' + index
}

void TFormMainLoritS_D7::DiscoverPorts()
{
    cbxNumPort->clear();
    for (int n = 1; n <= 4; ++n) {
        try {
            if (MSComm1->PortOpen())
                MSComm1->setPortOpen(false);
            MSComm1->setCommPort(n);
            MSComm1->setPortOpen(true);
            cbxNumPort->addItem(QStringLiteral("COM%1").arg(n));
        } catch (const TCommError &) {
            // A port that cannot be opened is simply not offered.
        }
    }
    if (cbxNumPort->count() == 0) {
        cbxNumPort->setEditText(QString());
        // The link check would replace the message with "no link" at once; the user
        // must read why there is none.
        UpdateLinkState();
        ShowStatus(QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
        return;
    }
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    cbxNumPort->setCurrentIndex(0);
    OpenChosenPort();
    baudIndex = 5;
    MSComm1->setSettings(baudRates[5] + settingsTail);
    cbBaudRate->setEditText(baudRates[5]);
    lbCommParam->setText(QStringLiteral("Параметры: ") + MSComm1->Settings());
    DiscardInput();
    sbtnCommON->setEnabled(MSComm1->CTSHolding());
    if (!sbtnCommON->isEnabled()) {
        ShowStatus(QStringLiteral("Включите прибор или смените порт."));
        btnConnect->setText(QStringLiteral("Контакт"));
    }
}

namespace {
/// The port number of one of the box's own texts "COM1" … "COM4", or 0 for any other
/// text. "COM12" is not COM1: on Windows it is a system port the backend knows by its
/// own name, elsewhere it names nothing.
int comNumberOf(const QString &text)
{
    if (text.size() != 4 || !text.startsWith(QLatin1String("COM")))
        return 0;
    const int n = text.at(3).digitValue();
    return (n >= 1 && n <= 4) ? n : 0;
}
} // namespace

void TFormMainLoritS_D7::SetPortFromBox()
{
    // "COMn" names a port by its number; any other text is a device the user typed.
    // A text that names nothing (typed and not confirmed) leaves the port as it is.
    const QString text = cbxNumPort->currentText();
    if (const int n = comNumberOf(text))
        MSComm1->setCommPort(n);
    else if (MSComm1->backend()->isSerialDevice(text))
        MSComm1->setCommDevice(text);
}

void TFormMainLoritS_D7::OpenChosenPort()
{
    SetPortFromBox();
    MSComm1->setPortOpen(true);
    cbPortOpen->setChecked(true);
    cbPortOpen->setText(QStringLiteral("вкл."));
}

void TFormMainLoritS_D7::SetLinkControlsEnabled(bool enabled)
{
    for (QWidget *widget : std::initializer_list<QWidget *>{btnConnect, btnVerifyConnect, cbBaudRate, lbReader,
                                                            lbLoadBDTS, lbLoadPOInTav, btnReadOP})
        widget->setEnabled(enabled);
    for (QAction *action : {ActionSoftTavelon, ActionBDTS, ActionTav2006})
        action->setEnabled(enabled);
    if (frameBDTS)
        frameBDTS->setButtonEnabled(frameBDTS->btnReadBDTSFromTav, enabled);
    if (!enabled)
        bdtsTransfer->LinkLost();
    ApplyLineGate();
}

bool TFormMainLoritS_D7::UpdateLinkState()
{
    // With no port open there is no line to watch: the link is absent.
    const bool cts = MSComm1->PortOpen() && MSComm1->CTSHolding();
    if (cts && sbtnCommON->isEnabled())
        return true;
    sbtnCommON->setEnabled(cts);
    SetLinkControlsEnabled(cts);
    const bool onFirmwarePage = RzPageControl1->currentIndex() == pageSoftTav;
    if (!cts) {
        DefSetComm_Timer->stop();
        // A contact stands only while the instrument is there, and a reply it had begun
        // can never finish: neither may hold the link hostage once it is gone.
        contactEstablished = false;
        contactSearchActive = false;
        replyBuffer.clear();
        ForgetAwaitedReplies();
        ShowStatus(QStringLiteral("Нет связи с прибором"));
        if (MSComm1->PortOpen() && !portChangePending && onFirmwarePage)
            ProgLinkLost();
    } else if (!onFirmwarePage) {
        ShowStatus(QStringLiteral("Связь с прибором есть"));
    } else {
        ProgLinkReturned();
    }
    if (frameSoftTav)
        ProgStepRefresh();
    return sbtnCommON->isEnabled();
}

void TFormMainLoritS_D7::DiscardInput()
{
    if (MSComm1->PortOpen())
        MSComm1->Input();
    replyBuffer.clear();
    MSComm1->setInBufferCount(0);
}

void TFormMainLoritS_D7::StartContact()
{
    if (cbxNumPort->count() == 0 || LineBusy())
        return;
    // A search still running stops here: if the port cannot be opened again, no tick
    // may go on probing a closed port.
    DefSetComm_Timer->stop();
    contactSearchActive = false;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    try {
        OpenChosenPort();
    } catch (...) {
        btnConnect->setText(QStringLiteral("Контакт"));
        cbPortOpen->setChecked(false);
        throw;
    }
    if (!UpdateLinkState())
        return;
    DiscardInput();
    baudIndex = 0;
    MSComm1->setSettings(baudRates[0] + settingsTail);
    probeDue = true;
    contactEstablished = false;
    contactSearchActive = true;
    DefSetComm_Timer->start();
    replyBuffer.clear();
    cbxNumPort->setEnabled(false);
    cbBaudRate->setEnabled(false);
    btnVerifyConnect->setEnabled(false);
}

void TFormMainLoritS_D7::RequestTopSpeed()
{
    DefSetComm_Timer->stop();
    if (!MSComm1->PortOpen() && cbxNumPort->count() > 0)
        OpenChosenPort();
    speedChangeRequested = true;
    targetBaudIndex = 5;
    StartContact();
    btnConnect->setText(QStringLiteral("Стоп"));
}

void TFormMainLoritS_D7::DefSetComm_TimerTimer()
{
    if (!contactSearchActive)
        return;
    if (!MSComm1->PortOpen()) {
        // The port was lost under the search: nothing to probe, and no error box every tick.
        DefSetComm_Timer->stop();
        contactSearchActive = false;
        btnConnect->setText(QStringLiteral("Контакт"));
        return;
    }
    if (probeDue) {
        // Garbage of a wrong speed may have started a "reply" of any code; the probe's
        // answer must not be appended behind it.
        DiscardInput();
        SendToDevice(QByteArrayLiteral("B"));
        probeDue = false;
        lbCommParam->setText(QStringLiteral("Параметры: ") + MSComm1->Settings());
    } else if (!contactEstablished) {
        baudIndex = baudIndex < 5 ? quint8(baudIndex + 1) : quint8(0);
        MSComm1->setSettings(baudRates[baudIndex] + settingsTail);
        probeDue = true;
    }
}

void TFormMainLoritS_D7::ContactReplyReceived()
{
    // The reply is its own byte; what follows it is the next reply.
    replyBuffer.remove(0, 1);
    // Under an exchange nobody probes: a 'B' then is noise and changes nothing.
    if (LineBusy() && !contactSearchActive)
        return;
    DefSetComm_Timer->stop();
    contactSearchActive = false;
    contactEstablished = true;
    lbCommParam->setText(QStringLiteral("Параметры: ") + MSComm1->Settings());
    btnConnect->setText(QStringLiteral("Контакт"));
    ShowStatus(QStringLiteral("Есть контакт с прибором"));
    cbBaudRate->setEditText(baudRates[baudIndex]);
    portChangePending = false;
    cbxNumPort->setEnabled(true);
    cbBaudRate->setEnabled(true);
    btnVerifyConnect->setEnabled(true);
    if (speedChangeRequested && baudIndex != targetBaudIndex) {
        QByteArray command("b");
        command.append(char(targetBaudIndex));
        SendToDevice(command);
        QThread::msleep(speedCommandPauseMs);
        speedChangeRequested = false;
        ShowStatus(QStringLiteral("Установка новой скорости обмена."));
        deferredCommand = 'b';
        SendCommand_Timer->setInterval(100);
        SendCommand_Timer->start();
    }
    ApplyLineGate();
}

void TFormMainLoritS_D7::SendCommand_TimerTimer()
{
    SendCommand_Timer->stop();
    if (deferredCommand == 'b')
        StartContact();
    deferredCommand = 0;
}

void TFormMainLoritS_D7::btnConnectClick()
{
    if (LineBusy()) {
        ShowStatus(LineBusyText());
        return;
    }
    cbxNumPort->setEnabled(true);
    cbBaudRate->setEnabled(true);
    btnVerifyConnect->setEnabled(true);
    if (!MSComm1->PortOpen()) {
        // "Стоп" still ends a search that lost its port.
        DefSetComm_Timer->stop();
        contactSearchActive = false;
        btnConnect->setText(QStringLiteral("Контакт"));
        ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (btnConnect->text() == QStringLiteral("Контакт")) {
        StartContact();
        btnConnect->setText(QStringLiteral("Стоп"));
        ShowStatus(QStringLiteral("Установление контакта."));
    } else {
        DefSetComm_Timer->stop();
        btnConnect->setText(QStringLiteral("Контакт"));
        if (!contactEstablished)
            ShowStatus(QStringLiteral("Прибор не отвечает!"));
    }
}

void TFormMainLoritS_D7::btnVerifyConnectClick()
{
    if (LineBusy()) {
        ShowStatus(LineBusyText());
        return;
    }
    if (!MSComm1->PortOpen()) {
        ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    ShowStatus(QStringLiteral("Нет контакта с прибором"));
    SendToDevice(QByteArrayLiteral("B"));
    replyBuffer.clear();
}

void TFormMainLoritS_D7::cbxNumPortChange()
{
    if (contactEstablished || LineBusy()) {
        cbxNumPort->setEditText(MSComm1->portText());
        return;
    }
    if (cbxNumPort->count() == 0)
        return;
    if (MSComm1->PortOpen())
        MSComm1->setPortOpen(false);
    portChangePending = true;
    SetPortFromBox();
    MSComm1->setPortOpen(true);
    UpdateLinkState();
    cbPortOpen->setChecked(true);
    cbPortOpen->setText(QStringLiteral("вкл."));
    DiscardInput();
}

void TFormMainLoritS_D7::cbxNumPortTextConfirmed()
{
    // A typed entry of the list arrives as a choice of it; here come the other texts.
    const QString text = cbxNumPort->currentText().trimmed();
    if (cbxNumPort->findText(text) >= 0)
        return;
    if (cbxNumPort->count() > 0 && (comNumberOf(text) > 0 || (!text.isEmpty() && MSComm1->backend()->isSerialDevice(text)))) {
        cbxNumPort->setEditText(text);
        cbxNumPortChange();
        return;
    }
    cbxNumPortEditingFinished();
}

void TFormMainLoritS_D7::cbxNumPortEditingFinished()
{
    // Text typed and left without a choice changes nothing: the box shows the port again.
    if (cbxNumPort->count() == 0)
        return;
    // Put back once the key press is over: the box looks at the text after us.
    QMetaObject::invokeMethod(this, [this] {
        const QString shown = MSComm1->PortOpen() ? MSComm1->portText() : cbxNumPort->itemText(0);
        if (cbxNumPort->currentText() != shown && cbxNumPort->findText(cbxNumPort->currentText()) < 0)
            cbxNumPort->setEditText(shown);
    }, Qt::QueuedConnection);
}

void TFormMainLoritS_D7::cbBaudRateChange()
{
    const int index = cbBaudRate->findText(cbBaudRate->currentText().trimmed());
    if (index < 0 || index >= int(baudRates.size())) {
        // A typed speed that is no entry changes nothing.
        cbBaudRate->setEditText(baudRates[baudIndex]);
        return;
    }
    if (LineBusy()) {
        cbBaudRate->setEditText(baudRates[baudIndex]);
        ShowStatus(LineBusyText());
        return;
    }
    targetBaudIndex = quint8(index);
    if (UpdateLinkState()) {
        speedChangeRequested = true;
        ShowStatus(QStringLiteral("Установление контакта с прибором."));
        StartContact();
    }
}

void TFormMainLoritS_D7::cbBaudRateTextConfirmed()
{
    // A typed entry of the list arrives as a choice of it; any other text changes
    // nothing. The box looks at the text itself after this handler, so it is put back
    // only once the key press is over.
    if (cbBaudRate->findText(cbBaudRate->currentText().trimmed()) < 0) {
        QMetaObject::invokeMethod(this, [this] {
            if (cbBaudRate->findText(cbBaudRate->currentText().trimmed()) < 0)
                cbBaudRate->setEditText(baudRates[baudIndex]);
        }, Qt::QueuedConnection);
    }
}

void TFormMainLoritS_D7::cbPortOpenClick()
{
    cbPortOpen->setChecked(MSComm1->PortOpen());
}
