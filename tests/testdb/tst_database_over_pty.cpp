// A database of 100 pages read from and written into the virtual instrument over a
// pseudo-terminal whose far end keeps the line's pace, on the real serial backend:
// every byte arrives as it was sent.

#include "testdb/UnitBDTS_TreeTS.h"
#include "link/ContactSearch.h"
#include "link/LinkControl.h"
#include "TestImages.h"

#include "app/MainLoritS_TreeTS.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/DatabaseCommands.h"
#include "support/PtyWindow.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"

#include <QFile>
#include <QTest>
#include <QTimer>

namespace {
/// 99 one-page records in key order and a final page: already in normal form, so what
/// the window keeps after a reading is byte for byte what the instrument holds.
QByteArray hundredPages(const QByteArray &maker, quint32 seed)
{
    QByteArray pages;
    for (int i = 0; i < 99; ++i)
        pages += testimg::record("Group", maker, "E" + QByteArray::number(100 + i), 1, seed + quint32(i));
    return testimg::image(pages + testimg::finalPage(seed));
}
} // namespace

class TestDatabaseOverPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aHundredPagesTravelByteExactBothWays();
};

void TestDatabaseOverPty::aHundredPagesTravelByteExactBothWays()
{
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    const QByteArray held = hundredPages("Lab", 1);
    databaseOf(instrument)->setImage(held);
    TPtyWindow pty(&instrument);
    QVERIFY(pty.link.linePaced());
    auto &w = *pty.window;
    auto &dialogs = pty.dialogs;
    auto &folder = pty.folder;
    w.ActionBDTSExecute();
    QTRY_VERIFY_WITH_TIMEOUT(w.line->search->contactEstablished() && !w.line->search->running() && !w.line->search->SendCommand_Timer->isActive(),
                             10000);

    TBDTSDatabase &lists = *w.bdtsDatabase;
    TBDTSTransfer &transfer = *w.bdtsTransfer;
    w.frameBDTS->btnReadBDTSFromTavClick();
    QTRY_VERIFY_WITH_TIMEOUT(lists.deviceListLoaded && !transfer.running(), 20000);
    QCOMPARE(w.statusText(), QStringLiteral("Принято из прибора страниц: 100"));
    QCOMPARE(*lists.deviceImage, held);

    const QByteArray file = hundredPages("Other", 500);
    const QString path = folder.filePath(QStringLiteral("hundred.bdt"));
    QFile out(path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    out.write(file);
    out.close();
    dialogs.answerFile(path);
    w.frameBDTS->btnReadBDTSFromFileClick();
    w.frameBDTS->btnWriteBDTSInTavClick();
    QTRY_VERIFY_WITH_TIMEOUT(databaseOf(instrument)->image() == file, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!transfer.running() && *lists.deviceImage == file, 20000);
    QCOMPARE(w.statusText(), QStringLiteral("БД ТС записана в прибор и проверена: страниц 100."));
    QVERIFY(dialogs.errors.isEmpty());
}

QTEST_MAIN(TestDatabaseOverPty)
#include "tst_database_over_pty.moc"
