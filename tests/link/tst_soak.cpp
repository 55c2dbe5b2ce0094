// Ten megabytes of line noise in random pieces, mixed with real replies, while a
// table and both database lists are loaded: nothing crashes or stalls, the gathered
// bytes stay bounded, nothing loaded changes, and a normal request works afterwards.
// Then noise while the database is read and written and while an upload runs: no
// reading that differs from what the instrument holds is ever taken for its list, no
// writing passes for checked unless the instrument holds it, and no byte of a request
// enters the image on its way to the loader. Run by `make check` only (label soak).

#include "link/LinkControl.h"
#include "link/ReceiveDispatcher.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "link/TMSComm.h"
#include "sim/commands/DatabaseCommands.h"
#include "sim/commands/FirmwareLoader.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"
#include "testdb/TestImages.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/BDTSTreeNode.h"
#include "testdb/SampleDatabases.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QMap>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
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

/// A tree as shown: one line per node, a tab per level, its key's bytes.
QByteArray shownListText(const QTreeWidget &tree)
{
    QByteArray text;
    walkDisplayOrder(tree, [&text](QTreeWidgetItem *item) {
        text.append(nodeLevel(item), '\t').append(bdtsNode(item)->key()).append("\r\n");
    });
    return text;
}

TLoaded loaded(const TFormMainLoritS_D7 &w)
{
    const TFrameBDTS &f = *w.frameBDTS;
    return {w.readerPage->odTableText,
            w.bdtsDatabase->deviceImage.value_or(QByteArray()),
            w.bdtsDatabase->fileImage.value_or(QByteArray()),
            shownListText(*f.TreeViewTav),
            shownListText(*f.TreeViewFile),
            shownListText(*f.TreeViewAdd)};
}

/// One piece of line noise: random bytes, in every other piece one of `codes` somewhere,
/// now and then at its start, where a reply's code stands.
QByteArray noisePiece(std::mt19937 &random, const QByteArray &codes, int maxLength)
{
    QByteArray piece(qsizetype(random() % unsigned(maxLength) + 1), Qt::Uninitialized);
    for (char &byte : piece)
        byte = char(random() & 0xFF);
    if (random() % 2 == 0) {
        const char code = codes.at(qsizetype(random() % unsigned(codes.size())));
        piece[random() % 3 == 0 ? 0 : qsizetype(random() % unsigned(piece.size()))] = code;
    }
    return piece;
}

/// The pages (from 1) in which two database images differ, for the failure message.
QString pagesThatDiffer(const QByteArray &a, const QByteArray &b)
{
    QStringList pages;
    const qsizetype longer = qMax(a.size(), b.size());
    for (qsizetype at = 10, page = 1; at < longer; at += testimg::pageBytes, ++page)
        if (a.mid(at, testimg::pageBytes) != b.mid(at, testimg::pageBytes))
            pages << QString::number(page);
    return QStringLiteral("%1 bytes, the instrument's %2, headers \"%3\" / \"%4\", pages differing: %5")
            .arg(a.size())
            .arg(b.size())
            .arg(QString::fromLatin1(a.left(10)), QString::fromLatin1(b.left(10)), pages.join(QLatin1Char(',')));
}

/// A database of twelve pages, the twelfth the final one.
QByteArray twelvePages()
{
    using namespace testimg;
    return image(record("Grp", "Lab", "A", 3, 400) + record("Grp", "Lab", "B", 4, 401)
                 + record("Grp", "Lab", "C", 4, 402) + finalPage(403));
}

/// A database of eight pages in two groups, the eighth the final one.
QByteArray eightPages()
{
    using namespace testimg;
    return image(record("Gr2", "Lb2", "Q", 5, 501) + record("Grp", "Lab", "P", 2, 500) + finalPage(502));
}

/// A window and an instrument with an image file in its default place and a loader
/// that writes in a third of a second and restarts quickly; noise on the line arrives
/// while it takes the image.
struct TUploadRig : TVirtualRig
{
    static constexpr qint64 fileLength = 0x4000 + 30000; ///< about four seconds on the line
    TInstrumentLoader *loader = loaderOf(instrument);
    const QByteArray file = sampleFirmwareImage(fileLength);

