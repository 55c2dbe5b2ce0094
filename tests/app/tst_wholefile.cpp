// Files are written whole or not at all: on a full disk and in a read-only folder the
// earlier file stays as it was, the failure is reported, and nothing says it was written.

#include "measure/ResultPage.h"
#include "common/WholeFile.h"
#include "measure/MeasureData.h"
#include "sim/commands/MeasureCommands.h"
#include "support/FileBytes.h"
#include "support/VirtualRig.h"

#include <QDir>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <stdexcept>

namespace {
/// A small file system of its own (tmpfs) at a temporary folder. Mounting needs the
/// right to mount; CTest runs this test in a mount namespace of its own where it can.
class TTinyDisk
{
public:
    explicit TTinyDisk(int kib, bool readOnly = false)
    {
        const QString options = QStringLiteral("size=%1k%2").arg(kib).arg(readOnly ? QStringLiteral(",ro") : QString());
        m_mounted = QProcess::execute(QStringLiteral("mount"),
                                      {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"), options,
                                       QStringLiteral("tmpfs"), m_dir.path()})
                    == 0;
    }
    ~TTinyDisk()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir.path()});
    }
    bool mounted() const { return m_mounted; }
    QString path(const QString &name = QString()) const { return m_dir.path() + QLatin1Char('/') + name; }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

} // namespace

class TestWholeFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aFullDiskLeavesTheEarlierFileAndTheProtocolSurvives();
    void aReadOnlyFolderRefusesEveryWriteAndSaysSo();
};

void TestWholeFile::aFullDiskLeavesTheEarlierFileAndTheProtocolSurvives()
{
    TTinyDisk disk(64);
    if (!disk.mounted())
        QSKIP("no right to mount a small file system here");
    const QString target = disk.path(QStringLiteral("MSTempProtokol.txt"));
    const QByteArray earlier(4000, 'e');
    QVERIFY(writeFileWhole(target, earlier).isEmpty());
    QVERIFY(writeFileWhole(disk.path(QStringLiteral("filler")), QByteArray(52 * 1024, 'f')).isEmpty());

    // Too big for what is left (8 KiB), yet small enough to wait in the file's buffer
    // until the flush: refused with the system's reason, the old file intact, no
    // temporary file left behind.
    QVERIFY(!writeFileWhole(target, QByteArray(12 * 1024, 'n')).isEmpty());
    QCOMPARE(fileBytes(target), earlier);
    QCOMPARE(QDir(disk.path()).entryList(QDir::Files).size(), 2);
    try {
        writeWholeFile(target, QByteArray(12 * 1024, 'n'));
        QFAIL("a failed write must not pass for a written file");
    } catch (const std::runtime_error &error) {
        QVERIFY(QString::fromUtf8(error.what()).contains(target));
    }

    // A protocol that the full disk cannot keep is shown and saved all the same.
    TVirtualRig rig(TRigOptions().inFolder(disk.path()));
    auto &w = *rig.window;
    QByteArray text = TInstrumentMeasurements::sampleProtocol(15, QDate(2011, 12, 25), {});
    while (text.size() < 12 * 1024)
        text += text;
    text.truncate(12 * 1024);
    QVERIFY(rig.fetchProtocol(text));
    // The run archive in the same folder cannot be made either, and says so after.
    QCOMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors.at(0).contains(QStringLiteral("MSTempProtokol.txt")));
    QVERIFY2(rig.dialogs.errors.at(1).startsWith(QStringLiteral("Архив")), qPrintable(rig.dialogs.errors.at(1)));
    QCOMPARE(fileBytes(target), earlier);
    QVERIFY(w.resultPage->Memo1->toPlainText().startsWith(QStringLiteral("Анализатор ИФА ТАВЕЛОН")));

    QTemporaryDir elsewhere;
    rig.dialogs.answerFile(elsewhere.path() + QStringLiteral("/protocol.txt"));
    QTest::mouseClick(w.resultPage->btnSaveProtokol, Qt::LeftButton);
    QCOMPARE(fileBytes(elsewhere.path() + QStringLiteral("/protocol.txt")), text);
    QCOMPARE(w.statusText(), QStringLiteral("Данные записаны в файл."));
}

void TestWholeFile::aReadOnlyFolderRefusesEveryWriteAndSaysSo()
{
    TTinyDisk disk(64, true);
    if (!disk.mounted())
        QSKIP("no right to mount a small file system here");
    TVirtualRig rig(TRigOptions().inFolder(disk.path()));
    auto &w = *rig.window;

    // Saving to the folder fails in the error box; the status line does not claim it.
    QVERIFY(rig.fetchProtocol(TInstrumentMeasurements::sampleProtocol(16, QDate(2011, 12, 25), {})));
    // The working file's box, then the run archive's, which cannot be made there either.
    QCOMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors.at(1).contains(QStringLiteral("архива")));
    const QString before = w.statusText();
    rig.dialogs.answerFile(disk.path(QStringLiteral("protocol.txt")));
    QTest::mouseClick(w.resultPage->btnSaveProtokol, Qt::LeftButton);
    QCOMPARE(rig.dialogs.errors.size(), 3);
    QVERIFY(rig.dialogs.errors.at(2).contains(QStringLiteral("protocol.txt")));
    QCOMPARE(w.statusText(), before);
    QVERIFY(QDir(disk.path()).entryList(QDir::Files).isEmpty());
}

QTEST_MAIN(TestWholeFile)
#include "tst_wholefile.moc"
