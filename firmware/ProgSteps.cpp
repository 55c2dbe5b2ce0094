#include "firmware/ProgSteps.h"

#include <QTimer>

#include <algorithm>
#include <utility>

namespace {
const QString textChooseFile = QStringLiteral("Определите файл для загрузки. Шаг 1.");
const QString textSwitchOff = QStringLiteral("Выключите прибор. Шаг 2.");
const QString textSwitchOn = QStringLiteral("Включите прибор удерживая указку на экране.");
const QString textSwitchOnStep = QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2.");
const QString textLoad = QStringLiteral("Загрузите программу в прибор. Шаг 3.");
const QString textWaitingLoader = QStringLiteral("Прибор включен. Ожидание режима программирования...");
const QString textRebooting = QStringLiteral("Перезагрузка прибора");
const QString textDone = QStringLiteral("Перепрограммирование прибора завершено");
const QString textCancelled = QStringLiteral("Перепрограммирование прибора отменено.");
// After a cancel the loader holds part of an image: only a new start brings it back.
const QString textPaused = QStringLiteral("Программирование прибора приостановлено. Повторите шаг 2.");
// What to look at when the instrument gives no sign for the longest write time.
const QString textSilent = QStringLiteral("Прибор молчит больше минуты: посмотрите, что показывает его экран, "
                                          "проверьте кабель и порт.");
const QString textNoRestart = QStringLiteral(" Если загрузчик сообщил об ошибке, загрузите программу снова; "
                                             "иначе повторите шаг 2.");
const QString textUnconfirmed = QStringLiteral(" Перепрограммирование не подтверждено: повторите шаг 2.");
const QString textLostDuringWrite = QStringLiteral(
    "Связь с прибором прерывалась во время программирования: записана ли программа, узнать нельзя. "
    "Посмотрите на экран прибора: если на нем загрузчик или сообщение об ошибке, повторите "
    "перепрограммирование с шага 2.");
constexpr qint64 bitsPerByte = 10; ///< start bit, eight data bits, stop bit
constexpr qint64 usPerMs = 1000;
constexpr qint64 usPerSecond = 1000000;
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
    return QStringLiteral("Программирование прибора. Не выключайте прибор! Запись длится до минуты.");
}

QString TProgSteps::loadHintReady()
{
    return QStringLiteral("Загрузка программы управления в прибор.");
}

QString TProgSteps::loadHintNotReady()
{
    return QStringLiteral("Прибор не готов к загрузке программы управления.");
}

TProgSteps::TProgSteps(TProgLine line, QObject *parent)
    : TExchange(TLineUser::Upload, parent), m_line(std::move(line))
{
    m_steady.start();
    Timer = new QTimer(this);
    Timer->setInterval(tsk::tickMs);
    Timer->setSingleShot(true); // each tick arms the next, so ticks never overlap
    const auto tick = [this](QTimer *timer, void (TProgSteps::*handler)()) {
        connect(timer, &QTimer::timeout, this, [this, handler] {
            if (m_line.guarded)
                m_line.guarded([this, handler] { (this->*handler)(); });
            else
                (this->*handler)();
        });
    };
    tick(Timer, &TProgSteps::TimerTimer);
    StartProgTav_Timer = new QTimer(this);
    StartProgTav_Timer->setSingleShot(true);
    StartProgTav_Timer->setInterval(powerOnWaitMs);
    tick(StartProgTav_Timer, &TProgSteps::StartProgTav_TimerTimer);
    ProgSilence_Timer = new QTimer(this);
    ProgSilence_Timer->setSingleShot(true);
    ProgSilence_Timer->setInterval(longestWriteMs);
    tick(ProgSilence_Timer, &TProgSteps::ProgSilence_TimerTimer);
}

TProgSteps::~TProgSteps() = default;

qint64 TProgSteps::nowMs() const
{
    return m_line.clockMs ? m_line.clockMs() : m_steady.elapsed();
}

void TProgSteps::setState(TState state)
{
    const bool owned = ownsLine();
    if (state != TState::PowerOnWait)
        StartProgTav_Timer->stop();
    if (state < TState::Sent)
        ProgSilence_Timer->stop();
    m_state = state;
    Q_EMIT stateChanged(state);
    if (owned != ownsLine())
        Q_EMIT runningChanged(ownsLine());
}

void TProgSteps::setFirmwareFileDefined(bool defined)
{
    m_fileDefined = defined;
    if (m_state == TState::NoFile && defined)
        setState(TState::SwitchOff);
    else if (m_state == TState::SwitchOff && !defined)
        setState(TState::NoFile);
    UpdateProgStep();
}

bool TProgSteps::readyToSend() const
{
    return m_state == TState::Ready && m_fileDefined && m_linePresent;
}

void TProgSteps::stopSending()
{
    if (m_state == TState::Sending)
        m_line.dropQueued();
    Timer->stop();
    m_image.reset();
    Q_EMIT progress(0);
}

