// The database as data, without a page: lists built from images, images rebuilt from
// lists, the additional list, appending, deleting by keys and the list files.

#include "TestImages.h"

#include "testdb/BDTSDatabase.h"
#include "testdb/KeyOrder.h"
#include "testdb/SampleDatabases.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace testimg;

namespace {

QByteArray cp(const char *utf8)
{
    return encodeKeyText(QString::fromUtf8(utf8));
}

/// The list as lines: a tab per level, then the shown text.
QStringList outline(const TKeyTree &tree)
{
    QStringList lines;
    walkKeyTree(tree, [&lines](const TKeyNode &node, int level) { lines << QString(level, u'\t') + node.text; });
    return lines;
}

/// The bytes of each test system's record, in list order, through its locator.
QList<QByteArray> located(const TKeyTree &tree, const std::vector<TTSRecordRef> &records, const QByteArray &image)
{
    QList<QByteArray> bytes;
    walkEntries(tree, [&](const TKeyNode &entry, const TKeyPath &) {
        const TTSRecordRef ref = records.at(size_t(entry.recordIndex));
        bytes << image.mid(ref.offset, ref.pageCount * 528);
    });
    return bytes;
}

} // namespace

class TestBDTSDatabase : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        db = std::make_unique<TBDTSDatabase>();
        db->setProgramFolder(folder->path() + u'/');
        status = std::make_unique<QSignalSpy>(db.get(), &TBDTSDatabase::statusText);
        changes = std::make_unique<QSignalSpy>(db.get(), &TBDTSDatabase::changed);
    }

    void cleanup()
    {
        changes.reset();
        status.reset();
        db.reset();
        folder.reset();
    }

    void readingsAreListedInKeyOrderAndRebuiltInNormalForm()
    {
        // The smallest database: no test system, one final page.
        QString problem;
        QVERIFY(db->AcceptReading(image(finalPage(5)), 1, &problem));
        QVERIFY(db->deviceTree.empty());
        QCOMPARE(*db->deviceImage, QByteArray("TavBDTS  1") + finalPage(5));
        QCOMPARE(QFileInfo(folder->filePath(deviceListFile)).size(), 0);

        // Records arriving C, A, stray page, B come out A, B, C, each locator moved along.
        const QByteArray c = record(cp("Гормоны"), cp("Иммунолаб"), cp("ТТГ"), 2, 3);
        const QByteArray a = record("Allergy", "Nordika", "IgE", 1, 1);
        const QByteArray b = record(cp("Гепатиты"), "Vectra", "HBsAg", 3, 2);
        changes->clear();
        QVERIFY(db->AcceptReading(image(c + a + page(0, 9) + b + finalPage()), 8, &problem));
        QCOMPARE(outline(db->deviceTree), (QStringList{"Allergy ", "\tNordika ", "\t\tIgE ", "Гепатиты ", "\tVectra ",
                                                       "\t\tHBsAg ", "Гормоны ", "\tИммунолаб ", "\t\tТТГ "}));
        QCOMPARE(*db->deviceImage, QByteArray("TavBDTS  7") + a + b + c + finalPage());
        QCOMPARE(located(db->deviceTree, db->deviceRecords, *db->deviceImage), (QList<QByteArray>{a, b, c}));
        QCOMPARE(db->deviceTSCount, 3);
        QCOMPARE(changes->count(), 1); // the instrument's list; no file yet, no additional list
        QCOMPARE(changes->at(0).at(0).value<TBDTSSide>(), TBDTSSide::Device);
        // The list file in code page 1251, one line per node, CR LF.
        QFile list(folder->filePath(deviceListFile));
        QVERIFY(list.open(QIODevice::ReadOnly));
        QCOMPARE(list.readAll(), "Allergy \r\n\tNordika \r\n\t\tIgE \r\n" + cp("Гепатиты \r\n\tVectra \r\n\t\tHBsAg \r\n")
                                         + "\xc3\xee\xf0\xec\xee\xed\xfb \r\n\t" + cp("Иммунолаб \r\n\t\tТТГ \r\n"));
        list.close(); // Windows keeps an open file from being replaced by the next reading

        // A duplicate's pages, continuation pages included, and a record cut off by the
        // end of the image are passed over whole; a later whole copy is not hidden.
        const QByteArray first = record("G", "M", "X", 2, 1);
        const QByteArray copy = record("G", "M", "X", 3, 2);
        const QByteArray next = record("G", "M", "Y", 1, 3);
        const QByteArray cut = record("G", "M", "Z", 1, 4, 50);
        const QByteArray whole = record("G", "M", "Z", 1, 5);
        QVERIFY(db->AcceptReading(image(first + copy + next + cut + page(0, 6) + whole + finalPage()), 10, &problem));
        QCOMPARE(*db->deviceImage, QByteArray("TavBDTS  5") + first + next + whole + finalPage());
        QVERIFY(problem.isEmpty());
        QVERIFY(status->isEmpty());
    }

    void theAdditionalListAppendsWhatTheInstrumentLacks()
    {
        const QByteArray a = record("G", "M", "A", 1, 1);
        const QByteArray b = record("G", "M", "B", 2, 2);
        const QByteArray c = record("H", "M", "C", 1, 3);
        const QByteArray bElsewhere = record("G", "N", "B", 3, 4); // differs in the middle key only
        const QByteArray d = record("G", "M", "D", 2, 5);
        // A file alone makes no additional list.
        QVERIFY(db->LoadFile(image(a + d + c + bElsewhere + b + finalPage(2)), "f.bdt"));
        QVERIFY(!db->addImage);
        QCOMPARE(status->takeFirst().at(0).toString(), QStringLiteral("Считано из файла f.bdt 5 ТС"));
        QString problem;
        db->AcceptReading(image(c + b + a + finalPage(1)), 5, &problem);
        QCOMPARE(outline(db->addTree), (QStringList{"G ", "\tM ", "\t\tD ", "\tN ", "\t\tB "}));
        QCOMPARE(db->addTSCount, 2);
        QCOMPARE(db->addPageCount, 6);
        QCOMPARE(*db->addImage, d + bElsewhere + finalPage(1));
        QCOMPARE(located(db->addTree, db->fileRecords, *db->fileImage), (QList<QByteArray>{d, bElsewhere}));
        QVERIFY(db->addEnabled());

        // Appending overwrites the final page; nothing is missing afterwards.
        const QByteArray before = *db->deviceImage;
        QVERIFY(db->AppendMissing());
        QCOMPARE(*db->deviceImage, "TavBDTS 10" + before.mid(10, 4 * 528) + d + bElsewhere + finalPage(1));
        QCOMPARE(db->deviceTSCount, 5);
        QCOMPARE(db->addTSCount, 0);
        QCOMPARE(*db->addImage, finalPage(1));
        QVERIFY(!db->addEnabled());
        QCOMPARE(status->takeLast().at(0).toString(), QStringLiteral("В список прибора добавлено 2 ТС"));

        // A list the header's three digits cannot count is refused and nothing changes.
        db->AcceptReading(image(record("G", "M", "Big", 997, 1) + finalPage()), 998, &problem);
        QVERIFY(db->LoadFile(image(record("G", "M", "Small", 3, 2) + finalPage()), "three.bdt"));
        const QByteArray big = *db->deviceImage;
        QVERIFY(!db->AppendMissing());
        QCOMPARE(status->takeLast().at(0).toString(), tooManyPagesText());
        QCOMPARE(*db->deviceImage, big);
        QCOMPARE(db->devicePageCount, 998);

        // The file's dialog cancelled drops its image; a new reading cannot then know
        // what is missing and offers nothing, rather than a list the instrument now holds.
        QVERIFY(db->LoadFile(image(a + d + finalPage(2)), "f.bdt"));
        db->AcceptReading(image(a + finalPage(1)), 2, &problem);
        QCOMPARE(db->addTSCount, 1);
        db->DropFileImage();
        db->AcceptReading(image(a + d + finalPage(1)), 4, &problem);
        QVERIFY(!db->addEnabled());
        QVERIFY(!db->AppendMissing());
        QCOMPARE(db->deviceTSCount, 2);
    }

    void deletingByKeysRemovesExactlyTheNamedRecords()
    {
        const QByteArray e1 = record("G", "M", "E1", 2, 1);
        const QByteArray e2 = record("G", "M", "E2", 1, 2);
        const QByteArray e3 = record("G", "M", "E3", 3, 3);
        const QByteArray f1 = record("G", "N", "F1", 1, 4);
        QString problem;
        db->AcceptReading(image(e3 + f1 + e1 + e2 + finalPage()), 8, &problem);
        // The file holds E1, so it comes back in the additional list once deleted.
        db->LoadFile(image(e1 + finalPage()), "e1.bdt");
        QVERIFY(db->addTree.empty());

        QVERIFY(db->DeleteKeys({{"G ", "M ", "E1 "}, {"G ", "M ", "E3 "}}));
        QCOMPARE(*db->deviceImage, QByteArray("TavBDTS  3") + e2 + f1 + finalPage());
        QCOMPARE(status->takeLast().at(0).toString(), QStringLiteral("Из списка прибора удалено 2 ТС"));
        QCOMPARE(outline(db->addTree), (QStringList{"G ", "\tM ", "\t\tE1 "}));

        // A middle node goes with its branch; a node inside it named too goes once.
        QVERIFY(db->DeleteKeys({{"G ", "N "}, {"G ", "N ", "F1 "}, {"G ", "M ", "nothing"}}));
        QCOMPARE(outline(db->deviceTree), (QStringList{"G ", "\tM ", "\t\tE2 "}));
        QCOMPARE(status->takeLast().at(0).toString(), QStringLiteral("Из списка прибора удалено 1 ТС"));
        QVERIFY(db->DeleteKeys({{"G "}})); // a group goes whole
        QCOMPARE(*db->deviceImage, QByteArray("TavBDTS  1") + finalPage());
        QVERIFY(db->deviceTree.empty());

        // 998 + 1 + 1 pages, as an instrument might announce them: the rewrite is refused,
        // the list stays whole, and deleting enough makes it fit.
        const QByteArray claimed = image(record("G", "M", "A", 998, 1) + record("G", "M", "B", 1, 2) + finalPage(), "999");
        QVERIFY(!db->AcceptReading(claimed, 1000, &problem));
        QCOMPARE(status->takeLast().at(0).toString(), tooManyPagesText());
        QVERIFY(!db->DeleteKeys({}));
        QCOMPARE(*db->deviceImage, claimed);
        QCOMPARE(db->deviceTSCount, 2);
        QVERIFY(db->DeleteKeys({{"G ", "M ", "B "}}));
        QCOMPARE(db->deviceImage->left(10), QByteArray("TavBDTS999"));
    }

    void aListFileThatCannotBeWrittenIsReportedByNameAndChangesNothingElse()
    {
        QFile blocker(folder->filePath("notAFolder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        db->setProgramFolder(blocker.fileName() + u'/');
        QString problem;
        QVERIFY(db->AcceptReading(image(record("G", "M", "E", 1, 1) + finalPage()), 2, &problem));
        QVERIFY(problem.contains(QStringLiteral("SpisokTSinTav.txt")));
        QVERIFY(status->takeFirst().at(0).toString().contains(QStringLiteral("SpisokTSinTav.txt")));
        QVERIFY(db->deviceListLoaded);
        QCOMPARE(db->deviceTSCount, 1);
        QVERIFY(db->LoadFile(image(record("G", "M", "F", 1, 1) + finalPage()), "f.bdt"));
        QVERIFY(status->takeLast().at(0).toString().contains(QStringLiteral("SpisokTSinFile.txt")));
        QCOMPARE(db->addTSCount, 1);
    }

    void sampleDatabasesAreValidAndDifferByAFewTestSystems()
    {
        // The demo's: every page read, every test system once.
        const QByteArray device = sampleDeviceImage();
        const QByteArray file = sampleFileImage();
        QCOMPARE(int(checkDatabaseFile(device)), int(TFileCheck::Database));
        QCOMPARE(int(checkDatabaseFile(file)), int(TFileCheck::Database));
        QString problem;
        db->AcceptReading(device, *headerCount(device), &problem);
        QVERIFY(db->LoadFile(file, "new.bdt"));
        QCOMPARE(db->deviceTSCount, 16);
        QCOMPARE(db->fileTSCount, 17);
        QCOMPARE(db->devicePageCount, *headerCount(device));
        QCOMPARE(db->addTSCount, 4);
        // A worn instrument's: the same test systems, its duplicate and stray page dropped.
        const QByteArray flawed = sampleDeviceImage(TSampleFlaws::DuplicateAndStrayPage);
        QCOMPARE(int(checkDatabaseFile(flawed)), int(TFileCheck::Database));
        db->AcceptReading(flawed, *headerCount(flawed), &problem);
        QCOMPARE(db->deviceTSCount, 16);
        QCOMPARE(db->devicePageCount, *headerCount(device));
        QVERIFY(*headerCount(flawed) > *headerCount(device));
        QVERIFY(outline(db->deviceTree).contains(QStringLiteral("\t\tСифилис "))); // first word of two

        const QString target = folder->filePath("FilesInTavelon");
        QVERIFY(writeSampleDatabases(target));
        QCOMPARE(QFileInfo(target + "/Tavelon_BDTS.bdt").size(), device.size());
        QCOMPARE(QFileInfo(target + "/BDTS_new.bdt").size(), file.size());
    }

private:
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TBDTSDatabase> db;
    std::unique_ptr<QSignalSpy> status;
    std::unique_ptr<QSignalSpy> changes;
};

QTEST_MAIN(TestBDTSDatabase)
#include "tst_bdts_database.moc"
