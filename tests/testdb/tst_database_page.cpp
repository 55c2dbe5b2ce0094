// The page "БД ТС" on the virtual instrument: reading, saving, opening, appending,
// deleting and writing back, and what keeps the lists whole when the instrument or a
// file misbehaves.

#include "testdb/UnitBDTS_TreeTS.h"
#include "link/ContactSearch.h"
#include "link/LinkControl.h"
#include "link/ReceiveDispatcher.h"
#include "TestImages.h"

#include "sim/InstrumentWindow.h"
#include "sim/commands/DatabaseCommands.h"
#include "support/FileBytes.h"
#include "support/VirtualRig.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/BDTSTreeNode.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/SampleDatabases.h"

#include "measure/ReaderPage.h"
#include "sim/commands/MeasureCommands.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QProgressBar>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <QToolButton>

using namespace testimg;

namespace {

/// Records of one group and one maker, entries "T<n>" of the given page counts, in
/// the order given, then a final page.
QByteArray database(const QList<QPair<QByteArray, int>> &entries, quint32 seed)
{
    QByteArray pages;
    for (const auto &[entry, pageCount] : entries)
        pages += record("Grp", "Lab", entry, pageCount, seed++);
    return image(pages + finalPage(seed));
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

/// Clicks the node shown as `text` (without its trailing blank).
void clickNode(TBDTSTreeView *tree, const QString &text, Qt::KeyboardModifiers keys = {},
               Qt::MouseButton button = Qt::LeftButton)
{
    QTreeWidgetItem *found = nullptr;
    walkDisplayOrder(*tree, [&](QTreeWidgetItem *item) {
        if (!found && item->text(0).trimmed() == text)
            found = item;
    });
    QVERIFY2(found, qPrintable(text));
    QTest::mouseClick(tree->viewport(), button, keys, tree->visualItemRect(found).center());
}

QStringList selected(const QTreeWidget &tree)
{
    QStringList texts;
    for (const QTreeWidgetItem *item : tree.selectedItems())
        texts << item->text(0).trimmed();
    texts.sort();
    return texts;
}

QStringList entries(const QTreeWidget &tree)
{
    QStringList shown;
    walkDisplayOrder(tree, [&shown](QTreeWidgetItem *item) {
        if (nodeLevel(item) == 2)
            shown << item->text(0).trimmed();
    });
    return shown;
}

/// A window on the page "БД ТС", in contact with the instrument at 115200 baud.
struct TDatabaseRig : TVirtualRig
{
    TDatabaseRig()
    {
        window->shell.ActionBDTS->trigger();
        reachTopSpeed();
        takeWritten();
        QObject::connect(window->shell.RzProgressBar1, &QProgressBar::valueChanged,
                         [this](int value) { progress << value; });
    }
    TFrameBDTS &frame() { return *window->frameBDTS; }
    TBDTSDatabase &lists() { return *window->bdtsDatabase; }
    TBDTSTransfer &transfer() { return *window->bdtsTransfer; }
    TInstrumentDatabase &held() { return *databaseOf(instrument); }
    QString path(const QString &name) { return folder.filePath(name); }

    /// Reads the instrument's database through the button and waits for the end.
    bool read()
    {
        QTest::mouseClick(frame().btnReadBDTSFromTav, Qt::LeftButton);
        // (A request made while the line is still quiet after a disturbed reading waits.)
        return waitUntil([this] { return !transfer().running() && !transfer().waiting() && backend->lineIdle(); });
    }
    /// The instrument says nothing; the test brings its replies.
    void answerByHand()
    {
        instrument.setSilent(true);
        takeWritten();
    }
    /// Waits until the window has asked for the next page.
    bool waitWritten(const QByteArray &bytes)
    {
        return waitUntil([&] { return backend->written().endsWith(bytes); }, 2000);
    }
    /// A reading whose count and pages the test sends as the instrument would, each
    /// page once the window has asked for it.
    bool readByHand(const QByteArray &image)
    {
        QTest::mouseClick(frame().btnReadBDTSFromTav, Qt::LeftButton);
        backend->injectReceived("R " + image.mid(7, 3));
        if (!waitWritten("Rr"))
            return false;
        for (qsizetype at = 10; at < image.size(); at += 528)
            backend->injectReceived('r' + image.mid(at, 528));
        return waitUntil([this] { return !transfer().running(); }, 2000);
    }

    QList<int> progress;
};

const QList<QPair<QByteArray, int>> fourPages{{"Zeta", 1}, {"Alpha", 2}};

/// The instrument hands its database over as ever, but each page's reply (page from 1,
/// its 'r' first) reaches the line as `spoil` makes it: a noisy cable, or a notice of
/// its own right behind a page.
void spoilPages(TVirtualInstrument &instrument, std::function<QByteArray(int, const QByteArray &)> spoil)
{
    auto next = std::make_shared<int>(0);
    TInstrumentDatabase *db = databaseOf(instrument);
    instrument.addCommand({'R', 0, [db, next](TVirtualInstrument &, const QByteArray &) {
                               *next = 0;
                               db->answerCount();
                           }});
    instrument.addCommand({'r', 0, [db, next, spoil = std::move(spoil)](TVirtualInstrument &device, const QByteArray &) {
                               if (*next >= db->pageCount())
                                   return;
                               const int page = ++*next;
                               device.send(spoil(page, 'r' + db->image().mid(10 + (page - 1) * 528, 528)));
                           }});
}

} // namespace

class TestDatabasePage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aReadingShowsTheInstrumentsListInNormalFormAndKeepsOneTransferAtATime();
    void savingAndOpeningGoThroughTheDialogsAndARefusedFileChangesNothing();
    void appendingDeletingAndWritingBackEditTheInstrumentsDatabase();
    void aFileIsWrittenPageByPageAndReadBack();
    void aSilentOrLostInstrumentLeavesTheOldListIntact();
    void countsAndPagesThatArriveOddlyAreReadSafely();
    void whatTheHeaderCannotHoldIsRefusedAndTheRefusalStays();
    void eachPageIsJudgedByItsOwnBytesAndWhatFollowsItIsHandedOn();
    void aNoticeLetterPushedOutOfAPageByNoiseIsNoNotice();
    void anInstrumentThatErasesSlowlyIsWrittenAllTheSame();
};

