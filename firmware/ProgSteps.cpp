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
} // namespace

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
    powerOnPending = uploadStarted = deviceBackAfterReboot = false;
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
    setLoadEnabled(linkPresent && deviceInProgMode && firmwareFileDefined);
    if (m_loadEnabled) {
        Q_EMIT statusText(textLoad);
        Q_EMIT loadHintChanged(loadHintReady());
        return;
    }
    if (deviceRebooting)
        return;
    if (deviceBackAfterReboot) {
        // Once only: the completion text of the 'L' that follows stays in the status line.
        deviceBackAfterReboot = false;
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
    }
    Q_EMIT loadHintChanged(loadHintNotReady());
}

void TProgSteps::linkLost()
{
    if (uploadStarted) {
        if (uploadSent) {
            Q_EMIT statusText(textRebooting);
            deviceRebooting = true;
        }
    } else if (progArmed) {
        Q_EMIT statusText(textSwitchOn);
        deviceWasOff = true;
    }
}

void TProgSteps::linkReturned()
{
    if (uploadStarted) {
        if (uploadSent && deviceRebooting)
            deviceBackAfterReboot = true;
    } else if (progArmed && deviceWasOff && !powerOnPending) {
        // The wait runs from the first return of the line; a drop and a return before
        // it ends do not start it again.
        powerOnPending = true;
        Q_EMIT powerOnWaitStarted();
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
    if (powerOnPending) {
        // The instrument started its own program: it was not in its loader.
        arm();
        updateStep(linkPresent);
    } else if (deviceBackAfterReboot) {
        Q_EMIT statusText(textDone);
        arm();
        deviceBackAfterReboot = true;
        updateStep(linkPresent);
    }
}

void TProgSteps::uploadBegun(bool linkPresent)
{
    deviceInProgMode = false;
    updateStep(linkPresent);
    uploadStarted = true;
    uploadSent = false;
    deviceRebooting = false;
}

void TProgSteps::uploadFinished()
{
    uploadSent = true;
    deviceRebooting = false;
}

void TProgSteps::cancelUpload()
{
    arm();
    Q_EMIT statusText(textPaused);
}
