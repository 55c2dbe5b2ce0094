#include "sim/commands/FirmwareLoader.h"

#include "sim/VirtualInstrument.h"

namespace {
constexpr unsigned char startByte = 0x55, markerByte = 0xAA;
constexpr qint64 lengthExtra = 6;              ///< the length field counts the file and six bytes more
constexpr qint64 largestImage = 16 * 1024 * 1024; ///< what the loader's memory holds
const QStringList programmingSteps{
    QStringLiteral("Стирание"), QStringLiteral("Программирование "), QStringLiteral("Проверка записи"),
    QStringLiteral("Программирование завершено"), QStringLiteral("Перезагрузка прибора")};

quint16 sum16(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (const char byte : bytes)
        sum += static_cast<unsigned char>(byte);
    return quint16(sum & 0xFFFF);
}
} // namespace

TInstrumentLoader::TInstrumentLoader(TVirtualInstrument &instrument)
    : QObject(&instrument), m_instrument(instrument)
{
    setObjectName(QStringLiteral("loader"));
    for (QTimer *timer : {&m_bootTimer, &m_gapTimer, &m_stepTimer})
        timer->setSingleShot(true);
    connect(&m_bootTimer, &QTimer::timeout, this, [this] {
        m_state = TState::Running;
        m_instrument.send(QByteArrayLiteral("L"));
    });
    connect(&m_gapTimer, &QTimer::timeout, this, &TInstrumentLoader::blockEnded);
    connect(&m_stepTimer, &QTimer::timeout, this, &TInstrumentLoader::nextStep);
    connect(&instrument, &TVirtualInstrument::poweredChanged, this, &TInstrumentLoader::onPowered);
    m_state = instrument.powered() ? TState::Running : TState::Off;
    showRunning();
}

void TInstrumentLoader::setStylusHeld(bool held)
{
    if (held == m_stylus)
        return;
    m_stylus = held;
    Q_EMIT stylusChanged(held);
}

void TInstrumentLoader::onPowered(bool on)
{
    m_bootTimer.stop();
    m_gapTimer.stop();
    m_stepTimer.stop();
    m_instrument.setByteSink(nullptr);
    m_instrument.setRestarting(false);
    if (!on) {
        m_state = TState::Off;
        show({});
        return;
    }
    m_instrument.setSpeedIndex(powerOnSpeedIndex);
    if (m_stylus) {
        enterLoader();
        return;
    }
    m_state = TState::Booting;
    showRunning();
    m_bootTimer.start(m_timing.bootMs);
}

QStringList TInstrumentLoader::loaderHead() const
{
    return {QStringLiteral("Начальный  загрузчик  V1.1"), QStringLiteral("Тест  ОЗУ  8192  Кб  -  ОК"),
            QStringLiteral("Тест  ПЗУ  -  ОК"), QStringLiteral("Режим программирования  включен")};
}

void TInstrumentLoader::enterLoader()
{
    m_state = TState::Start;
    m_instrument.setByteSink([this](const QByteArray &bytes) { take(bytes); });
    show(loaderHead() << QStringLiteral("Прием файла"));
}

void TInstrumentLoader::take(const QByteArray &bytes)
{
    for (const char byte : bytes)
        takeByte(static_cast<unsigned char>(byte));
    if (m_state == TState::Length || m_state == TState::Data || m_state == TState::Checksum) {
        m_gapTimer.start(m_timing.blockGapMs);
        if (m_state == TState::Data)
            show(loaderHead() << receiveLine());
    }
}