void TestDatabasePage::aReadingShowsTheInstrumentsListInNormalFormAndKeepsOneTransferAtATime()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    const QByteArray held = database(fourPages, 10);
    rig.held().setImage(held);
    QVERIFY(!f.btnSaveBDTSinFile->isEnabled());

    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QCOMPARE(rig.backend->written(), QByteArray("R"));
    QVERIFY(f.TreeViewTav->isHidden());
    for (QPushButton *b : {f.btnReadBDTSFromFile, f.btnWriteBDTSInTav, f.btnSaveAddTs, f.btnAddTSInTav, f.btnDeleteTS})
        QVERIFY(!b->isEnabled());
    QCOMPARE(f.btnReadBDTSFromTav->text(), QStringLiteral("Стоп")); // the button that started it stops it
    QVERIFY(f.btnReadBDTSFromTav->isEnabled());
    rig.window->bdtsTransfer->RequestDatabase(); // a second transfer is not started
    QCOMPARE(rig.backend->written(), QByteArray("R"));
    // Nothing probes or changes the port under the exchange, not even a page change.
    QVERIFY(!rig.window->shell.portGroup->btnConnect->isEnabled());
    QVERIFY(!rig.window->shell.portGroup->cbxNumPort->isEnabled());
    rig.window->shell.ActionTav2006->trigger();
    rig.window->shell.ActionBDTS->trigger();
    QVERIFY(!rig.window->line->search->DefSetComm_Timer->isActive());
    QCOMPARE(rig.backend->written(), QByteArray("R"));

    QVERIFY(rig.waitUntil([&] { return !rig.transfer().running(); }, 5000));
    QCOMPARE(rig.takeWritten(), QByteArray("Rrrrr"));
    QCOMPARE(rig.progress, (QList<int>{50, 75, 100, 0}));
    QCOMPARE(rig.window->statusText(), QStringLiteral("Принято из прибора страниц: 4"));
    // Sorted by key, with the instrument's final page and the count in the header.
    const QByteArray alpha = held.mid(10 + 528, 2 * 528), zeta = held.mid(10, 528);
    QCOMPARE(*rig.lists().deviceImage, "TavBDTS  4" + alpha + zeta + held.right(528));
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"Alpha", "Zeta"}));
    QCOMPARE(fileBytes(rig.path("SpisokTSinTav.txt")),
             QByteArray("Grp \r\n\tLab \r\n\t\tAlpha \r\n\t\tZeta \r\n"));
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС в приборе (2):"));
    QVERIFY(!f.TreeViewTav->isHidden());
    QVERIFY(f.btnSaveBDTSinFile->isEnabled());
    QVERIFY(f.btnReadBDTSFromTav->isEnabled());
    QCOMPARE(f.btnReadBDTSFromTav->text(), QStringLiteral(" из прибора"));
    QVERIFY(f.btnReadBDTSFromFile->isEnabled());
    QVERIFY(!f.btnWriteBDTSInTav->isEnabled()); // no file yet: its own state came back
    QVERIFY(rig.window->shell.portGroup->btnConnect->isEnabled());
    QVERIFY(rig.window->shell.portGroup->cbxNumPort->isEnabled());

    // The intermediate count shows after page N - 2 only, so never for two pages.
    rig.answerByHand();
    const QByteArray three = database({{"A", 1}, {"B", 1}}, 30);
    for (const QByteArray &count : {QByteArray("  3"), QByteArray("  2")}) {
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        rig.backend->injectReceived("R " + count);
        QVERIFY(rig.waitWritten("Rr"));
        rig.backend->injectReceived('r' + three.mid(10, 528));
        QCOMPARE(rig.window->statusText(), count == "  3" ? QStringLiteral("Принято из прибора страниц: 1")
                                                          : QStringLiteral("Чтение БД ТС из прибора."));
        rig.transfer().TimeLimit_TimerTimer();
        rig.takeWritten();
    }
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"Alpha", "Zeta"}));

    // A reading asked for while a contact search runs waits for the search, and goes
    // with it when the search is given up: nothing is sent at a search speed.
    QTest::mouseClick(rig.window->shell.portGroup->btnConnect, Qt::LeftButton);
    QVERIFY(rig.window->line->search->DefSetComm_Timer->isActive());
    rig.takeWritten();
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QVERIFY(rig.window->statusText().contains(QStringLiteral("после установления контакта")));
    QVERIFY(rig.window->line->search->DefSetComm_Timer->isActive());
    QTest::mouseClick(rig.window->shell.portGroup->btnConnect, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(),
             QStringLiteral("Прибор не отвечает! Не выполнено: чтение БД ТС из прибора."));
    QCoreApplication::processEvents();
    QVERIFY(!rig.takeWritten().contains('R'));
    QVERIFY(!rig.transfer().running());
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"Alpha", "Zeta"}));
}

