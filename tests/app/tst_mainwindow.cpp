// The main window: layout, pages and their tabs, what a page change does, link
// labels, the clock and the error box.

#include "link/LinkControl.h"
#include "link/ContactSearch.h"
#include "link/TrafficLogWindow.h"
#include "measure/ReaderPage.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "common/StyledWidgets.h"
#include "link/TMSComm.h"
#include "testdb/UnitBDTS_TreeTS.h"
#include "support/VirtualRig.h"
#include "analysis/page/AnalysisPage.h"
#include "common/Settings.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolButton>

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theWindowOpensAtItsSizeWithItsCaptionAndMenus();
    void theWindowIsPaintedBeforeItsPortsAndPagesAndIsWholeRightAfter();
    void aWindowClosedBeforeItsPortsWereListedOpensNone();
    void aProblemToldBeforeTheWindowShowsLeavesThePortsTheirOwnBox();
    void onlyTheStartTabIsVisibleAtStart();
    void aPageVisitedOnceKeepsItsTabForGood();
    void theFramesAreCreatedOnceOnTheFirstVisit();
    void theFirmwarePageSetsThisSideTo115200WithoutACommand();
    void theWorkingPagesAskFor115200();
    void theReaderPageBlanksTheGridButKeepsTheCaptions();
    void withoutTheLinkTheLinkDependentItemsAreDisabled();
    void theStartPageLinksLightUpUnderTheMouse();
    void theClockShowsTheLongDateAndTime();
    void anUnexpectedErrorReachesTheErrorBoxAndTheProgramGoesOn();
};

void TestMainWindow::theWindowOpensAtItsSizeWithItsCaptionAndMenus()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("ЛОРИТ-сервис"));
    QCOMPARE(w.size(), QSize(632, 412));
    QCOMPARE(w.pos(), QPoint(233, 133));
    // The captions with the letters that Alt opens them by.
    QStringList menus;
    for (QAction *menu : w.shell.ActionMainMenuBar1->actions())
        menus << menu->text();
    QCOMPARE(menus, (QStringList{"&Пользователю", "Про&граммирование", "&Ридер"}));
    const QList<QAction *> userItems = w.shell.ActionMainMenuBar1->actions().at(0)->menu()->actions();
    QCOMPARE(userItems.size(), 4);
    QCOMPARE(userItems.at(1)->iconText(), QStringLiteral("Журнал обмена"));
    QVERIFY(userItems.at(2)->isSeparator());
    QCOMPARE(userItems.at(3)->text(), QStringLiteral("&Выход"));
    QCOMPARE(userItems.at(3)->iconText(), QStringLiteral("Выход"));
    QCOMPARE(w.shell.RzProgressBar1->value(), 0);
    QCOMPARE(w.shell.portGroup->RzGroupBox1->title(), QStringLiteral("Порт связи:"));
    QCOMPARE(w.shell.portGroup->sbtnCommON->toolTip(), QStringLiteral("Индикатор связи."));
    QCOMPARE(w.shell.portGroup->cbBaudRate->count(), 6);

    // "О программе" does not change the page.
    w.ActionFileExecute();
    w.shell.Action1->trigger();
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageResult));

    // "Журнал обмена" opens one window of its own that shows what crosses the line.
    w.shell.ActionTrafficLog->trigger();
    QVERIFY(w.shell.trafficLog && w.shell.trafficLog->isWindow() && w.shell.trafficLog->isVisible());
    QTest::mouseClick(w.shell.portGroup->btnVerifyConnect, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QTRY_VERIFY(w.shell.trafficLog->shownLineCount() >= 2); // the probe and its answer
    const QPointer<TTrafficLogWindow> first = w.shell.trafficLog;
    w.shell.ActionTrafficLog->trigger();
    QCOMPARE(w.shell.trafficLog, first);
}

namespace {
/// What the window held when its first picture was painted.
class TFirstPaintWatch : public QObject
{
public:
    explicit TFirstPaintWatch(TFormMainLoritS_D7 &window) : m_window(window) { window.installEventFilter(this); }
    bool painted = false, pagesMade = false;
    int portEntries = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == &m_window && event->type() == QEvent::Paint && !painted) {
            painted = true;
            pagesMade = m_window.readerPage || m_window.resultPage || m_window.analysisPage;
            portEntries = m_window.shell.portGroup->cbxNumPort->count();
        }
        return false;
    }

private:
    TFormMainLoritS_D7 &m_window;
};

