// The lists of test systems: trees built from images, images rebuilt from trees, the
// additional list, deletion, the instrument tree's selection and the list files.

#include "TestImages.h"

#include "testdb/BDTSLists.h"
#include "testdb/BDTSTreeNode.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/BdtImage.h"
#include "testdb/SampleDatabases.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QFile>
#include <QGroupBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace testimg;

namespace {

QByteArray cp1251(const char *utf8)
{
    // Written out byte by byte elsewhere; here only for readable key names.
    static const QByteArray letters = QByteArray(
            "\xc0\xc1\xc2\xc3\xc4\xc5\xc6\xc7\xc8\xc9\xca\xcb\xcc\xcd\xce\xcf"
            "\xd0\xd1\xd2\xd3\xd4\xd5\xd6\xd7\xd8\xd9\xda\xdb\xdc\xdd\xde\xdf");
    QByteArray out;
    for (const QChar ch : QString::fromUtf8(utf8)) {
        const ushort u = ch.unicode();
        if (u >= 0x0410 && u <= 0x042F)
            out.append(letters[u - 0x0410]);
        else if (u >= 0x0430 && u <= 0x044F)
            out.append(char(letters[u - 0x0430] + 0x20));
        else
            out.append(char(u));
    }
    return out;
}

/// The tree as lines: a tab per level, then the shown text.
QStringList outline(const QTreeWidget &tree)
{
    QStringList lines;
    walkDisplayOrder(tree, [&lines](QTreeWidgetItem *item) {
        lines << QString(nodeLevel(item), u'\t') + item->text(0);
    });
    return lines;
}

QTreeWidgetItem *findNode(const QTreeWidget &tree, const QString &text)
{
    QTreeWidgetItem *found = nullptr;
    walkDisplayOrder(tree, [&](QTreeWidgetItem *item) {
        if (!found && item->text(0) == text)
            found = item;
    });
    return found;
}

} // namespace

class TestBDTSLists : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void smallestImageGivesAnEmptyTreeAndOneFinalPage();
    void recordsArrivingCABAreRebuiltAsABCWithTheirLocators();
    void duplicateAndCutOffRecordsArePassedOverWhole();
    void additionalListHoldsTheFileEntriesTheInstrumentLacks();
    void additionalListOfAFileWhollyInTheInstrumentIsEmpty();
    void additionalListNeedsTheFrameAndBothImages();
    void deletingTwoEntriesOfOneParentRemovesExactlyThoseRecords();
    void deletingTheOnlyEntryLeavesItsBranchUntilTheNextParse();
    void instrumentTreeSelectsOnlyNodesOfOneParent();
    void listFileHoldsOneLinePerNodeInCodePage1251();
    void listFileThatCannotBeWrittenIsReportedByName();
    void rebuildOfMoreThan999PagesIsRefusedAndReported();
    void sampleDatabasesAreValidAndDifferByAFewTestSystems();

private:
    void loadDevice(const QByteArray &img);
    void loadFile(const QByteArray &img);

    std::unique_ptr<TFrameBDTS> frame;
    std::unique_ptr<TBDTSLists> lists;
    std::unique_ptr<QSignalSpy> status;
    std::unique_ptr<QTemporaryDir> folder;
};

void TestBDTSLists::init()
{
    frame = std::make_unique<TFrameBDTS>();
    lists = std::make_unique<TBDTSLists>();
    lists->setFrame(frame.get());
    folder = std::make_unique<QTemporaryDir>();
    lists->setProgramFolder(folder->path() + u'/');
    status = std::make_unique<QSignalSpy>(lists.get(), &TBDTSLists::statusText);
}

void TestBDTSLists::cleanup()
{
    status.reset();
    lists.reset();
    frame.reset();
    folder.reset();
}

// The orders in which the exchange calls the operations after a device read and after
// a file has been opened.
void TestBDTSLists::loadDevice(const QByteArray &img)
{
    lists->deviceImage = img;
    lists->ParseImage(TBDTSSide::Device, *headerCount(img));
    lists->RebuildImage(TBDTSSide::Device);
    lists->deviceListLoaded = true;
    lists->BuildAdditionalList();
}