void TestDatabasePage::savingAndOpeningGoThroughTheDialogsAndARefusedFileChangesNothing()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    auto &lists = rig.lists();
    rig.held().setImage(database({{"Alpha", 1}}, 20));
    QVERIFY(rig.read());
    const QString programFolder = rig.window->programFolder();

    rig.dialogs.answerFile(rig.path("saved.bdt"));
    QTest::mouseClick(f.btnSaveBDTSinFile, Qt::LeftButton);
    QCOMPARE(rig.dialogs.shown.last().initialDir, programFolder + "FilesInTavelon");
    QCOMPARE(rig.dialogs.shown.last().filter, QStringLiteral("Файлы данных (*.bdt)|*.bdt"));
    QCOMPARE(rig.dialogs.shown.last().defaultExt, QStringLiteral(".bdt"));
    QCOMPARE(fileBytes(rig.path("saved.bdt")), *lists.deviceImage);
    QCOMPARE(rig.window->statusText(), QStringLiteral("БД ТС записана в файл: saved.bdt"));
    QCOMPARE(rig.window->lastFileFolder(), rig.folder.path() + "/");
    QCOMPARE(rig.window->lastFileName(), QStringLiteral("saved.bdt"));
    QCOMPARE(rig.transfer().bdtSavePath, rig.path("saved.bdt"));

    // A file that cannot be created: the error box names it, the status line stays.
    rig.dialogs.answerFile(rig.path("no/such/folder/x.bdt"));
    QTest::mouseClick(f.btnSaveBDTSinFile, Qt::LeftButton);
    QCOMPARE(rig.dialogs.shown.last().initialDir, rig.folder.path() + "/"); // the folder used last
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors[0].contains(QDir::toNativeSeparators(rig.path("no/such/folder/x.bdt"))));
    QCOMPARE(rig.window->statusText(), QStringLiteral("БД ТС записана в файл: saved.bdt"));

    // A good file: its list, the additional list and its list file.
    writeFile(rig.path("new.bdt"), sampleFileImage());
    rig.dialogs.answerFile(rig.path("new.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QCOMPARE(rig.dialogs.shown.last().initialDir, programFolder + "FilesInTavelon");
    const int fileTS = lists.fileTSCount;
    QCOMPARE(rig.window->statusText(), QStringLiteral("Считано из файла new.bdt %1 ТС").arg(fileTS));
    QCOMPARE(f.RzGroupBox2->title(), QStringLiteral("Список ТС в файле (%1):").arg(fileTS));
    QVERIFY(f.btnWriteBDTSInTav->isEnabled());
    QVERIFY(f.btnAddTSInTav->isEnabled());
    QVERIFY(lists.addTSCount > 0);
    QVERIFY(!f.TreeViewFile->isHidden() && !f.TreeViewAdd->isHidden());
    QVERIFY(fileBytes(rig.path("SpisokTSinFile.txt")).contains("\r\n\t\t"));
    const QByteArray goodImage = *lists.fileImage;
    const QStringList goodList = entries(*f.TreeViewFile);

    // Refused files and a missing one leave the good file's image and list.
    writeFile(rig.path("nosig.bdt"), "tavBDTS  1" + finalPage());
    writeFile(rig.path("nofinal.bdt"), image(record("A", "B", "C", 1, 1)));
    writeFile(rig.path("signed.bdt"), image(finalPage(), " +1"));
    const QList<QPair<QString, QString>> refused{
            {"nosig.bdt", "Файл nosig.bdt не содержит БД ТС."},
            {"nofinal.bdt", "Неверный формат файла."},
            {"signed.bdt", "Неверный формат файла."}};
    for (const auto &[name, status] : refused) {
        rig.dialogs.answerFile(rig.path(name));
        QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
        QCOMPARE(rig.window->statusText(), status);
        QCOMPARE(*lists.fileImage, goodImage);
        QCOMPARE(entries(*f.TreeViewFile), goodList);
        QVERIFY(!f.TreeViewFile->isHidden() && !f.TreeViewAdd->isHidden());
    }
    rig.dialogs.answerFile(rig.path("missing.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QCOMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors[1].contains("missing.bdt"));
    QCOMPARE(*lists.fileImage, goodImage);
    QCOMPARE(rig.transfer().bdtOpenPath, rig.path("missing.bdt"));
    // Only a regular file is opened: a pipe would hold the window until something is
    // written into it.
    if (QProcess::execute(QStringLiteral("mkfifo"), {rig.path("pipe.bdt")}) == 0) {
        rig.dialogs.answerFile(rig.path("pipe.bdt"));
        QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
        QCOMPARE(rig.dialogs.errors.size(), 3);
        QVERIFY(rig.dialogs.errors[2].contains(QStringLiteral("pipe.bdt\": это не обычный файл")));
        QCOMPARE(*lists.fileImage, goodImage);
    }

    // Cancelling the dialog lets the image go; the list stays on screen.
    rig.dialogs.answerFile(QString());
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QVERIFY(!lists.fileImage);
    QCOMPARE(entries(*f.TreeViewFile), goodList);
    rig.takeWritten();
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Список не считан из файла."));
    QVERIFY(rig.takeWritten().isEmpty());
}

void TestDatabasePage::appendingDeletingAndWritingBackEditTheInstrumentsDatabase()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    auto &lists = rig.lists();
    // Ten pages in the instrument; the file adds two test systems of 3 and 1 pages.
    const QList<QPair<QByteArray, int>> device{{"A", 2}, {"C", 4}, {"E", 3}};
    rig.held().setImage(database(device, 40));
    QVERIFY(rig.read());
    QCOMPARE(lists.devicePageCount, 10);
    const QByteArray before = *lists.deviceImage;
    writeFile(rig.path("more.bdt"), database({{"A", 2}, {"B", 3}, {"C", 4}, {"D", 1}, {"E", 3}}, 60));
    rig.dialogs.answerFile(rig.path("more.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QCOMPARE(entries(*f.TreeViewAdd), (QStringList{"B", "D"}));
    const QByteArray added = *lists.addImage;
    QCOMPARE(added.size(), 5 * 528);

    QTest::mouseClick(f.btnAddTSInTav, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("В список прибора добавлено 2 ТС"));
    QCOMPARE(lists.devicePageCount, 14);
    QCOMPARE(*lists.deviceImage, "TavBDTS 14" + before.mid(10, 9 * 528) + added);
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"A", "B", "C", "D", "E"}));
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС в приборе (5):"));
    QVERIFY(f.btnSaveAddTs->isEnabled());
    QVERIFY(!f.btnAddTSInTav->isEnabled()); // nothing is missing any more

    // The user picks test systems with the mouse: Ctrl adds single nodes, Shift a range,
    // but only visible nodes of one parent stay selected together.
    rig.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(rig.window.get()));
    TBDTSTreeView *tree = f.TreeViewTav;
    tree->expandAll();
    clickNode(tree, "A");
    clickNode(tree, "C", Qt::ControlModifier);
    QCOMPARE(selected(*tree), (QStringList{"A", "C"}));
    QCOMPARE(rig.window->statusText(), QStringLiteral("Выбрано  позиций:2."));
    QVERIFY(f.btnDeleteTS->isEnabled());
    clickNode(tree, "Lab", Qt::ControlModifier); // another parent: it alone stays
    QCOMPARE(selected(*tree), QStringList{"Lab"});
    clickNode(tree, "A");
    clickNode(tree, "Grp", Qt::ShiftModifier); // a range across levels
    QCOMPARE(selected(*tree), QStringList{"Grp"});
    clickNode(tree, "B", {}, Qt::RightButton);
    QCOMPARE(selected(*tree), QStringList{"B"});
    tree->collapseAll(); // hidden nodes leave the selection
    QVERIFY(selected(*tree).isEmpty());
    // A click that leaves nothing selected disables deleting and says nothing.
    QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, tree->viewport()->rect().bottomLeft() + QPoint(5, -5));
    QVERIFY(!f.btnDeleteTS->isEnabled());
    QCOMPARE(rig.window->statusText(), QStringLiteral("Выбрано  позиций:1.")); // the right click's

    // Exactly the chosen test systems go, and come back in the additional list.
    tree->expandAll();
    clickNode(tree, "B");
    clickNode(tree, "D", Qt::ControlModifier);
    QTest::mouseClick(f.btnDeleteTS, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Из списка прибора удалено 2 ТС"));
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"A", "C", "E"}));
    QCOMPARE(entries(*f.TreeViewAdd), (QStringList{"B", "D"}));
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС в приборе (3):"));
    QCOMPARE(f.RzGroupBox3->title(), QStringLiteral("Дополнительный список ТС (2):"));
    QVERIFY(f.btnAddTSInTav->isEnabled());

    // The whole group goes; the file's test systems come back in the additional list.
    clickNode(tree, "Grp");
    QTest::mouseClick(f.btnDeleteTS, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Из списка прибора удалено 3 ТС"));
    QCOMPARE(*lists.deviceImage, "TavBDTS  1" + added.right(528));
    QCOMPARE(entries(*f.TreeViewAdd), (QStringList{"A", "B", "C", "D", "E"}));
    QVERIFY(f.btnDeleteTS->isEnabled());
    QTest::mouseClick(f.btnDeleteTS, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Из списка прибора удалено 0 ТС"));

    // Add them all again and write: the instrument holds exactly the edited image, and
    // the tree shows what was read back from it.
    QTest::mouseClick(f.btnAddTSInTav, Qt::LeftButton);
    const QByteArray edited = *lists.deviceImage;
    rig.takeWritten();
    rig.progress.clear();
    QTest::mouseClick(f.btnSaveAddTs, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Запись БД ТС в прибор."));
    QVERIFY(!f.btnDeleteTS->isEnabled() && !f.btnReadBDTSFromFile->isEnabled() && !f.btnReadBDTSFromTav->isEnabled());
    QVERIFY(f.btnSaveAddTs->isEnabled());
    QCOMPARE(f.btnSaveAddTs->text(), QStringLiteral("Стоп"));
    QVERIFY(rig.waitUntil([&] { return rig.held().image() == edited; }, 5000));
    QVERIFY(rig.waitUntil([&] { return !rig.transfer().running() && rig.backend->lineIdle(); }, 5000));
    QByteArray pages;
    for (int i = 0; i < 14; ++i)
        pages += 'm' + edited.mid(10 + i * 528, 528);
    QCOMPARE(rig.takeWritten(), QByteArray("M\0\x0e", 3) + pages + "R" + QByteArray(14, 'r'));
    // Read back and compared with what was sent: the read-back is the same transfer.
    QCOMPARE(rig.window->statusText(), QStringLiteral("БД ТС записана в прибор и проверена: страниц 14."));
    QVERIFY(rig.dialogs.errors.isEmpty());
    QCOMPARE(f.btnSaveAddTs->text(), QStringLiteral("в прибор"));
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"A", "B", "C", "D", "E"}));
    QVERIFY(entries(*f.TreeViewAdd).isEmpty());
    QVERIFY(f.btnSaveAddTs->isEnabled() && f.btnReadBDTSFromFile->isEnabled());
}

