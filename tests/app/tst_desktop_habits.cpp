// The desktop habits beside the design: a window that grows with its grid, trees and
// memo; fonts that follow the desktop's; F5, Ctrl+S and F1; the start page's links by
// keyboard; what the next run starts from; the box "О программе"; the lamp's words
// for screen readers.

#include "app/GuideWindow.h"
#include "link/ContactSearch.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "link/LinkControl.h"
#include "link/TMSComm.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/UnitBDTS_TreeTS.h"
#include "support/VirtualRig.h"

#include <QAccessible>
#include <QApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextBrowser>
#include <QTreeWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolButton>

namespace {
const QString programVersion = QStringLiteral("2008.6.6");

/// Shows the window and makes it the active one, so that its keys work.
bool activate(TFormMainLoritS_D7 &w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    return QTest::qWaitForWindowActive(&w);
}

/// Takes the URLs the program hands to the desktop, instead of opening anything.
class TUrlProbe : public QObject
{
    Q_OBJECT
public:
    TUrlProbe() { QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "open"); }
    ~TUrlProbe() override { QDesktopServices::unsetUrlHandler(QStringLiteral("file")); }
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened << url; }
};
} // namespace

class TestDesktopHabits : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theWindowOpensAsDrawnAndItsGridTreesAndMemoGrowWithIt();
    void aLargerDesktopFontGivesLargerTextAndALargerWindow();
    void keysActOnlyThroughTheActivePagesEnabledButtons();
    void aSecondRunStartsFromThePortFoldersAndSizeOfTheFirst();
    void theHelpKeyAndTheAboutBoxTellTheUser();
    void theLampTellsScreenReadersWhetherThereIsALink();
    void openFolderSaysWhyWhenTheDesktopCannotShowFolders();
};

void TestDesktopHabits::theWindowOpensAsDrawnAndItsGridTreesAndMemoGrowWithIt()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    QVERIFY(activate(w));
    QCOMPARE(w.size(), QSize(632, 412));
    QCOMPARE(w.pos(), QPoint(233, 133));
    QVERIFY(w.minimumSize().width() < 632 && w.minimumSize().height() <= 412);
    QVERIFY(w.font().pointSizeF() > 0); // points, so the desktop's setting reaches it
    // The window grows when the user makes it, never by itself: a long message is cut.
    w.ShowStatus(QString(300, QLatin1Char('x')));
    QCoreApplication::processEvents();
    QCOMPARE(w.size(), QSize(632, 412));

    w.shell.ActionTav2006->trigger();
    QTableWidget *grid = w.readerPage->StringGrid1;
    QCOMPARE(grid->columnWidth(1), 35);
    QCOMPARE(grid->columnWidth(12), 35);
    QCOMPARE(grid->rowHeight(8), 17);
    w.shell.ActionBDTS->trigger();
    const int treeHeight = w.frameBDTS->TreeViewFile->height();
    w.shell.ActionFile->trigger();
    const QSize memo = w.resultPage->Memo1->size();

    w.resize(1000, 700);
    QTRY_VERIFY(w.resultPage->Memo1->width() > memo.width() + 300);
    QVERIFY(w.resultPage->Memo1->height() > memo.height() + 200);
    w.shell.ActionBDTS->trigger();
    QTRY_VERIFY(w.frameBDTS->TreeViewFile->height() > treeHeight + 100);
    w.shell.ActionTav2006->trigger();
    QTRY_VERIFY(grid->columnWidth(1) > 50);
    // The columns share the room evenly, and the rows alike.
    for (int c = 2; c <= 12; ++c)
        QVERIFY(qAbs(grid->columnWidth(c) - grid->columnWidth(1)) <= 1);
    QVERIFY(grid->rowHeight(8) > 25);
    QVERIFY(qAbs(grid->rowHeight(1) - grid->rowHeight(8)) <= 1);

    // Back at the opening size, so is the grid.
    w.resize(632, 412);
    QTRY_COMPARE(grid->columnWidth(12), 35);
    QCOMPARE(grid->rowHeight(8), 17);
}

void TestDesktopHabits::aLargerDesktopFontGivesLargerTextAndALargerWindow()
{
    const QFont desktop = QApplication::font();
    QFont larger = desktop;
    larger.setPointSizeF(desktop.pointSizeF() * 1.5);
    QApplication::setFont(larger);
    {
        TVirtualRig rig;
        auto &w = *rig.window;
        QCOMPARE(w.font().pointSizeF(), desktop.pointSizeF() * 1.5 * 11 / 12);
        QVERIFY(w.resultPage->Memo1->font().pointSizeF() > w.font().pointSizeF());
        // Whatever is drawn in pixels grows with the text, the window's size included.
        QVERIFY(activate(w));
        QVERIFY(w.width() >= 900 && w.height() >= 590);
        QVERIFY(w.readerPage->StringGrid1->minimumWidth() >= (15 + 12 * 35) * 14 / 10);
        QVERIFY(w.shell.portGroup->RzGroupBox1->height() >= 39 * 14 / 10);
    }
    QApplication::setFont(desktop);
}