    TUploadRig()
    {
        loader->setTiming({/*boot*/ 30, /*step*/ 60, /*restart*/ 1200, /*gap*/ 300});
        const QString folder = window->programFolder() + QStringLiteral("FilesInTavelon");
        QDir().mkpath(folder);
        QFile out(folder + QStringLiteral("/Tavelon_2008.tsk"));
        if (out.open(QIODevice::WriteOnly))
            out.write(file);
        // Automatic reception on both pages: a notice in the noise must not make a request.
        window->readerPage->chckAutoReadOP->setChecked(true);
        window->resultPage->chckAutoReadRes->setChecked(true);
    }
    /// Everything one upload of the file puts on the line, in order.
    QByteArray wholeStream() const
    {
        const TFirmwarePacket packet = firmwarePacket(file);
        return packet.start + packet.length + packet.data + packet.checksumBytes();
    }
    /// Steps 1 to 3 as the engineer does them, the upload confirmed.
    void startUpload()
    {
        window->ActionSoftTavelonExecute();
        loader->setStylusHeld(true);
        instrument.setPowered(false);
        instrument.setPowered(true);
        window->frameSoftTav->progSteps->StartProgTav_TimerTimer(); // the power-on wait, without waiting it out
        takeWritten();
        dialogs.answerYesNo(true);
        QTest::mouseClick(window->frameSoftTav->btnLoadPO, Qt::LeftButton);
    }
};
} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void noiseNeverCrashesStallsGrowsOrChangesWhatIsLoaded();
    void aDatabaseExchangeUnderNoiseOrAPausedCountNeverPassesForTheInstrumentsContent();
    void anUploadUnderNoiseSendsOnlyTheImageAndALineCutAfterItsLastChunkCancelsIt();
    void anErrorBoxLeftOpenUnderNoiseStaysTheOnlyOneAndNoiseSavesNothing();
};

void TestSoak::noiseNeverCrashesStallsGrowsOrChangesWhatIsLoaded()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    const qint64 startResident = residentKiB();
    qInfo("resident memory at start: %lld KiB", startResident);

    // A table, the instrument's list and a file's list, loaded as a user loads them.
    w.shell.ActionBDTS->trigger();
    QVERIFY(rig.searchUntilContact());
    QVERIFY(rig.waitLineIdle());
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.readerPage->odTableText.size(), 873);
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!w.bdtsTransfer->running() && rig.backend->lineIdle(), 10000);
    QVERIFY(w.bdtsDatabase->deviceListLoaded);
    const QString samples = w.programFolder() + QStringLiteral("FilesInTavelon");
    QVERIFY(writeSampleDatabases(samples));
    rig.dialogs.answerFile(samples + QLatin1Char('/') + QLatin1String(sampleFileFileName));
    QTest::mouseClick(w.frameBDTS->btnReadBDTSFromFile, Qt::LeftButton);
    QVERIFY(w.bdtsDatabase->fileListLoaded);
    QVERIFY(w.bdtsDatabase->addTSCount > 0);
    const TLoaded before = loaded(w);

    // The noise: random pieces of random bytes, now and then a real reply (a notice,
    // a contact answer, a program's 'L') in between.
    rig.instrument.setSilent(true);
    rig.takeWritten();
    std::mt19937 random(20261207u);
    const QList<QByteArray> replies{"G", "g", "B", "L"};
    qint64 sent = 0, maxStallNs = 0, midResident = 0;
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
        sent += piece.size();
        if (midResident == 0 && sent > noiseBytes / 3)
            midResident = residentKiB();
    }
    QVERIFY2(maxStallNs / 1000000 <= maxStallMs, qPrintable(QString::number(maxStallNs / 1000000)));
    if (midResident > 0)
        QVERIFY2(residentKiB() - midResident < 16 * 1024,
                 qPrintable(QStringLiteral("%1 → %2 KiB").arg(midResident).arg(residentKiB())));
    QVERIFY(before == loaded(w));
    QVERIFY(!w.bdtsTransfer->running());
    const qint64 endResident = residentKiB();
    qInfo("resident memory at the end of the noise: %lld KiB", endResident);
    // What loading the lists and the table costs is taken once; noise must add nothing.
    if (startResident > 0)
        QVERIFY2(endResident - startResident < 32 * 1024,
                 qPrintable(QStringLiteral("%1 → %2 KiB").arg(startResident).arg(endResident)));

    // The instrument speaks again: a table request is answered as ever.
    rig.instrument.setSilent(false);
    rig.takeWritten();
    TInstrumentMeasurements *measurements = measurementsOf(rig.instrument);
    measurements->measurePlate();
    QVERIFY(rig.waitLineIdle());
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QCOMPARE(w.readerPage->odTableText, ' ' + measurements->tableReply().mid(1));
}