void TestDatabasePage::aFileIsWrittenPageByPageAndReadBack()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    const QByteArray file = database({{"P", 1}, {"Q", 2}}, 80);
    writeFile(rig.path("four.bdt"), file);
    rig.dialogs.answerFile(rig.path("four.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    rig.progress.clear();
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QVERIFY(rig.waitUntil([&] { return rig.held().image() == file; }, 5000));
    QVERIFY(rig.waitUntil([&] { return !rig.transfer().running() && rig.lists().deviceListLoaded; }, 5000));
    QCOMPARE(rig.progress, (QList<int>{25, 50, 75, 100, 0, 50, 75, 100, 0}));
    QCOMPARE(*rig.lists().deviceImage, file);
    QCOMPARE(rig.window->statusText(), QStringLiteral("БД ТС записана в прибор и проверена: страниц 4."));
    QVERIFY(entries(*f.TreeViewAdd).isEmpty());
    TInstrumentWindow instrumentWindow(&rig.instrument);
    QCOMPARE(instrumentWindow.databaseText(), QStringLiteral("4 стр., 2 ТС"));

    // A page the instrument keeps wrongly is found by the comparison; the tree shows what
    // the instrument really holds.
    rig.held().spoilPageOfNextWriting(3);
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QVERIFY(rig.waitUntil([&] { return !rig.transfer().running() && rig.backend->lineIdle(); }, 5000));
    QCOMPARE(rig.window->statusText(), QStringLiteral("БД ТС в приборе отличается от записанной!"));
    QTRY_COMPARE(rig.dialogs.errors.size(), 1); // once the reply's handler is over
    QVERIFY(rig.dialogs.errors[0].contains(QStringLiteral("Не совпадают страницы: 3.\nЗапишите БД ТС в прибор заново.")));
    QCOMPARE(*rig.lists().deviceImage, rig.held().image());
    QVERIFY(rig.held().image() != file);
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС в приборе (2):"));

    // 300 pages are announced as 'M', 1, 44; a silent instrument ends the writing, and
    // the error box says how far it got.
    QByteArray big;
    for (int i = 0; i < 299; ++i)
        big += record("G", "M", "E" + QByteArray::number(1000 + i), 1, quint32(i));
    writeFile(rig.path("big.bdt"), image(big + finalPage()));
    rig.dialogs.answerFile(rig.path("big.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    rig.takeWritten();
    instrumentWindow.silentSwitch()->click(); // "Не отвечать"
    QVERIFY(rig.instrument.silent());
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("M\x01\x2c"));
    QCOMPARE(f.btnWriteBDTSInTav->text(), QStringLiteral("Стоп"));
    QVERIFY(f.btnWriteBDTSInTav->isEnabled() && !f.btnReadBDTSFromFile->isEnabled());
    rig.backend->injectReceived("m");
    rig.backend->injectReceived("m");
    QCOMPARE(rig.takeWritten(), 'm' + big.left(528) + 'm' + big.mid(528, 528));
    rig.transfer().TimeLimit_TimerTimer();
    QCOMPARE(rig.window->statusText(), QStringLiteral("Прибор не отвечает!"));
    QTRY_COMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors[1].startsWith(QStringLiteral(
            "Запись БД ТС в прибор прервана. Последняя страница, принятая прибором: 1 из 300.")));
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС не подтверждён прибором (2):"));
    QCOMPARE(f.btnWriteBDTSInTav->text(), QStringLiteral("в прибор"));
    QVERIFY(f.btnWriteBDTSInTav->isEnabled());
    rig.backend->injectReceived("m"); // too late: nothing more is sent
    QVERIFY(rig.takeWritten().isEmpty());

    // "Стоп" ends a writing as the time limit does, and says so.
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    rig.backend->injectReceived("m");
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QVERIFY(!rig.transfer().running());
    QCOMPARE(rig.window->statusText(), QStringLiteral("Запись БД ТС в прибор остановлена."));
    QCOMPARE(rig.dialogs.errors.size(), 3);
    QVERIFY(rig.dialogs.errors[2].contains(QStringLiteral("Прибор не принял ни одной страницы из 300.")));
    QCOMPARE(rig.window->shell.RzProgressBar1->value(), 0);

    // Closing the window stops a writing before its images go, and says so; a late 'm'
    // finds nothing to send.
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    for (int i = 0; i < 3; ++i)
        rig.backend->injectReceived("m");
    rig.window->close();
    QVERIFY(!rig.transfer().running());
    QCOMPARE(rig.dialogs.errors.size(), 4);
    QVERIFY(rig.dialogs.errors[3].contains(QStringLiteral("принятая прибором: 2 из 300")));
    rig.takeWritten();
    rig.backend->injectReceived("m");
    QVERIFY(rig.takeWritten().isEmpty());
}

void TestDatabasePage::aSilentOrLostInstrumentLeavesTheOldListIntact()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    auto &lists = rig.lists();
    const QByteArray old = database(fourPages, 100);
    rig.held().setImage(old);
    QVERIFY(rig.read());
    const QByteArray oldImage = *lists.deviceImage;
    const QByteArray oldListFile = fileBytes(rig.path("SpisokTSinTav.txt"));
    const QByteArray next = database({{"N1", 1}, {"N2", 1}}, 200);
    const auto oldListIntact = [&] {
        QCOMPARE(*lists.deviceImage, oldImage);
        QCOMPARE(entries(*f.TreeViewTav), (QStringList{"Alpha", "Zeta"}));
        QCOMPARE(fileBytes(rig.path("SpisokTSinTav.txt")), oldListFile);
        QVERIFY(!f.TreeViewTav->isHidden());
        QCOMPARE(rig.window->shell.RzProgressBar1->value(), 0);
        QVERIFY(rig.window->line->ReceiveIdle());
        QVERIFY(f.btnReadBDTSFromFile->isEnabled());
    };

    // No answer at all: the time limit ends the reading.
    rig.answerByHand();
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QVERIFY(rig.transfer().TimeLimit_Timer->isActive());
    QCOMPARE(rig.transfer().TimeLimit_Timer->interval(), 3000);
    rig.transfer().TimeLimit_TimerTimer();
    QCOMPARE(rig.window->statusText(), QStringLiteral("Прибор не отвечает!"));
    oldListIntact();
    QVERIFY(f.btnReadBDTSFromTav->isEnabled());

    // The button that started a reading stops it.
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    QVERIFY(!rig.transfer().running());
    QCOMPARE(rig.window->statusText(), QStringLiteral("Чтение БД ТС из прибора остановлено."));
    QCOMPARE(f.btnReadBDTSFromTav->text(), QStringLiteral(" из прибора"));
    oldListIntact();

    // Noise earns no time: the limit counts from the request, which only a whole reply
    // brings. Noise before the count, then a page that never ends.
    const auto timePassed = [&] { return rig.transfer().TimeLimit_Timer->remainingTime() < 2900; };
    for (const QByteArray &noise : {QByteArray("R\x07R"), QByteArray("r") + next.mid(10, 100)}) {
        rig.takeWritten();
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        if (noise.startsWith('r')) {
            rig.backend->injectReceived("R  3");
            QVERIFY(rig.waitWritten("Rr"));
        }
        QVERIFY(rig.waitUntil(timePassed));
        rig.backend->injectReceived(noise);
        QVERIFY(timePassed());
        rig.transfer().TimeLimit_TimerTimer();
        QCOMPARE(rig.window->statusText(), QStringLiteral("Прибор не отвечает!"));
        oldListIntact();
    }

    // The line goes down in the middle of a reading, at several places.
    const QList<QByteArray> arrived{
            "R",
            "R  3r" + next.mid(10, 100),
            "R  3r" + next.mid(10, 528) + "r" + next.mid(538, 528) + "r",
    };
    for (const QByteArray &bytes : arrived) {
        rig.answerByHand();
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        // The count, then each page as the window asks for it.
        rig.backend->injectReceived(bytes.left(4));
        for (qsizetype at = 4; at < bytes.size(); at += 529) {
            QVERIFY(rig.waitWritten("r"));
            rig.takeWritten();
            rig.backend->injectReceived(bytes.mid(at, 529));
        }
        rig.instrument.setPowered(false);
        QVERIFY(!rig.transfer().running());
        QCOMPARE(rig.window->statusText(),
                 QStringLiteral("Нет связи с прибором: чтение БД ТС из прибора прервано. Повторите чтение."));
        oldListIntact();
        QVERIFY(!f.btnReadBDTSFromTav->isEnabled());
        rig.instrument.setPowered(true);
        QVERIFY(f.btnReadBDTSFromTav->isEnabled());
    }

    // The line goes down in the middle of a writing: the error box says how far it got,
    // and the list that was being sent no longer passes for the instrument's.
    rig.answerByHand();
    writeFile(rig.path("old.bdt"), old);
    rig.dialogs.answerFile(rig.path("old.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("M\0\x04", 3));
    rig.backend->injectReceived("m");
    rig.backend->injectReceived("m");
    rig.instrument.setPowered(false);
    QVERIFY(!rig.transfer().running());
    QCOMPARE(rig.window->statusText(), QStringLiteral("Нет связи с прибором: запись БД ТС в прибор прервана."));
    QVERIFY(rig.waitUntil([&] { return rig.dialogs.errors.size() == 1; }));
    QVERIFY(rig.dialogs.errors[0].contains(QStringLiteral("Последняя страница, принятая прибором: 1 из 4.")));
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС не подтверждён прибором (2):"));
    rig.instrument.setPowered(true);

    // Back on line, the next reading replaces the list and names it the instrument's
    // again. A list file that cannot be written goes to the error box, where no later
    // status line hides it.
    QVERIFY(QFile::remove(rig.path("SpisokTSinTav.txt")));
    QVERIFY(QDir(rig.folder.path()).mkdir(QStringLiteral("SpisokTSinTav.txt")));
    rig.instrument.setSilent(false);
    rig.held().setImage(next);
    QVERIFY(rig.read());
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"N1", "N2"}));
    QCOMPARE(f.RzGroupBox1->title(), QStringLiteral("Список ТС в приборе (2):"));
    QCOMPARE(rig.window->statusText(), QStringLiteral("Принято из прибора страниц: 3"));
    QTRY_COMPARE(rig.dialogs.errors.size(), 2); // once the reply's handler is over
    QVERIFY(rig.dialogs.errors[1].contains(QStringLiteral("SpisokTSinTav.txt")));
}

