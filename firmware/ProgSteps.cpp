#include "firmware/ProgSteps.h"

namespace {
const QString textChooseFile = QStringLiteral("Определите файл для загрузки. Шаг 1.");
const QString textSwitchOff = QStringLiteral("Выключите прибор. Шаг 2.");
const QString textSwitchOn = QStringLiteral("Включите прибор удерживая указку на экране.");
const QString textSwitchOnStep = QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2.");
const QString textLoad = QStringLiteral("Загрузите программу в прибор. Шаг 3.");
const QString textRebooting = QStringLiteral("Перезагрузка прибора");
const QString textDone = QStringLiteral("Перепрограммирование прибора завершено");
const QString textCancelled = QStringLiteral("Перепрограммирование прибора отменено.");
const QString textPaused = QStringLiteral("Программирование прибора приостановлено");
// After a cancel the loader holds part of an image: only a new start brings it back.
const QString textAfterCancel = QStringLiteral(". Повторите шаг 2.");
const QString textWaitingLoader = QStringLiteral("Прибор включен. Ожидание режима программирования...");
} // namespace

QString TProgSteps::sendingText()
{
    // From the start of an upload until the instrument answers after its restart,
    // nothing may send the engineer to the power switch: the loader may be writing
    // its flash. (Built here, not from a global: other globals may ask for it first.)
    return QStringLiteral("Загрузка программы в прибор. Не выключайте прибор!");
}

QString TProgSteps::programmingText()
{
    return QStringLiteral("Программирование прибора. Не выключайте прибор!");
}

QString TProgSteps::loadHintReady()
{
    return QStringLiteral("Загрузка программы управления в прибор.");
}

QString TProgSteps::loadHintNotReady()
{
    return QStringLiteral("Прибор не готов к загрузке программы управления.");
}

void TProgSteps::clearFlags()
{
    deviceRebooting = uploadSent = deviceInProgMode = deviceWasOff = false;
    powerOnPending = deviceBackAfterReboot = false;
    setUploadStarted(false);
}

void TProgSteps::setUploadStarted(bool started)
{
    if (uploadStarted == started)
        return;
    uploadStarted = started;
    Q_EMIT uploadRunningChanged(started);
}

void TProgSteps::setLoadEnabled(bool enabled)
{
    m_loadEnabled = enabled;
    Q_EMIT loadButtonChanged(enabled);
}

void TProgSteps::arm()
{
    progArmed = true;
    clearFlags();
    Q_EMIT stopped();
}

void TProgSteps::disarm()
{
    progArmed = false;
    clearFlags();
    Q_EMIT stopped();
    setLoadEnabled(false);
    Q_EMIT statusText(QString());
}

void TProgSteps::updateStep(bool linkPresent)
{
    if (!progArmed)
        return;
    setLoadEnabled(linkPresent && deviceInProgMode && firmwareFileDefined && !uploadStarted);
    if (m_loadEnabled) {
        Q_EMIT statusText(textLoad);
        Q_EMIT loadHintChanged(loadHintReady());
        return;
    }
    Q_EMIT loadHintChanged(loadHintNotReady());
    if (deviceRebooting)
        return;
    if (deviceBackAfterReboot) {
        // Once only: the completion text of the 'L' that follows stays in the status line.
        deviceBackAfterReboot = false;
        return;
    }
    if (uploadStarted) {
        // The image is on its way or being written: say so, never "switch off".
        Q_EMIT statusText(uploadSent ? programmingText() : sendingText());
        return;
    }
    if (!firmwareFileDefined) {
        Q_EMIT statusText(textChooseFile);
    } else if (!deviceInProgMode) {
        if (!deviceWasOff && linkPresent)
            Q_EMIT statusText(textSwitchOff);
        else if (!linkPresent)
            deviceWasOff = true;
        if (deviceWasOff && !linkPresent)
            Q_EMIT statusText(textSwitchOnStep);
        else if (powerOnPending && linkPresent)
            Q_EMIT statusText(textWaitingLoader);
    }
}

void TProgSteps::linkLost()
{
    if (uploadStarted) {
        if (uploadSent) {
            Q_EMIT statusText(textRebooting);
            deviceRebooting = true;
            Q_EMIT instrumentAwaited();
        }
    } else if (progArmed) {
        Q_EMIT statusText(textSwitchOn);
        deviceWasOff = true;
        // Whatever ran before is gone with the power: the wait starts afresh at the next
        // power-on, and a loader seen before counts no more.
        deviceInProgMode = false;
        if (powerOnPending) {
            powerOnPending = false;
            Q_EMIT powerOnWaitStopped();
        }
    }
}

void TProgSteps::linkReturned()
{
    if (uploadStarted) {
        if (uploadSent && deviceRebooting) {
            deviceBackAfterReboot = true;
            Q_EMIT instrumentAwaited();
        }
    } else if (progArmed && deviceWasOff) {
        powerOnPending = true;
        Q_EMIT powerOnWaitStarted();
        Q_EMIT statusText(textWaitingLoader);
    }
}

void TProgSteps::afterLinkUpdate(bool linkPresent)
{
    updateStep(linkPresent);
    if (!linkPresent && uploadStarted && !deviceRebooting) {
        Q_EMIT statusText(textCancelled);
        arm();
    }
}

void TProgSteps::powerOnWaitEnded(bool linkPresent)
{
    if (powerOnPending) {
        deviceInProgMode = true;
        deviceWasOff = false;
        powerOnPending = false;
    }
    updateStep(linkPresent);
}

void TProgSteps::replyL(bool linkPresent)
{
    if (uploadStarted) {
        // Before the restart an 'L' is not the end of reprogramming.
        if (deviceBackAfterReboot) {
            Q_EMIT statusText(textDone);
            arm();
            deviceBackAfterReboot = true;
            updateStep(linkPresent);
        }
        return;
    }
    if (progArmed && (powerOnPending || deviceInProgMode || deviceWasOff)) {
        // The instrument started its own program: it is not in its loader, and an image
        // sent now would be taken as commands.
        arm();
        updateStep(linkPresent);
    }
}

bool TProgSteps::readyToSend(bool linkPresent) const
{
    return progArmed && linkPresent && deviceInProgMode && firmwareFileDefined && !uploadStarted;
}

void TProgSteps::uploadBegun(bool linkPresent)
{
    deviceInProgMode = false;
    uploadSent = false;
    deviceRebooting = false;
    setUploadStarted(true);
    updateStep(linkPresent);
}

void TProgSteps::uploadFinished()
{
    uploadSent = true;
    deviceRebooting = false;
    Q_EMIT statusText(programmingText());
    Q_EMIT instrumentAwaited();
}

void TProgSteps::instrumentSilent()
{
    if (!uploadStarted || !uploadSent)
        return;
    const QString phase = deviceRebooting ? textRebooting : programmingText();
    Q_EMIT statusText(phase + QStringLiteral(" Прибор молчит больше минуты: посмотрите, что показывает его экран, "
                                             "проверьте кабель и порт."));
}

void TProgSteps::cancelUpload()
{
    arm();
    Q_EMIT statusText(textPaused + textAfterCancel);
}