void TProgSteps::ArmProgSteps(bool linePresent)
{
    m_linePresent = linePresent;
    stopSending();
    setState(stepTwo());
}

void TProgSteps::DisarmProgSteps()
{
    stopSending();
    setState(TState::Disarmed);
    Q_EMIT loadButtonChanged(false);
    // A step's text goes with the page; how an upload ended stays until it is read.
    if (!std::exchange(m_resultShown, false))
        Q_EMIT statusText(QString());
}

void TProgSteps::showButtons()
{
    const bool enabled = readyToSend();
    Q_EMIT loadButtonChanged(enabled);
    Q_EMIT loadHintChanged(enabled ? loadHintReady() : loadHintNotReady());
}

void TProgSteps::UpdateProgStep()
{
    if (m_state == TState::Disarmed)
        return;
    showButtons();
    display();
}

void TProgSteps::display()
{
    switch (m_state) {
    case TState::Disarmed:
    case TState::Restarting:
    case TState::Back:
        break;
    default:
        m_resultShown = false;
        break;
    }
    switch (m_state) {
    case TState::Disarmed:
    case TState::Restarting: // the restart's own text stays
    case TState::Back:
    case TState::CutAtTheEnd:
        return;
    case TState::Sending:
        Q_EMIT statusText(sendingText());
        return;
    case TState::Sent:
        Q_EMIT statusText(programmingText());
        return;
    default:
        break;
    }
    if (!m_fileDefined) {
        Q_EMIT statusText(textChooseFile);
        return;
    }
    switch (m_state) {
    case TState::SwitchOff:
        Q_EMIT statusText(textSwitchOff);
        break;
    case TState::SwitchOn:
        Q_EMIT statusText(textSwitchOnStep);
        break;
    case TState::PowerOnWait:
        Q_EMIT statusText(textWaitingLoader);
        break;
    case TState::Ready:
        if (m_linePresent)
            Q_EMIT statusText(textLoad);
        break;
    default:
        break;
    }
}

void TProgSteps::lineLost()
{
    m_linePresent = false;
    switch (m_state) {
    case TState::Disarmed:
    case TState::Restarting:
    case TState::CutAtTheEnd:
        return;
    case TState::SwitchOn:
        UpdateProgStep();
        return;
    case TState::NoFile:
    case TState::SwitchOff:
    case TState::PowerOnWait:
    case TState::Ready:
        // Whatever ran is gone with the power: the next power-on waits afresh, and a
        // loader seen before counts no more.
        Q_EMIT statusText(textSwitchOn);
        setState(TState::SwitchOn);
        UpdateProgStep();
        return;
    case TState::Sending:
    case TState::Sent:
        // A line that drops once the last byte has left is the loader's restart; before
        // that the image is not whole and nothing may claim success, and a drop heard
        // as the last bytes crossed may have come before them.
        switch (dropAgainstImage()) {
        case TDrop::BeforeWhole:
            endUpload(TState::SwitchOn, textCancelled);
            return;
        case TDrop::AtTheEnd:
            stopSending();
            setState(TState::CutAtTheEnd);
            ProgSilence_Timer->start();
            Q_EMIT statusText(textRebooting);
            return;
        case TDrop::AfterWhole:
            if (m_state == TState::Sending)
                imageSent();
            break;
        }
        break;
    case TState::Back:
        break;
    }
    setState(TState::Restarting);
    ProgSilence_Timer->start();
    Q_EMIT statusText(textRebooting);
}

void TProgSteps::lineBack()
{
    m_linePresent = true;
    switch (m_state) {
    case TState::SwitchOn:
        setState(TState::PowerOnWait);
        StartProgTav_Timer->start();
        UpdateProgStep();
        return;
    case TState::Restarting:
        // However long the line was away: nothing but the restart that follows a whole
        // image is known to drop it now, and the new program's 'L' tells the end.
        setState(TState::Back);
        ProgSilence_Timer->start();
        showButtons();
        return;
    case TState::CutAtTheEnd:
        endUpload(stepTwo(), textLostDuringWrite);
        return;
    default:
        UpdateProgStep();
        return;
    }
}

TAwaited TProgSteps::awaits(char code) const
{
    return code == 'L' && running() ? TAwaited::yes() : TAwaited::no();
}

void TProgSteps::reply(char code, const QByteArray &, qsizetype)
{
    if (code != 'L')
        return;
    switch (m_state) {
    case TState::PowerOnWait:
    case TState::Ready:
        // The instrument started its own program: it is not in its loader, and an image
        // sent now would be taken as commands.
        setState(stepTwo());
        UpdateProgStep();
        return;
    case TState::Back:
        // The new program announces itself after the restart that followed a whole
        // image: the one sign of success. The text stays until the next step display.
        m_image.reset();
        setState(stepTwo());
        showButtons();
        Q_EMIT statusText(textDone);
        m_resultShown = true;
        Q_EMIT finished(true, textDone);
        return;
    default:
        // Before a restart, or while the image goes, an 'L' is noise.
        return;
    }
}

