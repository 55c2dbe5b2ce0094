// Ten megabytes of line noise in random pieces, mixed with real replies, while a
// table and both database lists are loaded: nothing crashes or stalls, the gathered
// bytes stay bounded, nothing loaded changes, and a normal request works afterwards.
// Run by `make check` only (label soak).

#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"
#include "testdb/BDTSLists.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/ListFile.h"
#include "testdb/SampleDatabases.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <random>

namespace {
constexpr qint64 noiseBytes = 10 * 1024 * 1024;
constexpr qint64 maxStallMs = 100;

/// The process's resident memory in KiB, where the system tells it (Linux); 0 elsewhere.
qint64 residentKiB()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toLongLong() * 4 : 0;
}

struct TLoaded
{
    QByteArray table, deviceImage, fileImage, deviceList, fileList, addList;
    bool operator==(const TLoaded &other) const
    {
        return table == other.table && deviceImage == other.deviceImage && fileImage == other.fileImage
               && deviceList == other.deviceList && fileList == other.fileList && addList == other.addList;
    }
};

TLoaded loaded(const TFormMainLoritS_D7 &w)
{
    const TFrameBDTS &f = *w.frameBDTS;
    return {w.odTableText,
            w.bdtsLists->deviceImage.value_or(QByteArray()),
            w.bdtsLists->fileImage.value_or(QByteArray()),
            listFileText(*f.TreeViewTav),
            listFileText(*f.TreeViewFile),
            listFileText(*f.TreeViewAdd)};
}
} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noiseNeverCrashesStallsGrowsOrChangesWhatIsLoaded();
};

void TestSoak::noiseNeverCrashesStallsGrowsOrChangesWhatIsLoaded()
{
    TVirtualRig rig;
    auto &w = *rig.window;

    // A table, the instrument's list and a file's list, loaded as a user loads them.
    w.ActionBDTS->trigger();
    QVERIFY(rig.searchUntilContact());
    QVERIFY(rig.waitLineIdle());
    QTest::mouseClick(w.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.odTableText.size(), 873);
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.bdtsTransfer->running() && rig.backend->lineIdle(), 10000);
    QVERIFY(w.bdtsLists->deviceListLoaded);
    const QString samples = w.programFolder + QStringLiteral("FilesInTavelon");
    QVERIFY(writeSampleDatabases(samples));
    rig.dialogs.answerFile(samples + QLatin1Char('/') + QLatin1String(sampleFileFileName));
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromFile, Qt::LeftButton);
    QVERIFY(w.bdtsLists->fileListLoaded);
    QVERIFY(w.bdtsLists->addTSCount > 0);
    const TLoaded before = loaded(w);

    // The noise: random pieces of random bytes, now and then a real reply (a notice,
    // a contact answer, a program's 'L') in between.
    rig.instrument.setSilent(true);
    rig.takeWritten();
    std::mt19937 random(20261207u);
    const QList<QByteArray> replies{"G", "g", "B", "L"};
    qint64 sent = 0, maxStallNs = 0, midResident = 0;
    qsizetype maxGathered = 0;
    QElapsedTimer clock;
    while (sent < noiseBytes) {
        QByteArray piece(qsizetype(random() % 4096 + 1), Qt::Uninitialized);
        for (char &byte : piece)
            byte = char(random() & 0xFF);
        if (random() % 8 == 0)
            piece += replies.at(qsizetype(random() % replies.size()));
        clock.start();
        rig.backend->injectReceived(piece);
        QCoreApplication::processEvents();
        maxStallNs = qMax(maxStallNs, clock.nsecsElapsed());
        maxGathered = qMax(maxGathered, w.replyBuffer.size());
        sent += piece.size();
        if (midResident == 0 && sent > noiseBytes / 3)
            midResident = residentKiB();
    }
    QVERIFY2(maxStallNs / 1000000 <= maxStallMs, qPrintable(QString::number(maxStallNs / 1000000)));
    QVERIFY(maxGathered <= 99999 + 4096);
    if (midResident > 0)
        QVERIFY2(residentKiB() - midResident < 16 * 1024,
                 qPrintable(QStringLiteral("%1 → %2 KiB").arg(midResident).arg(residentKiB())));
    QVERIFY(before == loaded(w));
    QVERIFY(!w.bdtsTransfer->running());

    // The instrument speaks again: a table request is answered as ever.
    rig.instrument.setSilent(false);
    rig.takeWritten();
    TInstrumentMeasurements *measurements = measurementsOf(rig.instrument);
    measurements->measurePlate();
    QVERIFY(rig.waitLineIdle());
    QTest::mouseClick(w.btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QCOMPARE(w.odTableText, ' ' + measurements->tableReply().mid(1));
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