void TestDesktopHabits::keysActOnlyThroughTheActivePagesEnabledButtons()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    QVERIFY(activate(w));

    // The start page's links are reached with Tab and followed with Enter.
    for (int i = 0; i < 30 && QApplication::focusWidget() != w.shell.lbReader; ++i)
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &w, Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget *>(w.shell.lbReader));
    QTest::keyClick(w.shell.lbReader, Qt::Key_Return);
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageReader));
    QVERIFY(rig.reachTopSpeed());
    rig.takeWritten();

    // F5 is "Принять данные"; Ctrl+S is "Данные в файл", disabled until a table came.
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(rig.takeWritten(), QByteArray("G"));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QVERIFY(rig.dialogs.shown.isEmpty());
    w.readerPage->btnSaveOP->setEnabled(true);
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    QCOMPARE(QFileInfo(rig.dialogs.shown.at(0).fileName).fileName(), QStringLiteral("TavDat.xls"));

    // The results page's own read button; none on the start page.
    w.ActionFileExecute();
    QVERIFY(rig.reachTopSpeed());
    rig.takeWritten();
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    QTRY_VERIFY(!w.resultPage->Memo1->toPlainText().isEmpty()); // the protocol is in, the line free
    rig.takeWritten();
    w.shell.RzPageControl1->setCurrentIndex(0);
    QTest::keyClick(&w, Qt::Key_F5);
    QVERIFY(rig.takeWritten().isEmpty());

    // On the database page F5 reads, and pressed again it does not stop the reading
    // (its button then reads "Стоп"); the save button is disabled while nothing was read.
    w.shell.ActionBDTS->trigger();
    QVERIFY(rig.reachTopSpeed());
    rig.takeWritten();
    rig.instrument.setSilent(true);
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(rig.takeWritten(), QByteArray("R"));
    QCOMPARE(w.frameBDTS->btnReadBDTSFromTav->text(), QStringLiteral("Стоп"));
    QTest::keyClick(&w, Qt::Key_F5);
    QCOMPARE(w.frameBDTS->btnReadBDTSFromTav->text(), QStringLiteral("Стоп"));
    QTest::keyClick(&w, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(rig.dialogs.shown.size(), 1);
    w.frameBDTS->btnReadBDTSFromTav->click(); // "Стоп"

    // Without the instrument "Принять данные" is disabled, and F5 sends nothing.
    w.ShowPage(TFormMainLoritS_D7::pageReader);
    rig.instrument.setPowered(false);
    QVERIFY(!w.line->UpdateLinkState());
    rig.takeWritten();
    QTest::keyClick(&w, Qt::Key_F5);
    QVERIFY(rig.takeWritten().isEmpty());
}

void TestDesktopHabits::aSecondRunStartsFromThePortFoldersAndSizeOfTheFirst()
{
    QTemporaryDir place;
    const QString settings = place.filePath(QStringLiteral("settings.ini"));
    const QString tables = place.filePath(QStringLiteral("tables"));
    const QString databases = place.filePath(QStringLiteral("databases"));
    QVERIFY(QDir().mkpath(tables) && QDir().mkpath(databases));
    TRigOptions twoPorts = TRigOptions().withSettings(settings);
    twoPorts.ports = {1, 2};
    twoPorts.instrumentPort = 2;
    {
        TVirtualRig first(twoPorts);
        auto &w = *first.window;
        w.shell.portGroup->cbxNumPort->setCurrentIndex(1);
        w.shell.portGroup->cbxNumPortChange();
        QCOMPARE(w.line->OpenPortText(), QStringLiteral("COM2"));
        first.dialogs.answerFile(tables + QStringLiteral("/protocol.txt"));
        w.resultPage->btnSaveProtokolClick();
        w.shell.ActionBDTS->trigger();
        first.dialogs.answerFile(databases + QStringLiteral("/none.bdt"));
        w.Guarded([&w] { w.frameBDTS->btnReadBDTSFromFileClick(); }); // no such file: only its folder counts
        w.settings().setColourScale(true); // as the reader page keeps its own choice
        w.resize(700, 500);
        w.close();
    }

    TVirtualRig second(twoPorts);
    auto &w = *second.window;
    QCOMPARE(w.line->OpenPortText(), QStringLiteral("COM2"));
    QVERIFY(w.line->LinkPresent());
    // Nothing else changes at start: no contact search, nothing on the line, 115200.
    QCOMPARE(w.line->PortSettings(), QStringLiteral("115200,n,8,1"));
    QVERIFY(!w.line->search->running());
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QVERIFY(second.takeWritten().isEmpty());
    QCOMPARE(w.size(), QSize(700, 500));
    QVERIFY(w.settings().colourScale());
    QCOMPARE(w.sdlgSaveTavDat().initialDir, tables + QLatin1Char('/'));
    w.shell.ActionBDTS->trigger();
    QCOMPARE(w.frameBDTS->OpenDialog.initialDir, databases + QLatin1Char('/'));
    // A dialog whose folder was not remembered starts where it always did.
    QCOMPARE(w.frameBDTS->SaveDialog.initialDir, QString());
    QCOMPARE(w.readerPage->odlgOpenFileToExcel.initialDir, w.handOverFolder());

    // A port that is gone leaves the first one; a folder that is gone, the usual one.
    QVERIFY(QDir(tables).removeRecursively());
    TVirtualRig third(TRigOptions().withSettings(settings));
    QCOMPARE(third.window->line->OpenPortText(), QStringLiteral("COM1"));
    QCOMPARE(third.window->sdlgSaveTavDat().initialDir, third.window->handOverFolder());
}