/// A window's options in a folder of its own, whose last run left COM2 open.
TWindowOptions optionsIn(const QTemporaryDir &folder, TScriptedDialogs &dialogs)
{
    TWindowOptions options;
    options.programFolder = folder.path() + QLatin1Char('/');
    options.settingsFile = folder.filePath(QStringLiteral("settings.ini"));
    options.dialogs = &dialogs;
    TSettings(options.settingsFile).setLastPort(QStringLiteral("COM2"));
    return options;
}
} // namespace

void TestMainWindow::theWindowIsPaintedBeforeItsPortsAndPagesAndIsWholeRightAfter()
{
    // Made and shown as the program does it, the instrument on the port left open.
    QTemporaryDir folder;
    TScriptedDialogs dialogs;
    TVirtualInstrument instrument;
    auto *backend = new TVirtualBackend(&instrument);
    backend->setPorts({1, 2}, 2);
    TFormMainLoritS_D7 w(backend, optionsIn(folder, dialogs));
    TFirstPaintWatch watch(w);
    w.show();
    QTRY_VERIFY(w.StartCompleted());
    // The first picture showed the shell alone; right after it that port is open.
    QVERIFY(watch.painted && !watch.pagesMade && watch.portEntries == 0);
    QCOMPARE(w.shell.portGroup->cbxNumPort->count(), 2);
    QCOMPARE(w.shell.portGroup->cbxNumPort->currentText(), QStringLiteral("COM2"));
    QVERIFY(w.shell.portGroup->sbtnCommON->isEnabled());

    // The pages made after it are drawn as in a window that had them from the start; the
    // analysis page is made on its first visit, once.
    QTest::mouseClick(w.shell.lbReader, Qt::LeftButton);
    QVERIFY(w.readerPage->isVisible());
    QCOMPARE(w.readerPage->RzPanel7->width(), 447);
    QVERIFY(!w.analysisPage);
    w.shell.ActionAnalysis->trigger();
    const TAnalysisPage *analysis = w.analysisPage;
    QVERIFY(analysis && analysis->isVisible());
    w.ShowPage(TFormMainLoritS_D7::pageStart);
    w.shell.ActionAnalysis->trigger();
    QCOMPARE(w.analysisPage, analysis);

    // So is the port group.
    TVirtualRig listedFirst(TRigOptions().onPorts({1, 2}, 2));
    const TLinkControl &other = *listedFirst.window->shell.portGroup;
    listedFirst.window->show();
    QVERIFY(QTest::qWaitForWindowExposed(listedFirst.window.get()));
    QTRY_COMPARE(w.shell.portGroup->cbxNumPort->width(), other.cbxNumPort->width());
    QCOMPARE(w.shell.portGroup->cbPortOpen->geometry(), other.cbPortOpen->geometry());
}

void TestMainWindow::aWindowClosedBeforeItsPortsWereListedOpensNone()
{
    QTemporaryDir folder;
    TScriptedDialogs dialogs;
    const TWindowOptions options = optionsIn(folder, dialogs);
    TVirtualInstrument instrument;
    {
        TFormMainLoritS_D7 w(new TVirtualBackend(&instrument), options);
        w.show();
        w.close(); // before the event loop ran
        QTRY_VERIFY(w.StartCompleted());
        QVERIFY(!w.line->PortOpen());
    }
    QCOMPARE(TSettings(options.settingsFile).lastPort(), QStringLiteral("COM2"));
}

void TestMainWindow::aProblemToldBeforeTheWindowShowsLeavesThePortsTheirOwnBox()
{
    QTemporaryDir folder;
    TScriptedDialogs dialogs;
    TVirtualInstrument instrument;
    auto *backend = new TVirtualBackend(&instrument);
    backend->setFailingPorts({1});
    TFormMainLoritS_D7 w(backend, optionsIn(folder, dialogs));
    // As the program tells a problem of the system before it shows its window; the
    // world goes on behind the box until the user answers it.
    dialogs.whileErrorShown = [] { QCoreApplication::processEvents(); };
    w.ReportError(QStringLiteral("Кодовая страница 1251 недоступна."));
    w.show();
    QTRY_VERIFY(w.StartCompleted());
    QCOMPARE(dialogs.errors.size(), 2);
    QCOMPARE(dialogs.errors.at(1), QStringLiteral("Порт COM1 занят другой программой: закройте её и повторите."));
}