void TestDatabasePage::countsAndPagesThatArriveOddlyAreReadSafely()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    auto &t = rig.transfer();
    rig.answerByHand();

    // A count split over two receive events is read whole.
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    rig.backend->injectReceived("R  1");
    rig.backend->injectReceived("2");
    QVERIFY(rig.waitWritten("Rr"));
    QCOMPARE(t.deviceHeaderText, QByteArray("TavBDTS 12"));
    t.TimeLimit_TimerTimer();

    // A pause inside the count reads too few pages. A database always ends with its final
    // page: a reading without it replaces nothing and asks to be repeated.
    const QByteArray twelve = database({{"A", 3}, {"B", 4}, {"C", 4}}, 400);
    rig.takeWritten();
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    rig.backend->injectReceived("R  1");
    QVERIFY(rig.waitWritten("Rr"));
    rig.backend->injectReceived("2");
    rig.backend->injectReceived('r' + twelve.mid(10, 528));
    QVERIFY(!t.running());
    QCOMPARE(rig.window->statusText(),
             QStringLiteral("Чтение БД ТС из прибора нарушено (лишние байты на линии). Повторите чтение."));
    QVERIFY(!rig.lists().deviceImage);
    QVERIFY(!rig.lists().deviceListLoaded);
    QVERIFY(!f.btnSaveBDTSinFile->isEnabled());
    QVERIFY(!f.TreeViewTav->isHidden());

    // Counts that are no count, or too large, or none: no page is asked for.
    const QList<QPair<QByteArray, QString>> counts{
            {"R x5", "Прибор прислал вместо числа страниц БД ТС: \"x5\"."},
            {"R  +3", "Прибор прислал вместо числа страниц БД ТС: \" %2B3\"."},
            // Noise is quoted by its beginning only.
            {"R " + QByteArray(5000, '\x07'), QStringLiteral("Прибор прислал вместо числа страниц БД ТС: \"")
                                                   + QStringLiteral("%07").repeated(24) + QStringLiteral("…\".")},
            {"R 1000", "Слишком много страниц в БД ТС (больше 999)."},
            {"R   0", "Чтение БД ТС из прибора."}};
    for (const auto &[reply, status] : counts) {
        rig.takeWritten();
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        // (After a disturbed reading the request goes once the line is quiet.)
        QVERIFY(rig.waitWritten("R"));
        rig.backend->injectReceived(reply);
        QVERIFY(rig.waitUntil([&] { return !t.running(); }, 2000));
        QCOMPARE(rig.window->statusText(), status);
        QCOMPARE(rig.takeWritten(), QByteArray("R"));
        QVERIFY(!f.TreeViewTav->isHidden());
        QVERIFY(f.btnReadBDTSFromTav->isEnabled());
    }

    // One request brings one page and nothing else: bytes beyond it are noise that may
    // sit inside the page, and the reading is refused; a clean one reads as ever.
    const QByteArray held = database({{"K", 1}}, 300);
    const auto readHeld = [&](const QByteArray &noise) {
        rig.takeWritten();
        QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
        QVERIFY(rig.waitWritten("R"));
        rig.backend->injectReceived("R  2");
        QVERIFY(rig.waitWritten("Rr"));
        rig.backend->injectReceived('r' + held.mid(10, 300) + noise);
        rig.backend->injectReceived(held.mid(310, 228));
        if (t.running())
            rig.backend->injectReceived('r' + held.mid(538, 528));
        QVERIFY(rig.waitUntil([&] { return !t.running(); }, 2000));
    };
    readHeld("\xC3r");
    QCOMPARE(rig.window->statusText(),
             QStringLiteral("Чтение БД ТС из прибора нарушено (лишние байты на линии). Повторите чтение."));
    QVERIFY(!rig.lists().deviceImage);
    readHeld({});
    QCOMPARE(*rig.lists().deviceImage, held);

    // A page of unknown mark inside the database is passed over, and the user is told.
    const QByteArray odd = image(record("G", "M", "U", 1, 500) + page(0x1234, 501) + finalPage(502));
    rig.takeWritten();
    QTest::mouseClick(f.btnReadBDTSFromTav, Qt::LeftButton);
    rig.backend->injectReceived("R  3");
    QVERIFY(rig.waitWritten("Rr"));
    for (int i = 0; i < 3; ++i)
        rig.backend->injectReceived('r' + odd.mid(10 + i * 528, 528));
    QVERIFY(rig.waitUntil([&] { return !t.running(); }, 2000));
    QCOMPARE(rig.window->statusText(),
             QStringLiteral("Принято из прибора страниц: 2. Пропущено страниц с неизвестной меткой: 1."));
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"U"}));
    rig.takeWritten();

    // Replies nobody waits for are dropped without sending anything.
    for (const QByteArray &stray : {QByteArray("m"), QByteArray("r") + QByteArray(528, 'x'), QByteArray("R  5")}) {
        rig.backend->injectReceived(stray);
        QVERIFY(rig.window->line->ReceiveIdle());
    }
    QTest::qWait(TReceiveDispatcher::quietMs * 2);
    QVERIFY(rig.takeWritten().isEmpty());
}