void TestDesktopHabits::theHelpKeyAndTheAboutBoxTellTheUser()
{
    TUrlProbe desktop;
    TVirtualRig rig;
    auto &w = *rig.window;
    QVERIFY(activate(w));
    // Beside the test program there is no guide.
    QTest::keyClick(&w, Qt::Key_F1);
    QCOMPARE(w.statusText(), QStringLiteral("Руководство пользователя (guide-ru.md) не найдено."));
    QVERIFY(desktop.opened.isEmpty());

    // The guide opens inside the program, rendered with its pictures, its sections
    // listed, at the section of the page the user is on.
    const QString guidePath = rig.folder.filePath(QStringLiteral("guide-ru.md"));
    QFile guide(guidePath);
    QVERIFY(guide.open(QIODevice::WriteOnly));
    guide.write("# Руководство\n\nСодержание: [Протокол](#протокол-результатов).\n\n"
                "## Главное окно\n\n![Окно](window.png)\n\n" + QByteArray(40, '\n').replace("\n", "Строка.\n\n")
                + "## Порт связи\n\n### Шаг 1. Файл для загрузки\n\n" + QByteArray(40, '\n').replace("\n", "Текст.\n\n")
                + "## Протокол результатов\n\nПротокол.\n\n## Анализ планшета\n\nАнализ.\n");
    guide.close();
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    QVERIFY(picture.save(rig.folder.filePath(QStringLiteral("window.png"))));
    TVirtualRig withGuide(TRigOptions().withUserGuide(guidePath));
    QVERIFY(activate(*withGuide.window));
    withGuide.window->ActionFileExecute();
    QTest::keyClick(withGuide.window.get(), Qt::Key_F1);
    QVERIFY(desktop.opened.isEmpty()); // no other program, no raw Markdown
    auto *guideWindow = withGuide.window->findChild<TGuideWindow *>();
    QVERIFY(guideWindow);
    QVERIFY(QTest::qWaitForWindowExposed(guideWindow));
    QCOMPARE(guideWindow->currentHeading(), QStringLiteral("Протокол результатов"));
    // Screen readers hear a window by its title, not a filler.
    QAccessibleInterface *announced = QAccessible::queryAccessibleInterface(guideWindow);
    QCOMPARE(announced->role(), QAccessible::Window);
    QCOMPARE(announced->text(QAccessible::Name), QStringLiteral("Руководство пользователя — ЛОРИТ-сервис"));
    QVERIFY(guideWindow->browser()->verticalScrollBar()->value() > 0);
    QVERIFY(!guideWindow->browser()->toPlainText().contains(QLatin1Char('#')));
    QVERIFY(guideWindow->browser()->loadResource(QTextDocument::ImageResource, QUrl(QStringLiteral("window.png")))
                .toByteArray()
                .startsWith("\x89PNG"));
    QTreeWidget *contents = guideWindow->contents();
    QCOMPARE(contents->topLevelItemCount(), 1);
    QTreeWidgetItem *title = contents->topLevelItem(0);
    QCOMPARE(title->childCount(), 4);
    QCOMPARE(title->child(1)->child(0)->text(0), QStringLiteral("Шаг 1. Файл для загрузки"));
    // A click in the contents list goes to that section.
    const QRect port = contents->visualItemRect(title->child(1));
    QTest::mouseClick(contents->viewport(), Qt::LeftButton, {}, port.center());
    QCOMPARE(guideWindow->currentHeading(), QStringLiteral("Порт связи"));
    // The guide's own links name its sections as GitHub does.
    QCOMPARE(TGuideWindow::anchorOf(QStringLiteral("Шаг 1. Файл для загрузки")), QStringLiteral("шаг-1-файл-для-загрузки"));
    // F1 on the start page: the same window, at the main window's section.
    withGuide.window->shell.RzPageControl1->setCurrentIndex(TFormMainLoritS_D7::pageStart);
    QApplication::setActiveWindow(withGuide.window.get());
    QTest::keyClick(withGuide.window.get(), Qt::Key_F1);
    QCOMPARE(withGuide.window->findChildren<TGuideWindow *>().size(), 1);
    QCOMPARE(guideWindow->currentHeading(), QStringLiteral("Главное окно"));
    // F1 on the analysis page: its own section.
    withGuide.window->shell.ActionAnalysis->trigger();
    QCOMPARE(withGuide.window->shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageAnalysis));
    QApplication::setActiveWindow(withGuide.window.get());
    QTest::keyClick(withGuide.window.get(), Qt::Key_F1);
    QCOMPARE(guideWindow->currentHeading(), QStringLiteral("Анализ планшета"));

    // "О программе" tells the program, its version, Qt's and the rights, and stays on the page.
    w.ActionFileExecute();
    w.shell.Action1->trigger();
    QCOMPARE(rig.dialogs.informations.size(), 2);
    QCOMPARE(rig.dialogs.informations.at(0), QStringLiteral("О программе"));
    const QString about = rig.dialogs.informations.at(1);
    for (const QString &part : {QStringLiteral("ЛОРИТ-сервис"), QStringLiteral("Версия: ") + programVersion,
                                QStringLiteral("Qt: ") + QString::fromLatin1(qVersion()),
                                QStringLiteral("Все права защищены.")})
        QVERIFY2(about.contains(part), qPrintable(about));
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageResult));
}