void TestSoak::aDatabaseExchangeUnderNoiseOrAPausedCountNeverPassesForTheInstrumentsContent()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.shell.ActionBDTS->trigger();
    TFrameBDTS &f = *w.frameBDTS;
    TBDTSTransfer &t = *w.bdtsTransfer;
    TBDTSDatabase &lists = *w.bdtsDatabase;
    TInstrumentDatabase &held = *databaseOf(rig.instrument);
    QVERIFY(rig.reachTopSpeed());
    QVERIFY(rig.waitLineIdle());
    const auto transferEnded = [&] { return !t.running() && rig.backend->lineIdle(); };

    // The instrument holds each database in the form a reading gives it, and each list
    // is known from a reading without noise.
    QMap<QByteArray, QByteArray> listOf;
    const auto holdAsRead = [&](const QByteArray &image) {
        held.setImage(image);
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        if (!TVirtualRig::waitUntil(transferEnded, 10000) || !lists.deviceImage)
            return QByteArray();
        const QByteArray normal = *lists.deviceImage;
        held.setImage(normal);
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        if (!TVirtualRig::waitUntil(transferEnded, 10000) || lists.deviceImage != normal)
            return QByteArray();
        listOf.insert(normal, shownListText(*f.TreeViewTav));
        return normal;
    };
    const QByteArray twelve = holdAsRead(twelvePages());
    QVERIFY(!twelve.isEmpty());
    QCOMPARE(w.statusText(), QStringLiteral("Принято из прибора страниц: 12"));
    const QByteArray eight = holdAsRead(eightPages());
    QVERIFY(!eight.isEmpty());
    // The file to be written: the eight pages, as opening it gives them.
    const QString path = rig.folder.filePath(QStringLiteral("eight.bdt"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(eightPages()), qint64(eightPages().size()));
    file.close();
    rig.dialogs.answerFile(path);
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QCOMPARE(lists.fileImage.value_or(QByteArray()), eight);

    // A pause inside the count reply reads "1" of "12": that one page is no database,
    // whether the pages come in one piece, page by page or in random pieces.
    held.setImage(twelve);
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QVERIFY(TVirtualRig::waitUntil(transferEnded, 10000));
    QCOMPARE(lists.deviceImage.value_or(QByteArray()), twelve);
    const QByteArray listBefore = shownListText(*f.TreeViewTav);
    std::mt19937 random(20261208u);
    rig.instrument.setSilent(true);
    for (int round = 0; round < 6; ++round) {
        rig.takeWritten();
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        // (After a disturbed reading the request goes once the line is quiet.)
        QVERIFY(TVirtualRig::waitUntil([&] { return rig.backend->written() == "R"; }, 2000));
        rig.backend->injectReceived("R  1");
        // A pause longer than the quiet that ends a count (shorter ones do not split it).
        constexpr int quiet = TReceiveDispatcher::quietMs;
        const int pauseMs = round == 0 ? quiet + 5 : round == 1 ? quiet + 100 : int(quiet + 5 + random() % 96);
        // The count is read once the line has been quiet: the page is asked for within
        // the pause.
        const QDeadlineTimer pause(pauseMs);
        QVERIFY(TVirtualRig::waitUntil([&] { return pause.hasExpired() && rig.backend->written() == "Rr"; }, 2000));
        rig.takeWritten();
        rig.backend->injectReceived("2");
        QCoreApplication::processEvents();
        // The status the reading ends with: page bytes that follow may pass for a notice.
        QString endStatus;
        const auto deliver = [&](const QByteArray &bytes) {
            rig.backend->injectReceived(bytes);
            QCoreApplication::processEvents();
            if (endStatus.isNull() && !t.running())
                endStatus = w.statusText();
        };
        QByteArray replies;
        for (int page = 0; page < 12; ++page)
            replies += 'r' + twelve.mid(10 + page * 528, 528);
        for (qsizetype at = 0; at < replies.size();) {
            const qsizetype length = round % 3 == 0 ? 529 : round % 3 == 1 ? replies.size() : qsizetype(random() % 700 + 1);
            deliver(replies.mid(at, length));
            at += length;
        }
        QVERIFY(TVirtualRig::waitUntil(transferEnded, 1000));
        QVERIFY2(endStatus.startsWith(QStringLiteral("Чтение БД ТС из прибора нарушено")),
                 qPrintable(QStringLiteral("round %1: %2").arg(round).arg(endStatus)));
        QCOMPARE(lists.deviceImage.value_or(QByteArray()), twelve);
        QCOMPARE(shownListText(*f.TreeViewTav), listBefore);
        QVERIFY(!f.TreeViewTav->isHidden());
    }
    rig.instrument.setSilent(false);

    // Readings and writings with noise pieces arriving while they run: a piece that
    // passes for a page, a count, a writing's answer, a notice, a contact reply, the
    // program's 'L', or plain garbage that lands inside a reply. However each one ends
    // (complete, refused, or at its time limit), the instrument's list is either left as
    // it was or is exactly what the instrument holds; "checked" is said only of a
    // database the instrument holds. A list taken wrongly is noted and the rounds go on,
    // so that one run shows every way it happens.
    const QByteArray codes("rRmGBL");
    const QString checked = QStringLiteral("БД ТС записана в прибор и проверена");
    constexpr int rounds = 18;
    int accepted = 0, refused = 0;
    QStringList wrongLists;
    for (int round = 0; round < rounds; ++round) {
        QVERIFY(rig.waitLineIdle());
        const bool writing = round % 3 == 2;
        if (writing)
            held.setImage(twelve); // the writing changes what the instrument holds
        const std::optional<QByteArray> before = lists.deviceImage;
        const QByteArray listShownBefore = shownListText(*f.TreeViewTav);
        const qsizetype errorsBefore = rig.dialogs.errors.size();
        QTest::mouseClick(writing ? f.btnWriteBDTSInTav : f.btnReadBDTSFromTav, Qt::LeftButton);
        // (After a disturbed reading the request goes once the line is quiet.)
        QVERIFY(TVirtualRig::waitUntil([&] { return t.running(); }, 2000));

        // A reading takes about half a second on the line, a writing with its read-back
        // about twice that: the pieces are spread over either.
        const int planned = int(random() % 4 + 1);
        const unsigned spreadMs = writing ? 700 : 350;
        int injected = 0;
        QElapsedTimer clock;
        clock.start();
        qint64 nextAt = qint64(random() % spreadMs);
        QElapsedTimer stalled; // the line idle, no reply on its way, nothing more to come
        QString status;        // as the exchange ended: noise behind it may say more
        const bool ended = TVirtualRig::waitUntil([&] { return !t.running(); }, 10000, [&] {
            if (!t.running()) {
                if (status.isNull())
                    status = w.statusText();
                return;
            }
            if (injected < planned && clock.elapsed() >= nextAt) {
                // Now and then a whole page's worth behind an 'r'; mostly short bursts.
                const QByteArray piece = random() % 6 == 0 ? 'r' + noisePiece(random, codes, 600).leftJustified(528, 'x')
                                                           : noisePiece(random, codes, 64);
                rig.backend->injectReceived(piece);
                ++injected;
                nextAt = clock.elapsed() + qint64(random() % spreadMs);
            }
            const bool waiting = injected >= planned && rig.backend->lineIdle() && !rig.window->line->AwaitingPause();
            if (!waiting)
                stalled.invalidate();
            else if (!stalled.isValid())
                stalled.start();
            else if (stalled.elapsed() > 150)
                t.TimeLimit_TimerTimer(); // what the time limit would do, without its 3 s
        });
        QVERIFY2(ended, qPrintable(QStringLiteral("round %1 did not end").arg(round)));
        QVERIFY(rig.waitLineIdle());
        if (status.isNull())
            status = w.statusText();

        const QByteArray holds = held.image();
        const QString what = QStringLiteral("round %1 (%2), status \"%3\"")
                                     .arg(round)
                                     .arg(writing ? QStringLiteral("writing") : QStringLiteral("reading"), status);
        if (writing)
            QVERIFY2(holds == twelve || holds == eight, qPrintable(what + QStringLiteral(": the instrument holds neither")));
        if (status.startsWith(checked)) {
            QVERIFY2(writing, qPrintable(what));
            QVERIFY2(holds == eight, qPrintable(what + QStringLiteral(": ") + pagesThatDiffer(holds, eight)));
            QCOMPARE(rig.dialogs.errors.size(), errorsBefore);
        }
        if (lists.deviceImage == before) {
            QCOMPARE(shownListText(*f.TreeViewTav), listShownBefore);
            ++refused;
            continue;
        }
        ++accepted;
        if (lists.deviceImage != holds) {
            wrongLists << what + QStringLiteral(": taken ")
                                  + pagesThatDiffer(lists.deviceImage.value_or(QByteArray()), holds);
            continue;
        }
        QCOMPARE(shownListText(*f.TreeViewTav), listOf.value(holds));
    }
    qInfo("%d exchanges replaced the instrument's list, %d left it as it was", accepted, refused);
    QVERIFY2(wrongLists.isEmpty(),
             qPrintable(QStringLiteral("the instrument's list was replaced by what it does not hold:\n")
                        + wrongLists.join(QLatin1Char('\n'))));

    // Without noise the instrument's database is read as ever.
    QVERIFY(rig.waitLineIdle());
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QVERIFY(TVirtualRig::waitUntil(transferEnded, 10000));
    QCOMPARE(lists.deviceImage.value_or(QByteArray()), held.image());
}

