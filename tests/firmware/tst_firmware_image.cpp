// The image file and its transfer: what goes on the line for a file, in which chunks,
// with which progress, and which files are refused before anything is sent.

#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestFirmwareImage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aFileOf0x8000BytesGoesOutAsTheWorkedExample();
    void aFileOneByteLongerThanTheHeaderSendsItsByteThenTheFileFromOffsetOne();
    void aDataBlockOfWholeChunksEndsWithAFullChunk();
    void unreadableAndProgramlessFilesAreRefusedWithTheirName();
};

namespace {
/// Bytes that do not repeat at any chunk's or header's distance.
QByteArray pattern(int length)
{
    QByteArray bytes(length, '\0');
    for (int i = 0; i < length; ++i)
        bytes[i] = char((i * 31 + (i >> 8) * 7 + (i >> 14) * 101) & 0xFF);
    return bytes;
}

quint32 sumOf(const QByteArray &bytes)
{
    quint32 sum = 0;
    for (const char c : bytes)
        sum += quint8(c);
    return sum;
}

struct TChunks
{
    QList<int> sizes;
    QList<int> progress;
    QByteArray bytes;
};

TChunks drain(TFirmwareTransfer &transfer)
{
    TChunks chunks;
    while (!transfer.complete()) {
        const QByteArray chunk = transfer.takeChunk();
        chunks.sizes << int(chunk.size());
        chunks.progress << transfer.progress();
        chunks.bytes += chunk;
    }
    return chunks;
}
} // namespace

void TestFirmwareImage::aFileOf0x8000BytesGoesOutAsTheWorkedExample()
{
    const QByteArray file = pattern(0x8000);
    const TFirmwarePacket packet = firmwarePacket(file);
    QCOMPARE(packet.start, QByteArray("\x55\xAA", 2));
    QCOMPARE(packet.length, QByteArray("\x06\x80\x00\x00", 4));
    QCOMPARE(packet.data, file.mid(0x4000) + file.mid(0x4000));

    const quint32 sum = sumOf(packet.data);
    QCOMPARE(packet.checksum, sum);
    QCOMPARE(packet.checksumBytes(), QByteArray() + char(sum & 0xFF) + char((sum >> 8) & 0xFF));

    TFirmwareTransfer transfer(packet);
    QCOMPARE(transfer.progress(), 0);
    const TChunks chunks = drain(transfer);
    QCOMPARE(chunks.sizes, (QList<int>{10000, 10000, 10000, 2768}));
    QCOMPARE(chunks.progress, (QList<int>{30, 61, 91, 100}));
    QCOMPARE(chunks.bytes, packet.data);
    QVERIFY(transfer.takeChunk().isEmpty());
}

void TestFirmwareImage::aFileOneByteLongerThanTheHeaderSendsItsByteThenTheFileFromOffsetOne()
{
    const QByteArray file = pattern(0x4001);
    const TFirmwarePacket packet = firmwarePacket(file);
    QCOMPARE(packet.length, QByteArray("\x07\x40\x00\x00", 4));
    QCOMPARE(packet.data.size(), 0x4001);
    QCOMPARE(packet.data.at(0), file.at(0x4000));
    QCOMPARE(packet.data.mid(1), file.mid(1, 0x4000));
    TFirmwareTransfer transfer(packet);
    QCOMPARE(drain(transfer).sizes, (QList<int>{10000, 6385}));
}

void TestFirmwareImage::aDataBlockOfWholeChunksEndsWithAFullChunk()
{
    const QByteArray file = pattern(40000);
    const TFirmwarePacket packet = firmwarePacket(file);
    QCOMPARE(packet.length, QByteArray("\x46\x9c\x00\x00", 4)); // 40006
    TFirmwareTransfer transfer(packet);
    const TChunks chunks = drain(transfer);
    QCOMPARE(chunks.sizes, (QList<int>{10000, 10000, 10000, 10000}));
    QCOMPARE(chunks.progress, (QList<int>{25, 50, 75, 100}));
}

void TestFirmwareImage::unreadableAndProgramlessFilesAreRefusedWithTheirName()
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("gone.tsk"));
    const auto refusal = [](const QString &path) {
        try {
            readFirmwareFile(path);
        } catch (const std::runtime_error &error) {
            return QString::fromUtf8(error.what());
        }
        return QString();
    };
    QVERIFY(refusal(missing).contains(QStringLiteral("gone.tsk")));
    QVERIFY(!refusal(QString()).isEmpty());

    const auto write = [&](const QString &name, int length) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(pattern(length)) != length)
            return QString();
        return file.fileName();
    };
    for (const int length : {0, 100, 0x4000}) {
        const QString text = refusal(write(QStringLiteral("header_only.tsk"), length));
        QVERIFY2(text.contains(QStringLiteral("header_only.tsk")) && text.contains(QStringLiteral("нет программы")),
                 qPrintable(text));
    }
    const QString good = write(QStringLiteral("good.tsk"), 0x4001);
    QCOMPARE(readFirmwareFile(good), pattern(0x4001));
    QVERIFY(firmwareFileProblem(qint64(0x7FFFFFFF)).contains(QStringLiteral("велик")));

    // The sample image of the demonstration is a real image, and the same on every run.
    QCOMPARE(sampleFirmwareImage(), sampleFirmwareImage());
    QVERIFY(firmwareFileProblem(sampleFirmwareImage().size()).isEmpty());
}

QTEST_GUILESS_MAIN(TestFirmwareImage)
#include "tst_firmware_image.moc"
