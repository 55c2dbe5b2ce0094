// The engineer's paths where the contact search meets another request, walked with real
// clicks and keys on the whole program over a pseudo-terminal that keeps the line's pace.

#include "app/MainLoritS_TreeTS.h"
#include "common/StyledWidgets.h"
#include "link/LinkControl.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/DatabaseCommands.h"
#include "support/PtyWindow.h"
#include "testdb/UnitBDTS_TreeTS.h"
#include "../testdb/TestImages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolButton>

namespace {
QByteArray fivePages()
{
    QByteArray pages;
    for (int i = 0; i < 4; ++i)
        pages += testimg::record("Group", "Lab", "E" + QByteArray::number(100 + i), 1, quint32(i));
    return testimg::image(pages + testimg::finalPage(7));
}

void click(QWidget *widget)
{
    QVERIFY(widget->isVisible());
    QVERIFY(widget->isEnabled());
    QTest::mouseClick(widget, Qt::LeftButton);
}

/// The group bar's button of an action, as the user sees it on the left.
QToolButton *groupBarButton(const TFormMainLoritS_D7 &window, QAction *action)
{
    const auto buttons = window.shell.RzGroupBar1->findChildren<QToolButton *>();
    for (QToolButton *button : buttons)
        if (button->defaultAction() == action)
            return button;
    return nullptr;
}

QString status(const TFormMainLoritS_D7 &window)
{
    return window.statusText();
}
} // namespace

class TestLineJourneys : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aReadPressedDuringTheSearchWaitsForItAndEndsAtTopSpeed();
    void aPortTypedByItsNumberWithNoneFoundAtStartFindsTheInstrument();
};

void TestLineJourneys::aReadPressedDuringTheSearchWaitsForItAndEndsAtTopSpeed()
{
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(1); // the instrument talks at 9600: the page's search must find it
    databaseOf(instrument)->setImage(fivePages());
    TPtyWindow pty(&instrument);
    auto &window = *pty.window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // Arrive on the database page from the start page: its search for the instrument
    // begins at 4800, and the engineer presses "из прибора" at once.
    click(window.shell.lbLoadBDTS);
    QVERIFY(window.frameBDTS);
    QCOMPARE(window.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
    click(window.frameBDTS->btnReadBDTSFromTav);
    QVERIFY2(status(window).contains(QStringLiteral("после установления контакта")), qPrintable(status(window)));
    // Pressed twice: still one reading, after the search.
    click(window.frameBDTS->btnReadBDTSFromTav);

    QTRY_COMPARE_WITH_TIMEOUT(status(window), QStringLiteral("Принято из прибора страниц: 5"), 20000);
    QCOMPARE(pty.link.pcBaud(), 115200);
    QCOMPARE(instrument.speedIndex(), 5);
    QCOMPARE(window.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QVERIFY(pty.dialogs.errors.isEmpty());

    // The line is free again: a second reading goes at once, at the top speed.
    click(window.frameBDTS->btnReadBDTSFromTav);
    QVERIFY(!window.shell.portGroup->btnConnect->isEnabled()); // nothing probes under the reading
    // The engineer looks at the other pages meanwhile: none of them asks for a speed
    // under the reading, and the reading goes on.
    click(groupBarButton(window, window.shell.ActionTav2006));
    click(groupBarButton(window, window.shell.ActionFile));
    QCOMPARE(window.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QVERIFY(!window.shell.portGroup->btnConnect->isEnabled());
    click(groupBarButton(window, window.shell.ActionBDTS));
    QTRY_VERIFY_WITH_TIMEOUT(window.shell.portGroup->btnConnect->isEnabled(), 20000);
    QCOMPARE(status(window), QStringLiteral("Принято из прибора страниц: 5"));

    // Pressed during a search that never finds the instrument (it is silent), the
    // request does not wait for ever: "Стоп" ends both and says so.
    instrument.setSilent(true);
    click(window.shell.portGroup->btnConnect);
    QCOMPARE(window.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
    click(window.frameBDTS->btnReadBDTSFromTav);
    QVERIFY(status(window).contains(QStringLiteral("после установления контакта")));
    click(window.shell.portGroup->btnConnect);
    const QString dropped = QStringLiteral("Прибор не отвечает! Не выполнено: чтение БД ТС из прибора.");
    QCOMPARE(status(window), dropped);
    instrument.setSilent(false);
    QTest::qWait(300); // the request was dropped: nothing is sent once the search has stopped
    QCOMPARE(window.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QCOMPARE(status(window), dropped);
}

void TestLineJourneys::aPortTypedByItsNumberWithNoneFoundAtStartFindsTheInstrument()
{
    // The adapter is not plugged in when the program starts: COM1 names a device that is
    // not there yet.
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(2);
    TPtyInstrumentLink line(&instrument);
    TScriptedDialogs dialogs;
    QTemporaryDir folder;
    const QString adapter = folder.filePath(QStringLiteral("ttyUSB0"));
    TWindowOptions options;
    options.dialogs = &dialogs;
    options.programFolder = folder.path() + QLatin1Char('/');
    options.documentsFolder = folder.filePath(QStringLiteral("Documents"));
    options.settingsFile = folder.filePath(QStringLiteral("settings.ini"));
    TFormMainLoritS_D7 window(new TQtSerialBackend(QStringList{adapter}), options);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // The ports are looked for once the window is on the screen.
    QTRY_COMPARE(status(window), QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
    QCOMPARE(window.shell.portGroup->cbxNumPort->count(), 0);

    // Plugged in now. The engineer types its path first: the box shows it whole, and
    // the status line says which port opened.
    QVERIFY(QFile::link(line.slavePath(), adapter));
    QLineEdit *edit = window.shell.portGroup->cbxNumPort->lineEdit();
    edit->selectAll();
    QTest::keyClicks(edit, adapter);
    QTest::keyClick(edit, Qt::Key_Return);
    QCOMPARE(status(window), QStringLiteral("Открыт порт %1. Связь с прибором есть").arg(adapter));
    QVERIFY(window.shell.portGroup->cbxNumPort->toolTip().contains(adapter));
    QVERIFY(window.shell.portGroup->cbxNumPort->width() > edit->fontMetrics().horizontalAdvance(adapter.right(20)));
    QVERIFY(window.shell.portGroup->cbxNumPort->minimumWidth() >= qMin(edit->fontMetrics().horizontalAdvance(adapter), 300));

    // Then by its number, and "Контакт".
    edit->selectAll();
    QTest::keyClicks(edit, QStringLiteral("COM1"));
    QTest::keyClick(edit, Qt::Key_Return);
    QVERIFY(window.shell.portGroup->cbPortOpen->isChecked());
    click(window.shell.portGroup->btnConnect);
    QCOMPARE(status(window), QStringLiteral("Установление контакта."));
    QTRY_COMPARE_WITH_TIMEOUT(status(window), QStringLiteral("Есть контакт с прибором"), 10000);
    QCOMPARE(window.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("19200"));
    QCOMPARE(window.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
}

QTEST_MAIN(TestLineJourneys)
#include "tst_line_journeys.moc"