void TestMainWindow::onlyTheStartTabIsVisibleAtStart()
{
    TVirtualRig rig;
    QTabBar *tabs = rig.window->shell.RzPageControl1->tabBar();
    QCOMPARE(rig.window->shell.RzPageControl1->tabPosition(), QTabWidget::South);
    QVERIFY(tabs->isTabVisible(0));
    for (int i = 1; i < 5; ++i)
        QVERIFY(!tabs->isTabVisible(i));
    QCOMPARE(rig.window->shell.RzPageControl1->currentIndex(), 0);
    QVERIFY(!rig.window->frameSoftTav);
    QVERIFY(!rig.window->frameBDTS);
}

void TestMainWindow::aPageVisitedOnceKeepsItsTabForGood()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    QTabBar *tabs = w.shell.RzPageControl1->tabBar();
    QTest::mouseClick(w.shell.lbReader, Qt::LeftButton);
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageReader));
    w.shell.RzPageControl1->setCurrentIndex(0);
    QVERIFY(tabs->isTabVisible(TFormMainLoritS_D7::pageReader));
    QVERIFY(!tabs->isTabVisible(TFormMainLoritS_D7::pageResult));
    w.shell.ActionFile->trigger();
    QVERIFY(tabs->isTabVisible(TFormMainLoritS_D7::pageResult));
    QVERIFY(tabs->isTabVisible(TFormMainLoritS_D7::pageReader));
}

void TestMainWindow::theFramesAreCreatedOnceOnTheFirstVisit()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.shell.ActionSoftTavelon->trigger();
    QVERIFY(w.frameSoftTav);
    const TFrameSoftTav *first = w.frameSoftTav;
    w.shell.ActionSoftTavelon->trigger();
    w.shell.RzPageControl1->setCurrentIndex(0);
    w.shell.ActionSoftTavelon->trigger();
    QCOMPARE(w.frameSoftTav.data(), first);
    QCOMPARE(w.frameSoftTav->parentWidget(), w.shell.TabShSoftTav);

    w.shell.ActionBDTS->trigger();
    QVERIFY(w.frameBDTS);
    const QWidget *frame = w.frameBDTS;
    w.shell.ActionBDTS->trigger();
    QCOMPARE(w.frameBDTS.data(), frame);

    // The frame's read button follows the link like the window's own controls.
    QVERIFY(w.frameBDTS->btnReadBDTSFromTav->isEnabled());
    rig.instrument.setPowered(false);
    QVERIFY(!w.frameBDTS->btnReadBDTSFromTav->isEnabled());
}

void TestMainWindow::theFirmwarePageSetsThisSideTo115200WithoutACommand()
{
    TVirtualRig rig(TRigOptions().instrumentAt(1));
    auto &w = *rig.window;
    w.shell.portGroup->btnConnectClick();
    QVERIFY(rig.searchUntilContact());
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("9600"));
    rig.takeWritten();

    w.shell.ActionSoftTavelon->trigger();
    QCOMPARE(w.line->PortSpeedIndex(), 5);
    QCOMPARE(w.line->PortSettings(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(w.shell.portGroup->lbCommParam->text(), QStringLiteral("Параметры: 115200,n,8,1"));
    QVERIFY(w.shell.portGroup->cbPortOpen->isChecked());
    QVERIFY(rig.takeWritten().isEmpty());
    QCOMPARE(rig.instrument.speedIndex(), 1);
}

void TestMainWindow::theWorkingPagesAskFor115200()
{
    for (QAction *TMainShell::*action : {&TMainShell::ActionBDTS, &TMainShell::ActionTav2006, &TMainShell::ActionFile}) {
        TVirtualRig rig(TRigOptions().instrumentAt(2));
        auto &w = *rig.window;
        (w.shell.*action)->trigger();
        QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
        QVERIFY(w.line->search->speedChangeRequested());
        QCOMPARE(w.line->search->targetBaudIndex(), quint8(5));
        QVERIFY(w.line->search->running());
        QVERIFY(w.line->search->DefSetComm_Timer->isActive());
        QVERIFY(rig.completeSpeedChange());
        QCOMPARE(rig.instrument.speedIndex(), 5);
        QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("115200"));
    }
}