void TestDatabasePage::whatTheHeaderCannotHoldIsRefusedAndTheRefusalStays()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    auto &lists = rig.lists();
    rig.answerByHand();

    // A record that claims all 999 pages, the final page among them: the normal form
    // would need 1000 pages. Neither the reading nor the file is taken, so nothing of it
    // can be written.
    const QByteArray claimed = image(record("G", "M", "All", 998, 1, 999) + finalPage());
    QVERIFY(rig.readByHand(claimed));
    QCOMPARE(rig.window->statusText(), QStringLiteral("Слишком много страниц в БД ТС (больше 999)."));
    QVERIFY(!lists.deviceImage);
    QCOMPARE(lists.deviceTSCount, 0);
    writeFile(rig.path("claimed.bdt"), claimed);
    rig.dialogs.answerFile(rig.path("claimed.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Слишком много страниц в БД ТС (больше 999)."));
    QVERIFY(!lists.fileImage);
    QVERIFY(!f.btnWriteBDTSInTav->isEnabled());
    QVERIFY(f.TreeViewFile->topLevelItemCount() == 0);
    // An image whose last page is not the final page is never sent either.
    rig.takeWritten();
    rig.transfer().StartWriting(image(record("G", "M", "E", 1, 3)), 1);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Неверный формат файла."));
    QVERIFY(rig.takeWritten().isEmpty());

    // An instrument list of 998 pages cannot take a test system of 3 pages.
    const QByteArray device = image(record("G", "M", "Big", 997, 1) + finalPage());
    QVERIFY(rig.readByHand(device));
    writeFile(rig.path("three.bdt"), image(record("G", "M", "Small", 3, 2) + finalPage()));
    rig.dialogs.answerFile(rig.path("three.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    QVERIFY(f.btnAddTSInTav->isEnabled());
    QTest::mouseClick(f.btnAddTSInTav, Qt::LeftButton);
    QCOMPARE(rig.window->statusText(), QStringLiteral("Слишком много страниц в БД ТС (больше 999)."));
    QCOMPARE(*lists.deviceImage, device);
    QCOMPARE(lists.devicePageCount, 998);
    QVERIFY(!f.btnSaveAddTs->isEnabled());
}

QTEST_MAIN(TestDatabasePage)
#include "tst_database_page.moc"

void TestDatabasePage::eachPageIsJudgedByItsOwnBytesAndWhatFollowsItIsHandedOn()
{
    TDatabaseRig rig;
    auto &w = *rig.window;
    auto &f = rig.frame();
    // Automatic reception ticked on the reader page, then back to the database.
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.reachTopSpeed());
    QTest::mouseClick(w.readerPage->chckAutoReadOP, Qt::LeftButton);
    w.shell.ActionBDTS->trigger();
    QVERIFY(rig.reachTopSpeed());
    // The instrument's second page ends with 'L' in its last, uninterpreted byte.
    QByteArray held = database(fourPages, 20);
    held[10 + 2 * 528 - 1] = 'L';
    rig.held().setImage(held);
    QVERIFY(rig.read());
    QCOMPARE(*rig.lists().deviceImage, held.left(10) + held.mid(10 + 528, 2 * 528) + held.mid(10, 528) + held.right(528));
    const std::optional<QByteArray> listRead = rig.lists().deviceImage;
    const QString refused = QStringLiteral("Чтение БД ТС из прибора нарушено (лишние байты на линии). Повторите чтение.");

    // A notice right behind the last page, in one read with it, may be the page's own
    // last byte pushed out by noise: the reading is refused, and the list read before
    // stays. The notice is heard all the same: the table is fetched once it is over.
    spoilPages(rig.instrument, [&rig](int page, const QByteArray &reply) {
        if (page < 4)
            return reply;
        // In one read with the page, as a real port hands them over.
        QTimer::singleShot(0, rig.backend, [&rig, reply] { rig.backend->injectReceived(reply + 'G'); });
        return QByteArray();
    });
    QVERIFY(rig.read());
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.lists().deviceImage, listRead);
    QTRY_COMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QCOMPARE(w.readerPage->odTableText, ' ' + measurementsOf(rig.instrument)->tableReply().mid(1));
    QVERIFY(rig.takeWritten().endsWith("rG"));

    // One byte of noise in the last bytes of the final page, or anywhere in the page
    // that ends with 'L', whose last byte it pushes out behind it: the reading is refused
    // and the list read before stays.
    rig.held().setImage(database({{"Other", 3}}, 40)); // what a wrong reading would show
    const QList<QPair<int, int>> noisyPlaces{{4, 525}, {4, 526}, {4, 527}, {4, 528}, {2, 50}, {2, 300}, {2, 522}, {2, 527}};
    for (const auto &[noisyPage, at] : noisyPlaces) {
        QByteArray spoiled = rig.held().image();
        if (noisyPage == 2)
            spoiled = held;
        rig.held().setImage(spoiled);
        spoilPages(rig.instrument, [noisyPage = noisyPage, at = at](int page, const QByteArray &reply) {
            return page == noisyPage ? QByteArray(reply).insert(at, '\x5A') : reply;
        });
        QVERIFY(rig.read());
        QVERIFY(rig.waitLineIdle());
        QVERIFY2(w.statusText() == refused, qPrintable(QStringLiteral("page %1, byte %2: %3").arg(noisyPage).arg(at).arg(w.statusText())));
        QCOMPARE(rig.lists().deviceImage, listRead);
        QVERIFY(!f.TreeViewTav->isHidden());
    }

    // An instrument whose memory lost its final page: the reading asks to be repeated.
    spoilPages(rig.instrument, [](int, const QByteArray &reply) { return reply; });
    QByteArray cut = database(fourPages, 60).left(10 + 3 * 528);
    cut.replace(7, 3, "  3");
    rig.held().setImage(cut);
    QVERIFY(rig.read());
    QCOMPARE(w.statusText(), QStringLiteral("Чтение БД ТС из прибора нарушено (нет последней страницы). Повторите чтение."));
    QCOMPARE(rig.lists().deviceImage, listRead);
    QCOMPARE(entries(*f.TreeViewTav), (QStringList{"Alpha", "Zeta"}));
}

