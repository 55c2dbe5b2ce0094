// The lists of test systems: trees built from images, images rebuilt from trees, the
// additional list, deletion, the instrument tree's selection and the list files.

#include "TestImages.h"

#include "testdb/BDTSLists.h"
#include "testdb/BDTSTreeNode.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/KeyOrder.h"
#include "testdb/SampleDatabases.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QPushButton>
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
    void init()
    {
        folder = std::make_unique<QTemporaryDir>();
        frame = std::make_unique<TFrameBDTS>();
        lists = std::make_unique<TBDTSLists>();
        lists->setView(frame.get());
        lists->setProgramFolder(folder->path() + u'/');
        status = std::make_unique<QSignalSpy>(lists.get(), &TBDTSLists::statusText);
    }

    void cleanup()
    {
        status.reset();
        lists.reset();
        frame.reset();
        folder.reset();
    }

    void smallestImageGivesAnEmptyTreeAndOneFinalPage()
    {
        lists->deviceImage = image(finalPage(5));
        const TListCounts parsed = lists->ParseImage(TBDTSSide::Device, 1);
        QCOMPARE(parsed.pageCount, 1);
        QCOMPARE(parsed.tsCount, 0);
        QCOMPARE(frame->TreeViewTav->topLevelItemCount(), 0);
        QCOMPARE(lists->RebuildImage(TBDTSSide::Device)->pageCount, 1);
        QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  1") + finalPage(5));
    }

    void recordsArrivingCABAreRebuiltAsABCWithTheirLocators()
    {
        const QByteArray c = record(cp("Гормоны"), cp("Иммунолаб"), cp("ТТГ"), 2, 3);
        const QByteArray a = record("Allergy", "Nordika", "IgE", 1, 1);
        const QByteArray b = record(cp("Гепатиты"), "Vectra", "HBsAg", 3, 2);
        lists->deviceImage = image(c + a + page(0, 9) + b + finalPage());
        lists->ParseImage(TBDTSSide::Device, 8);
        const QStringList expected{"Allergy ", "\tNordika ", "\t\tIgE ", "Гепатиты ", "\tVectra ",
                                   "\t\tHBsAg ", "Гормоны ", "\tИммунолаб ", "\t\tТТГ "};
        QCOMPARE(outline(*frame->TreeViewTav), expected);

        const auto rebuilt = lists->RebuildImage(TBDTSSide::Device);
        QCOMPARE(rebuilt->tsCount, 3);
        QCOMPARE(lists->devicePageCount, 7);
        QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  7") + a + b + c + finalPage());
        QCOMPARE(outline(*frame->TreeViewTav), expected);
        QStringList located; // each entry's locator points at its record's new place
        walkDisplayOrder(*frame->TreeViewTav, [&](QTreeWidgetItem *item) {
            if (nodeLevel(item) == 2) {
                const TTSRecordRef ref = lists->deviceRecords.at(size_t(bdtsNode(item)->recordIndex()));
                const QByteArray bytes = lists->deviceImage->mid(ref.offset, ref.pageCount * 528);
                located << (bytes == a ? "a" : bytes == b ? "b" : bytes == c ? "c" : "?");
            }
        });
        QCOMPARE(located, (QStringList{"a", "b", "c"}));
    }

    void duplicateAndCutOffRecordsArePassedOverWhole()
    {
        // The copy's continuation pages carry record marks and would read as records if the
        // copy were not passed over with all its pages.
        const QByteArray first = record("G", "M", "X", 2, 1);
        const QByteArray copy = record("G", "M", "X", 3, 2);
        const QByteArray next = record("G", "M", "Y", 1, 3);
        // A head announcing 50 pages in a 10-page image does not hide a later whole copy.
        const QByteArray cut = record("G", "M", "Z", 1, 4, 50);
        const QByteArray whole = record("G", "M", "Z", 1, 5);
        lists->deviceImage = image(first + copy + next + cut + page(0, 6) + whole + finalPage());
        QCOMPARE(lists->ParseImage(TBDTSSide::Device, 10).tsCount, 3);
        lists->RebuildImage(TBDTSSide::Device);
        QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  5") + first + next + whole + finalPage());
    }

    void additionalListHoldsTheFileEntriesTheInstrumentLacks()
    {
        const QByteArray a = record("G", "M", "A", 1, 1);
        const QByteArray b = record("G", "M", "B", 2, 2);
        const QByteArray c = record("H", "M", "C", 1, 3);
        const QByteArray bElsewhere = record("G", "N", "B", 3, 4); // differs in the middle key only
        const QByteArray d = record("G", "M", "D", 2, 5);
        loadDevice(image(c + b + a + finalPage(1)));
        loadFile(image(a + d + c + bElsewhere + b + finalPage(2)));
        QCOMPARE(outline(*frame->TreeViewAdd), (QStringList{"G ", "\tM ", "\t\tD ", "\tN ", "\t\tB "}));
        QCOMPARE(lists->addTSCount, 2);
        QCOMPARE(lists->addPageCount, 6);
        QCOMPARE(*lists->addImage, d + bElsewhere + finalPage(2));
        QCOMPARE(frame->RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС (2):"));
        QVERIFY(frame->btnAddTSInTav->isEnabled());
        const TTSRecordRef ref = lists->fileRecords.at(
                size_t(bdtsNode(findNode(*frame->TreeViewAdd, "D "))->recordIndex()));
        QCOMPARE(lists->fileImage->mid(ref.offset, ref.pageCount * 528), d);

        lists->fileListLoaded = false;
        lists->BuildAdditionalList();
        QVERIFY(!frame->btnAddTSInTav->isEnabled());

        // A file wholly in the instrument: nothing to add, the additional image is one page.
        loadFile(image(b + finalPage(3)));
        QCOMPARE(frame->TreeViewAdd->topLevelItemCount(), 0);
        QCOMPARE(frame->RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС (0):"));
        QVERIFY(!frame->btnAddTSInTav->isEnabled());
        QCOMPARE(*lists->addImage, finalPage(3));
        QCOMPARE(lists->addPageCount, 1);
        QVERIFY(status->isEmpty());
    }

    void additionalListNeedsTheFrameAndBothImages()
    {
        const QByteArray img = image(record("G", "M", "A", 1, 1) + finalPage());
        lists->deviceImage = img;
        lists->addImage = QByteArray("kept");
        lists->BuildAdditionalList(); // no file image yet
        QCOMPARE(*lists->addImage, QByteArray("kept"));
        QCOMPARE(frame->RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС:"));

        TBDTSLists frameless;
        frameless.deviceImage = frameless.fileImage = img;
        frameless.BuildAdditionalList();
        QVERIFY(!frameless.addImage);
        QVERIFY(!frameless.RebuildImage(TBDTSSide::Device));
        QCOMPARE(*frameless.deviceImage, img);
    }

    void deletingRemovesExactlyTheSelectedRecords()
    {
        const QByteArray e1 = record("G", "M", "E1", 2, 1);
        const QByteArray e2 = record("G", "M", "E2", 1, 2);
        const QByteArray e3 = record("G", "M", "E3", 3, 3);
        const QByteArray f1 = record("G", "N", "F1", 1, 4);
        loadDevice(image(e3 + f1 + e1 + e2 + finalPage()));
        findNode(*frame->TreeViewTav, "E1 ")->setSelected(true);
        findNode(*frame->TreeViewTav, "E3 ")->setSelected(true);
        auto deleteSelected = [this] { // the order of deleting
            lists->DeleteSelectedNodes(*frame->TreeViewTav);
            lists->RebuildImage(TBDTSSide::Device);
            lists->ParseImage(TBDTSSide::Device, lists->devicePageCount);
            lists->BuildAdditionalList();
        };
        deleteSelected();
        QCOMPARE(lists->deviceTSCount, 2);
        QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  3") + e2 + f1 + finalPage());

        // The only entry under N: its branch stays until the next parse.
        findNode(*frame->TreeViewTav, "F1 ")->setSelected(true);
        lists->DeleteSelectedNodes(*frame->TreeViewTav);
        lists->RebuildImage(TBDTSSide::Device);
        QCOMPARE(outline(*frame->TreeViewTav), (QStringList{"G ", "\tM ", "\t\tE2 ", "\tN "}));
        lists->ParseImage(TBDTSSide::Device, lists->devicePageCount);
        QCOMPARE(outline(*frame->TreeViewTav), (QStringList{"G ", "\tM ", "\t\tE2 "}));

        frame->TreeViewTav->topLevelItem(0)->setSelected(true); // a group goes whole
        deleteSelected();
        QCOMPARE(*lists->deviceImage, QByteArray("TavBDTS  1") + finalPage());
    }

    void instrumentTreeSelectsOnlyVisibleNodesOfOneParent()
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
        click("M ", Qt::LeftButton, Qt::ShiftModifier); // a range across levels
        QCOMPARE(selected(), QStringList{"M "});
        click("E2 ", Qt::RightButton, Qt::NoModifier);
        QCOMPARE(selected(), QStringList{"E2 "});
        tree->collapseItem(findNode(*tree, "M ")); // hidden nodes leave the selection
        QVERIFY(selected().isEmpty());

        // A click that leaves nothing selected disables the button and says nothing.
        status->clear();
        tree->clearSelection();
        lists->TreeViewTavClick();
        QVERIFY(!frame->btnDeleteTS->isEnabled());
        QVERIFY(status->isEmpty());
    }

    void listFileHoldsOneLinePerNodeInCodePage1251()
    {
        const QString path = lists->programFolder() + deviceListFile;
        lists->deviceImage = image(finalPage());
        lists->ParseImage(TBDTSSide::Device, 1);
        QVERIFY(lists->WriteListFile(*frame->TreeViewTav, deviceListFile));
        QCOMPARE(QFileInfo(path).size(), 0);

        lists->deviceImage = image(record(cp("Гормоны"), "Lab", cp("ТТГ"), 1, 1)
                                   + record("Allergy", "Nordika", "IgE", 1, 2) + finalPage());
        lists->ParseImage(TBDTSSide::Device, 3);
        QVERIFY(lists->WriteListFile(*frame->TreeViewTav, deviceListFile));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("Allergy \r\n\tNordika \r\n\t\tIgE \r\n"
                                            "\xc3\xee\xf0\xec\xee\xed\xfb \r\n\tLab \r\n\t\t\xd2\xd2\xc3 \r\n"));
    }

    void listFileThatCannotBeWrittenIsReportedByName()
    {
        QFile blocker(folder->filePath("notAFolder"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        lists->setProgramFolder(blocker.fileName() + u'/');
        loadDevice(image(record("G", "M", "E", 1, 1) + finalPage()));
        const QByteArray before = *lists->deviceImage;

        QVERIFY(!lists->WriteListFile(*frame->TreeViewTav, fileListFile));
        QCOMPARE(status->count(), 1);
        QVERIFY(status->at(0).at(0).toString().contains(QStringLiteral("SpisokTSinFile.txt")));
        QCOMPARE(*lists->deviceImage, before);
        QCOMPARE(frame->TreeViewTav->topLevelItemCount(), 1);
    }

    void rebuildOfMoreThan999PagesIsRefusedAndReported()
    {
        // 998 + 1 + 1 pages, as an instrument might announce them; the header cannot say so.
        const QByteArray img = image(record("G", "M", "A", 998, 1) + record("G", "M", "B", 1, 2)
                                     + finalPage(), "999");
        lists->deviceImage = img;
        lists->ParseImage(TBDTSSide::Device, 1000);
        QVERIFY(!lists->RebuildImage(TBDTSSide::Device));
        QCOMPARE(status->takeFirst().at(0).toString(),
                 QStringLiteral("Слишком много страниц в БД ТС (больше 999)."));
        QCOMPARE(*lists->deviceImage, img);
        QCOMPARE(lists->devicePageCount, 1000);

        findNode(*frame->TreeViewTav, "B ")->setSelected(true); // 999 pages fit
        lists->DeleteSelectedNodes(*frame->TreeViewTav);
        QCOMPARE(lists->RebuildImage(TBDTSSide::Device)->pageCount, 999);
        QCOMPARE(lists->deviceImage->left(10), QByteArray("TavBDTS999"));
    }

    void sampleDatabasesAreValidAndDifferByAFewTestSystems()
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
        QVERIFY(findNode(*frame->TreeViewTav, QStringLiteral("Сифилис "))); // first word of two

        const QString target = folder->filePath("FilesInTavelon");
        QVERIFY(writeSampleDatabases(target));
        QCOMPARE(QFileInfo(target + "/Tavelon_BDTS.bdt").size(), device.size());
        QCOMPARE(QFileInfo(target + "/BDTS_new.bdt").size(), file.size());
    }

private:
    // The orders in which the exchange calls the operations after a device read and after
    // a file has been opened.
    void loadDevice(const QByteArray &img)
    {
        lists->deviceImage = img;
        lists->ParseImage(TBDTSSide::Device, *headerCount(img));
        lists->RebuildImage(TBDTSSide::Device);
        lists->deviceListLoaded = true;
        lists->BuildAdditionalList();
    }

    void loadFile(const QByteArray &img)
    {
        lists->fileImage = img;
        lists->ParseImage(TBDTSSide::File, *headerCount(img));
        lists->RebuildImage(TBDTSSide::File);
        lists->fileListLoaded = true;
        lists->BuildAdditionalList();
    }

    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TFrameBDTS> frame;
    std::unique_ptr<TBDTSLists> lists;
    std::unique_ptr<QSignalSpy> status;
};

QTEST_MAIN(TestBDTSLists)
#include "tst_bdts_lists.moc"