void TestMainWindow::theReaderPageBlanksTheGridButKeepsTheCaptions()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.show(); // the drawn sizes, at the opening size
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.shell.ActionTav2006->trigger();
    QTableWidget *grid = w.readerPage->StringGrid1;
    QCOMPARE(grid->rowCount(), 9);
    QCOMPARE(grid->columnCount(), 13);
    QCOMPARE(grid->item(1, 0)->text(), QStringLiteral("A"));
    QCOMPARE(grid->item(8, 0)->text(), QStringLiteral("H"));
    QCOMPARE(grid->item(0, 1)->text(), QStringLiteral("1"));
    QCOMPARE(grid->item(0, 12)->text(), QStringLiteral("12"));
    QVERIFY(!grid->item(0, 0) || grid->item(0, 0)->text().isEmpty());
    QCOMPARE(grid->columnWidth(0), 15);
    QCOMPARE(grid->columnWidth(7), 35);
    QCOMPARE(grid->rowHeight(4), 17);
    QCOMPARE(w.readerPage->RzPanel7->width(), 447);

    grid->item(3, 4)->setText(QStringLiteral(" 0.123"));
    w.ShowPage(0);
    w.ShowPage(TFormMainLoritS_D7::pageReader);
    QVERIFY(grid->item(3, 4)->text().isEmpty());
    QCOMPARE(grid->item(3, 0)->text(), QStringLiteral("C"));
}

void TestMainWindow::withoutTheLinkTheLinkDependentItemsAreDisabled()
{
    TVirtualRig rig(TRigOptions().switchedOff());
    auto &w = *rig.window;
    QCOMPARE(w.statusText(), QStringLiteral("Включите прибор или смените порт."));
    // At start only the indicator follows the line; the next check takes the rest along.
    QVERIFY(w.shell.ActionTav2006->isEnabled());
    QVERIFY(!w.line->UpdateLinkState());
    for (QAction *action : {w.shell.ActionSoftTavelon, w.shell.ActionBDTS, w.shell.ActionTav2006})
        QVERIFY(!action->isEnabled());
    for (QWidget *label : {static_cast<QWidget *>(w.shell.lbLoadPOInTav), static_cast<QWidget *>(w.shell.lbLoadBDTS),
                           static_cast<QWidget *>(w.shell.lbReader), static_cast<QWidget *>(w.readerPage->btnReadOP)})
        QVERIFY(!label->isEnabled());
    QVERIFY(w.shell.ActionFile->isEnabled());
    QVERIFY(w.shell.ActionExit->isEnabled());
    QVERIFY(w.shell.lbProtokol->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Нет связи с прибором"));
}

void TestMainWindow::theStartPageLinksLightUpUnderTheMouse()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    const QColor initial = w.shell.lbProtokol->textColor();
    QCOMPARE(initial, w.palette().color(QPalette::Light));
    QCOMPARE(w.shell.lbProtokol->cursor().shape(), Qt::PointingHandCursor);
    Q_EMIT w.shell.lbProtokol->mouseMoved();
    QCOMPARE(w.shell.lbProtokol->textColor(), w.palette().color(QPalette::ToolTipBase));
    Q_EMIT w.shell.lbProtokol->mouseLeft();
    QCOMPARE(w.shell.lbProtokol->textColor(), initial);
}

void TestMainWindow::theClockShowsTheLongDateAndTime()
{
    const QDateTime moment(QDate(2011, 12, 25), QTime(14, 5, 9));
    const QString russian = clockText(QLocale(QLocale::Russian, QLocale::Russia), moment);
    QVERIFY2(russian.startsWith(QStringLiteral("25 декабря 2011")), qPrintable(russian));
    QVERIFY2(russian.endsWith(QStringLiteral("14:05:09")), qPrintable(russian));
    QVERIFY(!russian.contains(QStringLiteral("воскресенье")));

    TVirtualRig rig;
    const QString shown = rig.window->shell.RzClockStatus1->text();
    QVERIFY(!shown.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(rig.window->shell.RzClockStatus1->text() != shown, 2500);
}

void TestMainWindow::anUnexpectedErrorReachesTheErrorBoxAndTheProgramGoesOn()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    rig.backend->setFailingPorts({1});
    QTest::mouseClick(w.shell.portGroup->btnConnect, Qt::LeftButton);
    QCOMPARE(rig.dialogs.errors, QStringList{QStringLiteral("Порт COM1 занят другой программой: закройте её и повторите.")});
    // The search stopped where the error struck: the port is closed, and the port
    // group shows no open port and no link.
    QVERIFY(!w.line->PortOpen());
    QVERIFY(!w.shell.portGroup->cbPortOpen->isChecked());
    QVERIFY(!w.shell.portGroup->btnConnect->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Нет связи с прибором"));

    rig.backend->setFailingPorts({});
    w.shell.portGroup->cbxNumPortChange(); // the user chooses the port again
    QVERIFY(w.line->PortOpen());
    QVERIFY(w.shell.portGroup->btnConnect->isEnabled());
    QCOMPARE(rig.dialogs.errors.size(), 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