void TInstrumentLoader::takeByte(unsigned char byte)
{
    switch (m_state) {
    case TState::Start:
        if (byte == startByte)
            m_state = TState::Marker;
        break;
    case TState::Marker:
        m_state = byte == markerByte ? TState::Length : byte == startByte ? TState::Marker : TState::Start;
        m_lengthBytes.clear();
        break;
    case TState::Length: {
        m_lengthBytes.append(char(byte));
        if (m_lengthBytes.size() < 4)
            break;
        quint32 length = 0;
        for (int i = 3; i >= 0; --i)
            length = (length << 8) | static_cast<unsigned char>(m_lengthBytes.at(i));
        m_expected = qint64(length) - lengthExtra;
        if (m_expected <= 0 || m_expected > largestImage) {
            refuse(QStringLiteral("Неверная длина файла  -  %1").arg(length));
            break;
        }
        m_block.clear();
        m_block.reserve(m_expected);
        m_checksumBytes.clear();
        m_state = TState::Data;
        break;
    }
    case TState::Data:
        m_block.append(char(byte));
        if (m_block.size() == m_expected)
            m_state = TState::Checksum;
        break;
    case TState::Checksum: {
        m_checksumBytes.append(char(byte));
        if (m_checksumBytes.size() < 2)
            break;
        m_gapTimer.stop();
        const quint16 received = quint16(static_cast<unsigned char>(m_checksumBytes.at(0))
                                         | (static_cast<unsigned char>(m_checksumBytes.at(1)) << 8));
        if (received != sum16(m_block)) {
            refuse(QStringLiteral("Контрольная сумма файла  -  ОШИБКА"));
            break;
        }
        m_state = TState::Programming;
        m_step = 0;
        show(loaderHead() << receiveLine() << QStringLiteral("Контрольная сумма файла  -  ОК"));
        m_stepTimer.start(m_timing.stepMs);
        break;
    }
    default:
        break; // programming: the loader no longer listens
    }
}

QString TInstrumentLoader::receiveLine() const
{
    constexpr int barCells = 20;
    const int filled = m_expected > 0 ? int(qint64(m_block.size()) * barCells / m_expected) : 0;
    return QStringLiteral("Прием файла  [%1%2]").arg(QString(filled, QChar(0x2588)), QString(barCells - filled, QChar(0x00B7)));
}

void TInstrumentLoader::blockEnded()
{
    if (m_state == TState::Length || m_state == TState::Data || m_state == TState::Checksum)
        refuse(QStringLiteral("Файл принят не полностью  -  ОШИБКА"));
}

void TInstrumentLoader::refuse(const QString &reason)
{
    // The loader stays; the next upload starts again with 0x55 0xAA.
    ++m_refused;
    m_gapTimer.stop();
    m_state = TState::Start;
    show(loaderHead() << receiveLine() << reason);
    m_block.clear();
}

void TInstrumentLoader::nextStep()
{
    if (m_state != TState::Programming)
        return;
    QStringList lines = m_screen;
    lines << programmingSteps.at(m_step++);
    show(lines);
    if (m_step < programmingSteps.size()) {
        m_stepTimer.start(m_timing.stepMs);
        return;
    }
    m_program = m_block;
    m_programChecksum = sum16(m_block);
    m_block.clear();
    ++m_accepted;
    m_state = TState::Restarting;
    m_instrument.setByteSink(nullptr);
    m_instrument.setRestarting(true);
    QTimer::singleShot(m_timing.restartMs, this, &TInstrumentLoader::restarted);
}

void TInstrumentLoader::restarted()
{
    if (m_state != TState::Restarting)
        return;
    // The new program runs at the power-on speed and announces itself.
    m_state = TState::Running;
    m_instrument.setRestarting(false);
    showRunning();
    m_instrument.send(QByteArrayLiteral("L"));
}

void TInstrumentLoader::showRunning()
{
    QStringList lines{QStringLiteral("ТАВЕЛОН")};
    if (m_program.isEmpty())
        lines << QStringLiteral("Программа с завода");
    else
        lines << QStringLiteral("Новая программа: %1 байт").arg(m_program.size())
              << QStringLiteral("Контрольная сумма: %1")
                     .arg(QString::number(m_programChecksum, 16).rightJustified(4, QLatin1Char('0')).toUpper());
    show(lines);
}

void TInstrumentLoader::show(const QStringList &lines)
{
    m_screen = lines;
    Q_EMIT screenChanged(lines);
}

void installFirmwareLoader(TVirtualInstrument &instrument)
{
    new TInstrumentLoader(instrument);
}

TInstrumentLoader *loaderOf(const TVirtualInstrument &instrument)
{
    return instrument.findChild<TInstrumentLoader *>(QStringLiteral("loader"), Qt::FindDirectChildrenOnly);
}