void TestSoak::anUploadUnderNoiseSendsOnlyTheImageAndALineCutAfterItsLastChunkCancelsIt()
{
    std::mt19937 random(20261209u);
    const QByteArray codes("GgBL");
    const QString done = QStringLiteral("Перепрограммирование прибора завершено");

    // Notices, contact replies and 'L' among the noise during a whole upload: the line
    // carries the image and nothing else, and the loader takes it.
    {
        TUploadRig rig;
        auto &w = *rig.window;
        const QByteArray stream = rig.wholeStream();
        rig.startUpload();
        QCOMPARE(w.statusText(), TProgSteps::sendingText());
        bool prefix = true;
        int pieces = 0;
        QElapsedTimer clock;
        clock.start();
        qint64 nextAt = 0;
        bool imageGone = false;
        QVERIFY(TVirtualRig::waitUntil([&] { return w.statusText() == done || !prefix; }, 20000, [&] {
            if (prefix && !stream.startsWith(rig.backend->written())) {
                // Say where the line left the image, and in what state, for the one who
                // looks into it.
                const QByteArray written = rig.backend->written();
                qsizetype at = 0;
                while (at < written.size() && at < stream.size() && written[at] == stream[at])
                    ++at;
                qWarning("foreign bytes at %lld of %lld written (image %lld): %s; sent %d, status \"%s\"",
                         qlonglong(at), qlonglong(written.size()), qlonglong(stream.size()),
                         written.mid(at, 8).toHex(' ').constData(), int(w.frameSoftTav->progSteps->writing()),
                         qPrintable(w.statusText()));
                prefix = false;
            }
            // The noise ends with the image: once reprogramming is over, the line is free
            // again, and a notice then rightly makes its request.
            imageGone = imageGone || w.frameSoftTav->progSteps->writing() || w.statusText() == done;
            if (imageGone || pieces >= 400 || clock.elapsed() < nextAt)
                return;
            rig.backend->injectReceived(noisePiece(random, codes, 32));
            ++pieces;
            nextAt = clock.elapsed() + qint64(random() % 40);
        }));
        QVERIFY2(prefix, "a byte that is not the image's went on the line during the upload");
        QVERIFY(pieces > 20);
        QVERIFY(rig.waitLineIdle());
        QCOMPARE(rig.takeWritten(), stream);
        QCOMPARE(rig.loader->accepted(), 1);
        QCOMPARE(rig.loader->program(), firmwarePacket(rig.file).data);
        QVERIFY(rig.dialogs.errors.isEmpty());
    }

    // The instrument is switched off when the last chunk has been handed over and bytes
    // still wait: the upload is cancelled, and whatever noise or 'L' comes later, it is
    // never reported as done.
    TUploadRig rig;
    auto &w = *rig.window;
    const QByteArray stream = rig.wholeStream();
    rig.startUpload();
    bool prefix = true;
    int pieces = 0;
    QElapsedTimer clock;
    clock.start();
    qint64 nextAt = 0;
    const auto noise = [&] {
        prefix = prefix && stream.startsWith(rig.backend->written());
        if (pieces >= 400 || clock.elapsed() < nextAt)
            return;
        rig.backend->injectReceived(noisePiece(random, codes, 32));
        ++pieces;
        nextAt = clock.elapsed() + qint64(random() % 40);
    };
    QVERIFY(TVirtualRig::waitUntil([&] { return !prefix || (w.frameSoftTav->progSteps->firmwareImage() && w.frameSoftTav->progSteps->firmwareImage()->complete()); }, 20000, noise));
    QVERIFY2(prefix, "a byte that is not the image's went on the line during the upload");
    QVERIFY(w.line->OutBufferCount() > 0);
    QVERIFY(stream.startsWith(rig.backend->written()));
    rig.instrument.setPowered(false);
    QCOMPARE(w.statusText(), QStringLiteral("Перепрограммирование прибора отменено."));
    QCOMPARE(w.line->OutBufferCount(), 0);

    // The line stays down for a while under noise and 'L', then the instrument's own
    // program comes back and says 'L' itself. The upload is over: what the program asks
    // from now on is no part of the image.
    bool claimedDone = false, backAtStep2 = false;
    const auto watch = [&] {
        claimedDone = claimedDone || w.statusText().startsWith(done);
        backAtStep2 = backAtStep2 || w.statusText() == QStringLiteral("Выключите прибор. Шаг 2.");
    };
    const QDeadlineTimer down(300);
    QVERIFY(TVirtualRig::waitUntil([&] { return down.hasExpired(); }, 2000, [&] {
        watch();
        if (pieces < 600 && clock.elapsed() >= nextAt) {
            rig.backend->injectReceived(noisePiece(random, "LL", 32));
            ++pieces;
            nextAt = clock.elapsed() + qint64(random() % 40);
        }
    }));
    rig.loader->setStylusHeld(false);
    rig.instrument.setPowered(true);
    QVERIFY(TVirtualRig::waitUntil([&] { return backAtStep2 && rig.backend->lineIdle(); }, 5000, watch));
    QVERIFY(rig.waitLineIdle());
    watch();
    QVERIFY(!claimedDone);
    QCOMPARE(rig.loader->accepted(), 0);
}