void TestBDTSLists::loadFile(const QByteArray &img)
{
    lists->fileImage = img;
    lists->ParseImage(TBDTSSide::File, *headerCount(img));
    lists->RebuildImage(TBDTSSide::File);
    lists->fileListLoaded = true;
    lists->BuildAdditionalList();
}

void TestBDTSLists::smallestImageGivesAnEmptyTreeAndOneFinalPage()
{
    lists->deviceImage = image(finalPage(5));
    const TListCounts parsed = lists->ParseImage(TBDTSSide::Device, 1);
    QCOMPARE(parsed.pageCount, 1);
    QCOMPARE(parsed.tsCount, 0);
    QCOMPARE(frame->TreeViewTav->topLevelItemCount(), 0);
    QCOMPARE(lists->finalPage, finalPage(5));

    const auto rebuilt = lists->RebuildImage(TBDTSSide::Device);
    QVERIFY(rebuilt);
    QCOMPARE(rebuilt->pageCount, 1);
    QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  1") + finalPage(5));
}

void TestBDTSLists::recordsArrivingCABAreRebuiltAsABCWithTheirLocators()
{
    const QByteArray c = record(cp1251("Гормоны"), cp1251("Иммунолаб"), cp1251("ТТГ"), 2, 3);
    const QByteArray a = record("Allergy", "Nordika", "IgE", 1, 1);
    const QByteArray b = record(cp1251("Гепатиты"), "Vectra", "HBsAg", 3, 2);
    lists->deviceImage = image(c + a + page(0, 9) + b + finalPage());
    lists->ParseImage(TBDTSSide::Device, 8);

    const QStringList expected{"Allergy ", "\tNordika ", "\t\tIgE ",
                               "Гепатиты ", "\tVectra ", "\t\tHBsAg ",
                               "Гормоны ", "\tИммунолаб ", "\t\tТТГ "};
    QCOMPARE(outline(*frame->TreeViewTav), expected);

    const auto rebuilt = lists->RebuildImage(TBDTSSide::Device);
    QCOMPARE(rebuilt->pageCount, 7);
    QCOMPARE(rebuilt->tsCount, 3);
    QCOMPARE(lists->devicePageCount, 7);
    QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  7") + a + b + c + finalPage());
    QCOMPARE(outline(*frame->TreeViewTav), expected); // the tree itself is unchanged

    // Each entry's locator points at its record's new place.
    const QList<QByteArray> records{a, b, c};
    int i = 0;
    walkDisplayOrder(*frame->TreeViewTav, [&](QTreeWidgetItem *item) {
        if (nodeLevel(item) != 2)
            return;
        const TTSRecordRef ref = lists->deviceRecords.at(size_t(bdtsNode(item)->recordIndex()));
        QCOMPARE(lists->deviceImage->mid(ref.offset, ref.pageCount * 528), records[i++]);
    });
    QCOMPARE(i, 3);
}

void TestBDTSLists::duplicateAndCutOffRecordsArePassedOverWhole()
{
    // The copy's continuation pages carry record marks and would read as records if the
    // copy were not passed over with all its pages.
    const QByteArray first = record("G", "M", "X", 2, 1);
    const QByteArray copy = record("G", "M", "X", 3, 2);
    const QByteArray next = record("G", "M", "Y", 1, 3);
    // A head announcing 50 pages in a 9-page image, then a whole copy of the same test
    // system after a page outside any record.
    const QByteArray cut = record("G", "M", "Z", 1, 4, 50);
    const QByteArray whole = record("G", "M", "Z", 1, 5);
    lists->deviceImage = image(first + copy + next + cut + page(0, 6) + whole + finalPage());

    const TListCounts parsed = lists->ParseImage(TBDTSSide::Device, 10);
    QCOMPARE(parsed.tsCount, 3);
    QCOMPARE(outline(*frame->TreeViewTav), (QStringList{"G ", "\tM ", "\t\tX ", "\t\tY ", "\t\tZ "}));
    lists->RebuildImage(TBDTSSide::Device);
    QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  5") + first + next + whole + finalPage());
}