void TestDatabasePage::anInstrumentThatErasesSlowlyIsWrittenAllTheSame()
{
    TDatabaseRig rig;
    auto &f = rig.frame();
    const QByteArray file = database({{"P", 1}, {"Q", 2}}, 90);
    writeFile(rig.path("four.bdt"), file);
    rig.dialogs.answerFile(rig.path("four.bdt"));
    QTest::mouseClick(f.btnReadBDTSFromFile, Qt::LeftButton);
    // The instrument erases its database for three and a half seconds before it
    // answers 'M'; the pages then go at their usual pace.
    TInstrumentDatabase *db = &rig.held();
    rig.instrument.addCommand({'M', 2, [db](TVirtualInstrument &, const QByteArray &count) {
                                   const int pages = static_cast<unsigned char>(count.at(0)) * 256
                                                     + static_cast<unsigned char>(count.at(1));
                                   QTimer::singleShot(3500, db, [db, pages] { db->beginWriting(pages); });
                               }});
    QTest::mouseClick(f.btnWriteBDTSInTav, Qt::LeftButton);
    QVERIFY(rig.waitUntil([&] { return !rig.transfer().running() && rig.backend->lineIdle(); }, 10000));
    QCOMPARE(rig.window->statusText(), QStringLiteral("БД ТС записана в прибор и проверена: страниц 4."));
    QCOMPARE(rig.held().image(), file);
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestDatabasePage::aNoticeLetterPushedOutOfAPageByNoiseIsNoNotice()
{
    TDatabaseRig rig;
    auto &w = *rig.window;
    const QString refused = QStringLiteral("Чтение БД ТС из прибора нарушено (лишние байты на линии). Повторите чтение.");
    for (const char last : {'G', 'g'}) {
        // The instrument's second page ends with a notice's letter in its last,
        // uninterpreted byte; read clean, it is a byte of the page like any other.
        QByteArray held = database(fourPages, 70);
        held[10 + 2 * 528 - 1] = last;
        rig.held().setImage(held);
        spoilPages(rig.instrument, [](int, const QByteArray &reply) { return reply; });
        QVERIFY(rig.read());
        QVERIFY(rig.waitLineIdle());
        QCOMPARE(w.statusText(), QStringLiteral("Принято из прибора страниц: 4"));
        const std::optional<QByteArray> listRead = rig.lists().deviceImage;
        QVERIFY(listRead && listRead->contains(held.mid(10 + 528, 528)));

        // One byte of noise near its end pushes that letter out behind the page: it is
        // no notice but part of a page that came disturbed, and the reading is refused.
        for (const int at : {525, 526, 527, 528}) {
            spoilPages(rig.instrument, [at](int page, const QByteArray &reply) {
                return page == 2 ? QByteArray(reply).insert(at, '\x5A') : reply;
            });
            QVERIFY(rig.read());
            QVERIFY(rig.waitLineIdle());
            QVERIFY2(w.statusText() == refused,
                     qPrintable(QStringLiteral("'%1' pushed out by noise at %2: %3").arg(QLatin1Char(last)).arg(at).arg(w.statusText())));
            QCOMPARE(rig.lists().deviceImage, listRead);
        }
    }
    QVERIFY(rig.dialogs.errors.isEmpty());
}
