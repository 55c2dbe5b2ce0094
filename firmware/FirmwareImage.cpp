#include "firmware/FirmwareImage.h"

#include "common/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include <algorithm>
#include <stdexcept>

QByteArray TFirmwarePacket::checksumBytes() const
{
    QByteArray bytes;
    bytes.append(char(checksum & 0xFF));
    bytes.append(char((checksum >> 8) & 0xFF));
    return bytes;
}

quint32 byteSum(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (const char byte : bytes)
        sum += static_cast<unsigned char>(byte);
    return sum;
}

QString firmwareFileProblem(qint64 fileLength)
{
    if (fileLength <= tsk::headerSize)
        return QStringLiteral("в файле нет программы (%1 байт, заголовок занимает %2).")
            .arg(fileLength)
            .arg(tsk::headerSize);
    if (fileLength > tsk::largestFile)
        return QStringLiteral("файл слишком велик (%1 байт), загрузчик прибора принимает не больше %2 байт.")
            .arg(QLocale(QLocale::Russian).toString(fileLength), QLocale(QLocale::Russian).toString(tsk::largestFile));
    return {};
}

TFirmwarePacket firmwarePacket(const QByteArray &file)
{
    TFirmwarePacket packet;
    packet.start = QByteArray("U") + char(0xAA);

    // The payload goes first; the image keeps its length, so its tail is the file's own
    // last 0x4000 bytes, left where they were.
    packet.data = file;
    const qint64 payload = file.size() - tsk::headerSize;
    if (payload > 0)
        std::copy(file.constBegin() + tsk::headerSize, file.constEnd(), packet.data.begin());

    const quint32 length = quint32(file.size()) + tsk::lengthExtra;
    for (int shift = 0; shift < 32; shift += 8)
        packet.length.append(char((length >> shift) & 0xFF));
    packet.checksum = byteSum(packet.data);
    return packet;
}

QByteArray readFirmwareFile(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    // A pipe or a device would block the window on opening or never end: only a
    // regular file is read.
    if (!path.isEmpty() && QFileInfo::exists(path) && !QFileInfo(path).isFile())
        throw std::runtime_error(QStringLiteral("Не удается прочитать файл %1: это не обычный файл.").arg(shown).toStdString());
    QFile file(path);
    if (path.isEmpty() || !file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Не удается прочитать файл %1: %2")
                                     .arg(shown, path.isEmpty() ? QStringLiteral("файл не выбран.")
                                                                : file.errorString())
                                     .toStdString());
    const QString problem = firmwareFileProblem(file.size());
    if (!problem.isEmpty())
        throw std::runtime_error(QStringLiteral("Файл %1 нельзя загрузить в прибор: %2").arg(shown, problem).toStdString());
    const QByteArray bytes = file.readAll();
    if (bytes.size() != file.size())
        throw std::runtime_error(QStringLiteral("Не удается прочитать файл %1: %2")
                                     .arg(shown, file.errorString())
                                     .toStdString());
    return bytes;
}

qint64 lineBytes(const TFirmwarePacket &packet)
{
    return packet.start.size() + packet.length.size() + packet.data.size() + packet.checksumBytes().size();
}

QString uploadSummary(const TFirmwarePacket &packet, qint32 baud)
{
    const QLocale russian(QLocale::Russian);
    const qint64 bytes = lineBytes(packet);
    QString text = QStringLiteral("Будет отправлено %1 байт").arg(russian.toString(bytes));
    if (baud <= 0)
        return text + QLatin1Char('.');
    // Ten bits a byte: start, eight data bits, stop.
    const qint64 seconds = (bytes * 10 + baud - 1) / baud;
    QString duration;
    if (seconds < 60)
        duration = QStringLiteral("%1 с").arg(seconds);
    else if (seconds < 3600)
        duration = QStringLiteral("%1 мин %2 с").arg(seconds / 60).arg(seconds % 60);
    else
        duration = QStringLiteral("%1 ч %2 мин").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return text + QStringLiteral(", на скорости %1 это займет около %2.").arg(baud).arg(duration);
}

namespace {
const QByteArray &sampleImageName()
{
    static const QByteArray name = QByteArrayLiteral("TAVELON control program, sample image for the virtual instrument");
    return name;
}
} // namespace

QByteArray sampleFirmwareImage(qint64 length)
{
    QByteArray image(length, '\0');
    const QByteArray &name = sampleImageName();
    image.replace(0, std::min<qint64>(name.size(), length), name.left(length));
    // A 32-bit counter run through a mixing step: no byte pattern repeats at a chunk's
    // distance, so a chunk in the wrong place or an off-by-one shows.
    quint32 state = 0x2008u;
    for (qint64 i = name.size(); i < length; ++i) {
        state = state * 1664525u + 1013904223u;
        image[i] = char(state >> 24);
    }
    return image;
}

bool writeSampleFirmware(const QString &folder)
{
    if (!QDir().mkpath(folder))
        return false;
    return writeFileWhole(QDir(folder).filePath(QString::fromLatin1(tsk::defaultFileName)), sampleFirmwareImage())
        .isEmpty();
}

bool isDemoFirmwareImage(const QByteArray &file)
{
    return file.size() == tsk::demoImageLength && file.startsWith(sampleImageName());
}

bool isDemoFirmwareFile(const QString &path)
{
    QFile file(path);
    if (file.size() != tsk::demoImageLength || !file.open(QIODevice::ReadOnly))
        return false;
    return file.read(sampleImageName().size()) == sampleImageName();
}