void TestBDTSLists::additionalListHoldsTheFileEntriesTheInstrumentLacks()
{
    const QByteArray a = record("G", "M", "A", 1, 1);
    const QByteArray b = record("G", "M", "B", 2, 2);
    const QByteArray c = record("H", "M", "C", 1, 3);
    // Same group and entry as b under another middle key: missing from the instrument.
    const QByteArray bElsewhere = record("G", "N", "B", 3, 4);
    const QByteArray d = record("G", "M", "D", 2, 5);
    loadDevice(image(c + b + a + finalPage(1)));
    loadFile(image(a + d + c + bElsewhere + b + finalPage(2)));

    QCOMPARE(outline(*frame->TreeViewAdd),
             (QStringList{"G ", "\tM ", "\t\tD ", "\tN ", "\t\tB "}));
    QCOMPARE(lists->addTSCount, 2);
    QCOMPARE(lists->addPageCount, 6);
    QCOMPARE(*lists->addImage, d + bElsewhere + finalPage(2));
    QCOMPARE(frame->RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС (2):"));
    QVERIFY(frame->btnAddTSInTav->isEnabled());
    QVERIFY(status->isEmpty());

    // The added entries refer to the locators of the file's records.
    const QTreeWidgetItem *added = findNode(*frame->TreeViewAdd, QStringLiteral("D "));
    const TTSRecordRef ref = lists->fileRecords.at(size_t(bdtsNode(added)->recordIndex()));
    QCOMPARE(lists->fileImage->mid(ref.offset, ref.pageCount * 528), d);

    lists->fileListLoaded = false;
    lists->BuildAdditionalList();
    QVERIFY(!frame->btnAddTSInTav->isEnabled());
}

void TestBDTSLists::additionalListOfAFileWhollyInTheInstrumentIsEmpty()
{
    const QByteArray a = record("G", "M", "A", 1, 1);
    const QByteArray b = record("G", "M", "B", 2, 2);
    loadDevice(image(a + b + finalPage(1)));
    loadFile(image(b + finalPage(2)));
    QCOMPARE(frame->TreeViewAdd->topLevelItemCount(), 0);
    QCOMPARE(lists->addTSCount, 0);
    QCOMPARE(frame->RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС (0):"));
    QVERIFY(!frame->btnAddTSInTav->isEnabled());
    QCOMPARE(*lists->addImage, finalPage(2));
    QCOMPARE(lists->addPageCount, 1);
}

void TestBDTSLists::additionalListNeedsTheFrameAndBothImages()
{
    const QByteArray img = image(record("G", "M", "A", 1, 1) + finalPage());
    lists->deviceImage = img;
    lists->addImage = QByteArray("kept");
    lists->addTSCount = 7;
    lists->BuildAdditionalList(); // no file image yet
    QCOMPARE(*lists->addImage, QByteArray("kept"));
    QCOMPARE(lists->addTSCount, 7);
    QCOMPARE(frame->RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС:"));

    TBDTSLists frameless;
    frameless.deviceImage = img;
    frameless.fileImage = img;
    frameless.BuildAdditionalList();
    QVERIFY(!frameless.addImage);
    QCOMPARE(frameless.ParseImage(TBDTSSide::Device, 2).tsCount, 0);
    QVERIFY(!frameless.RebuildImage(TBDTSSide::Device));
    QCOMPARE(*frameless.deviceImage, img);
}

void TestBDTSLists::deletingTwoEntriesOfOneParentRemovesExactlyThoseRecords()
{
    const QByteArray e1 = record("G", "M", "E1", 2, 1);
    const QByteArray e2 = record("G", "M", "E2", 1, 2);
    const QByteArray e3 = record("G", "M", "E3", 3, 3);
    const QByteArray f1 = record("G", "N", "F1", 1, 4);
    loadDevice(image(e3 + f1 + e1 + e2 + finalPage()));
    QCOMPARE(lists->deviceTSCount, 4);

    findNode(*frame->TreeViewTav, "E1 ")->setSelected(true);
    findNode(*frame->TreeViewTav, "E3 ")->setSelected(true);
    lists->TreeViewTavClick();
    QVERIFY(frame->btnDeleteTS->isEnabled());
    QCOMPARE(status->takeLast().at(0).toString(), QStringLiteral("Выбрано  позиций:2."));

    // The order of deleting.
    lists->DeleteSelectedNodes(*frame->TreeViewTav);
    lists->RebuildImage(TBDTSSide::Device);
    lists->ParseImage(TBDTSSide::Device, lists->devicePageCount);
    lists->BuildAdditionalList();
    QCOMPARE(lists->deviceTSCount, 2);
    QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  3") + e2 + f1 + finalPage());
    QCOMPARE(outline(*frame->TreeViewTav), (QStringList{"G ", "\tM ", "\t\tE2 ", "\tN ", "\t\tF1 "}));

    // Nothing selected: the click disables the button and leaves the status line alone.
    lists->TreeViewTavClick();
    QVERIFY(!frame->btnDeleteTS->isEnabled());
    QVERIFY(status->isEmpty());

    // A whole group goes with everything under it.
    frame->TreeViewTav->topLevelItem(0)->setSelected(true);
    lists->DeleteSelectedNodes(*frame->TreeViewTav);
    lists->RebuildImage(TBDTSSide::Device);
    QCOMPARE(lists->deviceTSCount, 0);
    QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  1") + finalPage());
}

void TestBDTSLists::deletingTheOnlyEntryLeavesItsBranchUntilTheNextParse()
{
    const QByteArray e = record("G", "M", "E", 1, 1);
    const QByteArray f = record("G", "N", "F", 1, 2);
    loadDevice(image(e + f + finalPage()));
    findNode(*frame->TreeViewTav, "F ")->setSelected(true);
    lists->DeleteSelectedNodes(*frame->TreeViewTav);
    lists->RebuildImage(TBDTSSide::Device);
    QCOMPARE(outline(*frame->TreeViewTav), (QStringList{"G ", "\tM ", "\t\tE ", "\tN "}));
    lists->ParseImage(TBDTSSide::Device, lists->devicePageCount);
    QCOMPARE(outline(*frame->TreeViewTav), (QStringList{"G ", "\tM ", "\t\tE "}));
}

void TestBDTSLists::instrumentTreeSelectsOnlyNodesOfOneParent()
{
    loadDevice(image(record("G", "M", "E1", 1, 1) + record("G", "M", "E2", 1, 2)
                     + record("G", "M", "E3", 1, 3) + record("G", "N", "F1", 1, 4) + finalPage()));
    frame->resize(800, 600);
    frame->show();
    QVERIFY(QTest::qWaitForWindowExposed(frame.get()));
    TBDTSTreeView *tree = frame->TreeViewTav;
    tree->expandAll();
    auto click = [tree](const char *text, Qt::MouseButton button, Qt::KeyboardModifiers keys) {
        const QRect r = tree->visualItemRect(findNode(*tree, QString::fromLatin1(text)));
        QTest::mouseClick(tree->viewport(), button, keys, r.center());
    };
    auto selected = [tree] {
        QStringList texts;
        for (const QTreeWidgetItem *item : tree->selectedItems())
            texts << item->text(0);
        texts.sort();
        return texts;
    };

    click("E1 ", Qt::LeftButton, Qt::NoModifier);
    click("E3 ", Qt::LeftButton, Qt::ControlModifier);
    QCOMPARE(selected(), (QStringList{"E1 ", "E3 "}));
    QCOMPARE(status->takeLast().at(0).toString(), QStringLiteral("Выбрано  позиций:2."));
    QVERIFY(frame->btnDeleteTS->isEnabled());

    click("F1 ", Qt::LeftButton, Qt::ControlModifier); // another parent: it alone stays
    QCOMPARE(selected(), QStringList{"F1 "});
    click("E1 ", Qt::LeftButton, Qt::NoModifier);
    click("M ", Qt::LeftButton, Qt::ShiftModifier); // the range crosses levels
    QCOMPARE(selected(), QStringList{"M "});

    click("E2 ", Qt::RightButton, Qt::NoModifier);
    QCOMPARE(selected(), QStringList{"E2 "});

    tree->collapseItem(findNode(*tree, "M ")); // hidden nodes leave the selection
    QVERIFY(selected().isEmpty());
}

void TestBDTSLists::listFileHoldsOneLinePerNodeInCodePage1251()
{
    QFile::remove(lists->programFolder() + deviceListFile);
    lists->deviceImage = image(finalPage());
    lists->ParseImage(TBDTSSide::Device, 1);
    QVERIFY(lists->WriteListFile(*frame->TreeViewTav, deviceListFile));
    QFile empty(lists->programFolder() + deviceListFile);
    QVERIFY(empty.open(QIODevice::ReadOnly));
    QCOMPARE(empty.size(), 0);

    lists->deviceImage = image(record(cp1251("Гормоны"), "Lab", cp1251("ТТГ"), 1, 1)
                               + record("Allergy", "Nordika", "IgE", 1, 2) + finalPage());
    lists->ParseImage(TBDTSSide::Device, 3);
    QVERIFY(lists->WriteListFile(*frame->TreeViewTav, deviceListFile));
    QFile file(lists->programFolder() + deviceListFile);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("Allergy \r\n\tNordika \r\n\t\tIgE \r\n"
                                        "\xc3\xee\xf0\xec\xee\xed\xfb \r\n\tLab \r\n\t\t\xd2\xd2\xc3 \r\n"));
    QVERIFY(status->isEmpty());
}

void TestBDTSLists::listFileThatCannotBeWrittenIsReportedByName()
{
    QFile blocker(folder->filePath("notAFolder"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    lists->setProgramFolder(blocker.fileName() + u'/');
    loadDevice(image(record("G", "M", "E", 1, 1) + finalPage()));
    const QByteArray before = *lists->deviceImage;

    QVERIFY(!lists->WriteListFile(*frame->TreeViewTav, fileListFile));
    QCOMPARE(status->count(), 1);
    const QString text = status->takeFirst().at(0).toString();
    QVERIFY2(text.contains(QStringLiteral("SpisokTSinFile.txt")), qPrintable(text));
    QCOMPARE(*lists->deviceImage, before);
    QCOMPARE(lists->deviceTSCount, 1);
}

void TestBDTSLists::rebuildOfMoreThan999PagesIsRefusedAndReported()
{
    // 1001 pages, as an instrument might announce them; the header cannot say so.
    const QByteArray img = image(record("G", "M", "A", 500, 1) + record("G", "M", "B", 500, 2)
                                 + finalPage(), "999");
    lists->deviceImage = img;
    lists->ParseImage(TBDTSSide::Device, 1001);
    QCOMPARE(lists->deviceTSCount, 2);
    QVERIFY(!lists->RebuildImage(TBDTSSide::Device));
    QCOMPARE(status->count(), 1);
    QCOMPARE(status->takeFirst().at(0).toString(),
             QStringLiteral("Слишком много страниц в БД ТС (больше 999)."));
    QCOMPARE(*lists->deviceImage, img);
    QCOMPARE(lists->devicePageCount, 1001);
}

void TestBDTSLists::sampleDatabasesAreValidAndDifferByAFewTestSystems()
{
    const QByteArray device = sampleDeviceImage();
    const QByteArray file = sampleFileImage();
    QCOMPARE(int(checkDatabaseFile(device)), int(TFileCheck::Database));
    QCOMPARE(int(checkDatabaseFile(file)), int(TFileCheck::Database));

    loadDevice(device);
    loadFile(file);
    QCOMPARE(lists->deviceTSCount, 16);
    QCOMPARE(lists->fileTSCount, 17);
    QVERIFY(lists->devicePageCount < *headerCount(device)); // duplicate and stray page dropped
    QCOMPARE(lists->addTSCount, 4);
    QVERIFY(findNode(*frame->TreeViewAdd, QStringLiteral("Кортизол ")));
    QVERIFY(findNode(*frame->TreeViewTav, QStringLiteral("Сифилис "))); // first word of two

    const QString target = folder->filePath("FilesInTavelon");
    QVERIFY(writeSampleDatabases(target));
    QFile written(target + "/Tavelon_BDTS.bdt");
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), device);
    QVERIFY(QFile::exists(target + "/BDTS_new.bdt"));
}

QTEST_MAIN(TestBDTSLists)
#include "tst_bdts_lists.moc"