void TestDesktopHabits::theLampTellsScreenReadersWhetherThereIsALink()
{
    TVirtualRig rig;
    QToolButton *lamp = rig.window->shell.portGroup->sbtnCommON;
    QAccessibleInterface *accessible = QAccessible::queryAccessibleInterface(lamp);
    QVERIFY(accessible);
    QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("связь есть"));
    QCOMPARE(accessible->text(QAccessible::Name), QStringLiteral("Индикатор связи."));
    rig.instrument.setPowered(false);
    QVERIFY(!rig.window->line->UpdateLinkState());
    QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("нет связи"));
    rig.instrument.setPowered(true);
    QVERIFY(rig.window->line->UpdateLinkState());
    QCOMPARE(accessible->text(QAccessible::Description), QStringLiteral("связь есть"));
    QCOMPARE(lamp->toolTip(), QStringLiteral("Индикатор связи."));
}

void TestDesktopHabits::openFolderSaysWhyWhenTheDesktopCannotShowFolders()
{
#ifdef Q_OS_WIN
    QSKIP("Windows' shell says itself when it cannot open a folder");
#endif
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-mime")).isEmpty())
        QSKIP("xdg-utils is not installed");
    // A desktop of our own, with no program at all: xdg-open would start and fail
    // without a word.
    QTemporaryDir desktop;
    QList<QPair<const char *, QByteArray>> kept;
    for (const char *variable : {"XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS", "XDG_CURRENT_DESKTOP"}) {
        kept.append({variable, qgetenv(variable)});
        qputenv(variable, QFile::encodeName(desktop.path()));
    }
    const auto restore = qScopeGuard([&] {
        for (const auto &[variable, value] : kept)
            value.isNull() ? qunsetenv(variable) : qputenv(variable, value);
    });
    TUrlProbe probe;
    TVirtualRig rig;
    auto &w = *rig.window;
    for (QPushButton *button : {w.readerPage->btnOpenFolder, w.resultPage->btnOpenFolder}) {
        w.ShowStatus(QString());
        button->click();
        QCOMPARE(w.statusText(), QStringLiteral("Не удалось открыть папку %1: на компьютере нет программы для "
                                                "просмотра папок. Файлы лежат в этой папке.")
                                     .arg(QDir::toNativeSeparators(QDir::cleanPath(w.handOverFolder()))));
    }
    QVERIFY(probe.opened.isEmpty());
}

QTEST_MAIN(TestDesktopHabits)
#include "tst_desktop_habits.moc"