bool TProgSteps::start(TFirmwarePacket packet)
{
    if (!readyToSend())
        return false;
    m_image.emplace(std::move(packet));
    m_lineFreeUs = 0;
    setState(TState::Sending);
    UpdateProgStep();
    Q_EMIT progress(0);
    sendCounted(m_image->packet().start);
    sendCounted(m_image->packet().length);
    Timer->start();
    return true;
}

void TProgSteps::cancel()
{
    if (m_state == TState::Sending || writing())
        endUpload(stepTwo(), textPaused);
}

void TProgSteps::endUpload(TState next, const QString &why)
{
    stopSending();
    setState(next);
    showButtons();
    Q_EMIT statusText(why);
    m_resultShown = true;
    Q_EMIT finished(false, why);
}

void TProgSteps::sendCounted(const QByteArray &bytes)
{
    const qint64 handedAt = nowMs() * usPerMs;
    Q_EMIT bytesToSend(bytes);
    lineTakes(bytes.size(), handedAt);
}

qint64 TProgSteps::lineTimeUs(qint64 bytes) const
{
    const qint32 baud = m_line.baud ? m_line.baud() : 0;
    return baud > 0 ? bytes * bitsPerByte * usPerSecond / baud : 0;
}

void TProgSteps::lineTakes(qint64 bytes, qint64 fromUs)
{
    m_lineFreeUs = std::max(m_lineFreeUs, fromUs) + lineTimeUs(bytes);
}

bool TProgSteps::imageWhollySent()
{
    // The queue alone cannot tell: a pseudo-terminal or an adapter empties it long
    // before its bytes are on the wire. The clock alone cannot either: a line that
    // waited (an adapter holding its buffer) carries the last bytes later. What the
    // driver still holds goes after now, on top of what the clock says.
    if (!m_image || !m_image->complete())
        return false;
    const qint64 queued = m_line.queued();
    const qint64 now = nowMs() * usPerMs;
    if (queued > 0)
        m_lineFreeUs = std::max(m_lineFreeUs, now + lineTimeUs(queued));
    return queued == 0 && now >= m_lineFreeUs;
}

TProgSteps::TDrop TProgSteps::dropAgainstImage()
{
    if (!imageWhollySent())
        return TDrop::BeforeWhole;
    // The drop came at most lineDropHeardWithinMs before it was heard.
    return nowMs() * usPerMs - m_lineFreeUs < qint64(lineDropHeardWithinMs) * usPerMs ? TDrop::AtTheEnd
                                                                                      : TDrop::AfterWhole;
}

void TProgSteps::TimerTimer()
{
    if (m_state != TState::Sending || !m_image)
        return;
    if (imageWhollySent()) {
        imageSent();
        return;
    }
    if (!m_image->complete() && TFirmwareTransfer::mayHandOver(m_line.queued())) {
        // Paced by what the line has really taken: a chunk goes only when at most one
        // chunk still waits, so the queue never runs ahead of the line.
        sendCounted(m_image->takeChunk());
        Q_EMIT progress(m_image->progress());
        if (m_image->complete())
            sendCounted(m_image->packet().checksumBytes());
    }
    Timer->start();
}

void TProgSteps::imageSent()
{
    Timer->stop();
    Q_EMIT progress(0);
    setState(TState::Sent);
    ProgSilence_Timer->start();
    Q_EMIT statusText(programmingText());
}

void TProgSteps::StartProgTav_TimerTimer()
{
    StartProgTav_Timer->stop();
    if (m_state != TState::PowerOnWait)
        return;
    setState(TState::Ready);
    UpdateProgStep();
}

void TProgSteps::ProgSilence_TimerTimer()
{
    ProgSilence_Timer->stop();
    // The protection ends: the engineer may leave, cancel or load again, and no later
    // restart can be taken for the end of this upload.
    switch (m_state) {
    case TState::Sent:
        // No restart: the loader has most likely refused the image and waits for another.
        endUpload(m_linePresent ? TState::Ready : TState::SwitchOn,
                  QStringLiteral("Программирование прибора. ") + textSilent + textNoRestart);
        break;
    case TState::Restarting:
    case TState::CutAtTheEnd:
        endUpload(TState::SwitchOn, textRebooting + QStringLiteral(". ") + textSilent + textUnconfirmed);
        break;
    case TState::Back:
        endUpload(stepTwo(), QStringLiteral("Прибор снова на связи, но молчит больше минуты: посмотрите, что "
                                            "показывает его экран.")
                                 + textUnconfirmed);
        break;
    default:
        break;
    }
}