void TestSoak::anErrorBoxLeftOpenUnderNoiseStaysTheOnlyOneAndNoiseSavesNothing()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    TReaderPage &page = *w.readerPage;
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::mouseClick(page.chckAutoReadOP, Qt::LeftButton);
    QTest::mouseClick(page.chckAutoSaveOP, Qt::LeftButton);
    QVERIFY(page.chckAutoReadOP->isChecked() && page.chckAutoSaveOP->isChecked());
    // The instrument's name for the next table is taken by a folder: the error box
    // opens, and nobody answers it while the cable picks up noise with no instrument.
    TInstrumentMeasurements &plate = *measurementsOf(rig.instrument);
    const QDir folder(rig.documentsFolder()); // where the automatic saves go
    QVERIFY(QDir().mkpath(folder.path()));
    const qint64 startResident = residentKiB();
    qInfo("resident memory at start: %lld KiB", startResident);
    std::mt19937 random(20261210u);
    qint64 sent = 0;
    rig.dialogs.whileErrorShown = [&] {
        rig.instrument.setSilent(true);
        while (sent < noiseBytes / 2) {
            const QByteArray piece = noisePiece(random, "GgDdN2", 4096);
            rig.backend->injectReceived(piece);
            QCoreApplication::processEvents();
            sent += piece.size();
        }
    };
    plate.measurePlate(); // its notice is on its way
    QVERIFY(folder.mkdir(QString::fromLatin1(plate.fileNameReply())));
    QVERIFY2(TVirtualRig::waitUntil([&] { return !rig.dialogs.errors.isEmpty() && rig.dialogs.openErrorBoxes == 0; },
                                    20000),
             qPrintable(w.statusText() + QString::fromLatin1(rig.backend->written())));
    const qint64 endResident = residentKiB();
    qInfo("resident memory at the end: %lld KiB, after %lld bytes of noise", endResident, sent);
    QVERIFY(sent >= noiseBytes / 2);
    // One box, never one inside another; the noise saved no table.
    QCOMPARE(rig.dialogs.mostOpenErrorBoxes, 1);
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.at(0).contains(QString::fromLatin1(plate.fileNameReply())));
    QCOMPARE(folder.entryList(QDir::Files), QStringList());
    if (startResident > 0)
        QVERIFY2(endResident - startResident < 16 * 1024,
                 qPrintable(QStringLiteral("%1 → %2 KiB").arg(startResident).arg(endResident)));
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
