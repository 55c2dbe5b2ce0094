// The contact search, the speed change and the port choice, against the virtual
// instrument.

#include "link/LinkControl.h"
#include "link/ContactSearch.h"
#include "measure/ReaderPage.h"
#include "link/TMSComm.h"
#include "support/VirtualRig.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>

namespace {
/// An instrument that hears the probe and never answers it.
class TMuteProbe final : public TInstrumentCommand
{
public:
    char code() const override { return 'B'; }
    void execute(TVirtualInstrument &, const QByteArray &) override {}
};

/// Types a text into an editable box as the user would and confirms it with Enter.
/// The keys go to the box, as a keyboard's do: the box hands them to its line edit.
/// (Sent to the line edit itself, an ignored Return climbs to the box and reaches the
/// line edit a second time.)
void typeInto(QComboBox *box, const QString &text)
{
    box->lineEdit()->selectAll();
    QTest::keyClicks(box, text);
    QTest::keyClick(box, Qt::Key_Return);
    QCoreApplication::processEvents();
}

void chooseSpeed(TFormMainLoritS_D7 &window, int index)
{
    window.shell.portGroup->cbBaudRate->setCurrentIndex(index);
    window.shell.portGroup->cbBaudRateChange();
}
} // namespace

class TestContactSearch : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void withoutAnyPortEverythingLinkDependentIsOff();
    void aPortThatFailsToOpenIsLeftOut();
    void startUpOpensTheFirstPortAt115200WithoutSearching();
    void anInstrumentAt57600IsFoundAfterFiveProbes400msApart();
    void afterTheFastestSpeedTheSearchGoesOnAt4800();
    void stopWithoutAnAnswerSaysTheInstrumentDoesNotAnswer();
    void choosing115200MovesBothSidesThere();
    void theSpeedCommandFor4800CarriesAZeroByte();
    void choosingTheSpeedInUseSendsNothingAndKeepsTheRequest();
    void theProbeButtonCarriesOutAPendingSpeedChange();
    void thePortCannotBeChangedWhileAContactStands();
    void aTypedPortTextThatIsNoDeviceChangesNothing();
    void aTypedSpeedThatIsNoEntryChangesNothing();
    void switchingTheInstrumentOffStopsTheSearch();
    void theRealTimersFindTheInstrumentAt9600();
    void strayBytesAFailedReopenAndForeignPortTextsDoNotLockTheLink();
};

void TestContactSearch::withoutAnyPortEverythingLinkDependentIsOff()
{
    TVirtualRig rig(TRigOptions().onPorts({}));
    auto &w = *rig.window;
    QCOMPARE(w.statusText(), QStringLiteral("Извините.Ни одного COM-порта необнаружено"));
    QCOMPARE(w.shell.portGroup->cbxNumPort->count(), 0);
    QVERIFY(!w.shell.portGroup->sbtnCommON->isEnabled());
    for (QWidget *widget : {static_cast<QWidget *>(w.shell.portGroup->btnConnect), static_cast<QWidget *>(w.shell.portGroup->btnVerifyConnect),
                            static_cast<QWidget *>(w.shell.portGroup->cbBaudRate)})
        QVERIFY(!widget->isEnabled());
    QVERIFY(!w.shell.ActionSoftTavelon->isEnabled());
    QVERIFY(!w.shell.ActionBDTS->isEnabled());
    QVERIFY(!w.shell.ActionTav2006->isEnabled());
    QVERIFY(w.shell.ActionFile->isEnabled());
    // Nothing to contact: the buttons say so instead of failing.
    w.shell.portGroup->btnConnectClick();
    QCOMPARE(w.statusText(), QStringLiteral("Порт отключен."));
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestContactSearch::aPortThatFailsToOpenIsLeftOut()
{
    TVirtualRig rig(TRigOptions().onPorts({1, 2, 3, 4}).failingToOpen({2}));
    QStringList items;
    for (int i = 0; i < rig.window->shell.portGroup->cbxNumPort->count(); ++i)
        items << rig.window->shell.portGroup->cbxNumPort->itemText(i);
    QCOMPARE(items, (QStringList{"COM1", "COM3", "COM4"}));
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestContactSearch::startUpOpensTheFirstPortAt115200WithoutSearching()
{
    const TRigOptions options = TRigOptions().onPorts({2, 3}, 2);
    TVirtualRig rig(options);
    auto &w = *rig.window;
    QVERIFY(w.line->PortOpen());
    QCOMPARE(w.line->PortText(), QStringLiteral("COM2"));
    QCOMPARE(w.shell.portGroup->cbxNumPort->currentText(), QStringLiteral("COM2"));
    QVERIFY(w.shell.portGroup->cbPortOpen->isChecked());
    QCOMPARE(w.shell.portGroup->cbPortOpen->text(), QStringLiteral("вкл."));
    QCOMPARE(w.line->PortSettings(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(w.shell.portGroup->lbCommParam->text(), QStringLiteral("Параметры: 115200,n,8,1"));
    QVERIFY(w.shell.portGroup->sbtnCommON->isEnabled());
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
    QVERIFY(rig.takeWritten().isEmpty());

    TVirtualRig off(options.switchedOff());
    QCOMPARE(off.window->statusText(), QStringLiteral("Включите прибор или смените порт."));
    QVERIFY(!off.window->shell.portGroup->sbtnCommON->isEnabled());
}

void TestContactSearch::anInstrumentAt57600IsFoundAfterFiveProbes400msApart()
{
    TVirtualRig rig(TRigOptions().instrumentAt(4));
    auto &w = *rig.window;
    w.shell.portGroup->btnConnectClick();
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
    QCOMPARE(w.statusText(), QStringLiteral("Установление контакта."));
    QCOMPARE(w.line->PortSettings(), QStringLiteral("4800,n,8,1"));
    w.line->search->DefSetComm_Timer->stop();

    QStringList probes; // speed of each probe, and the tick it went out on
    for (int tick = 1; tick <= 12 && !w.line->search->contactEstablished(); ++tick) {
        rig.tickSearch();
        if (rig.takeWritten() == QByteArrayLiteral("B"))
            probes << QStringLiteral("%1@%2").arg(w.line->PortSettings().section(',', 0, 0)).arg(tick);
    }
    QCOMPARE(probes, (QStringList{"4800@1", "9600@3", "19200@5", "38400@7", "57600@9"}));
    QVERIFY(w.line->search->contactEstablished());
    QVERIFY(!w.line->search->running());
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("57600"));
    QCOMPARE(w.shell.portGroup->lbCommParam->text(), QStringLiteral("Параметры: 57600,n,8,1"));
    QCOMPARE(w.statusText(), QStringLiteral("Есть контакт с прибором"));
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QVERIFY(w.shell.portGroup->cbxNumPort->isEnabled() && w.shell.portGroup->cbBaudRate->isEnabled() && w.shell.portGroup->btnVerifyConnect->isEnabled());
    QVERIFY(w.line->ReceiveIdle());
}

void TestContactSearch::afterTheFastestSpeedTheSearchGoesOnAt4800()
{
    TVirtualRig rig;
    rig.instrument.addCommand(std::make_unique<TMuteProbe>());
    auto &w = *rig.window;
    w.shell.portGroup->btnConnectClick();
    w.line->search->DefSetComm_Timer->stop();
    QList<int> indices;
    for (int tick = 0; tick < 14; ++tick) {
        rig.tickSearch();
        indices << w.line->search->baudIndex();
    }
    QCOMPARE(indices, (QList<int>{0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 0, 0, 1}));
    QCOMPARE(w.line->PortSettings(), QStringLiteral("9600,n,8,1"));
    QVERIFY(!w.line->search->contactEstablished());
}

void TestContactSearch::stopWithoutAnAnswerSaysTheInstrumentDoesNotAnswer()
{
    TVirtualRig rig;
    rig.instrument.addCommand(std::make_unique<TMuteProbe>());
    auto &w = *rig.window;
    w.shell.portGroup->btnConnectClick();
    rig.tickSearch();
    w.shell.portGroup->btnConnectClick();
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QCOMPARE(w.statusText(), QStringLiteral("Прибор не отвечает!"));
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
    // The search let go of the line: a request is no longer held back.
    QVERIFY(!w.line->search->running());
    QVERIFY(w.line->lineClaim.isFree());
}

void TestContactSearch::choosing115200MovesBothSidesThere()
{
    TVirtualRig rig(TRigOptions().instrumentAt(1));
    auto &w = *rig.window;
    chooseSpeed(w, 5);
    QCOMPARE(w.statusText(), QStringLiteral("Установление контакта с прибором."));
    QVERIFY(w.line->search->speedChangeRequested());
    QVERIFY(rig.searchUntilContact());
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("9600"));
    QVERIFY(rig.takeWritten().endsWith(QByteArray("b\x05", 2)));
    QCOMPARE(w.statusText(), QStringLiteral("Установка новой скорости обмена."));
    QVERIFY(!w.line->search->speedChangeRequested());
    QVERIFY(w.line->search->SendCommand_Timer->isActive());
    QCOMPARE(w.line->search->state(), TContactSearch::TState::SpeedChanging);

    // The restart searches afresh from 4800 and sends no second command.
    QVERIFY(rig.completeSpeedChange());
    QCOMPARE(rig.instrument.speedIndex(), 5);
    QVERIFY(!w.line->search->SendCommand_Timer->isActive());
    QCOMPARE(w.line->search->state(), TContactSearch::TState::Idle);
    QCOMPARE(rig.takeWritten(), QByteArray("BBBBBB"));
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("115200"));
    QCOMPARE(w.shell.portGroup->lbCommParam->text(), QStringLiteral("Параметры: 115200,n,8,1"));
    QCOMPARE(w.statusText(), QStringLiteral("Есть контакт с прибором"));
}

void TestContactSearch::theSpeedCommandFor4800CarriesAZeroByte()
{
    TVirtualRig rig; // the instrument runs at 115200
    auto &w = *rig.window;
    chooseSpeed(w, 0);
    QVERIFY(rig.completeSpeedChange());
    // The command, then the first probe of the restart, answered at 4800.
    QVERIFY(rig.takeWritten().endsWith(QByteArray("b\x00" "B", 3)));
    QCOMPARE(rig.instrument.speedIndex(), 0);
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("4800"));
}

void TestContactSearch::choosingTheSpeedInUseSendsNothingAndKeepsTheRequest()
{
    TVirtualRig rig(TRigOptions().instrumentAt(1));
    auto &w = *rig.window;
    chooseSpeed(w, 1);
    QVERIFY(rig.searchUntilContact());
    QVERIFY(!rig.takeWritten().contains('b'));
    QVERIFY(w.line->search->speedChangeRequested());
    QVERIFY(!w.line->search->SendCommand_Timer->isActive());
}

void TestContactSearch::theProbeButtonCarriesOutAPendingSpeedChange()
{
    TVirtualRig rig(TRigOptions().instrumentAt(0));
    auto &w = *rig.window;
    // 38400 is asked for; the user stops the search with "Стоп" before its first
    // probe: the request stays pending, the port at 4800.
    chooseSpeed(w, 3);
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
    QTest::mouseClick(w.shell.portGroup->btnConnect, Qt::LeftButton);
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    rig.takeWritten();
    QTest::mouseClick(w.shell.portGroup->btnVerifyConnect, Qt::LeftButton);
    QCOMPARE(w.statusText(), QStringLiteral("Нет контакта с прибором"));
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("Bb\x03", 3));
    QCOMPARE(w.statusText(), QStringLiteral("Установка новой скорости обмена."));
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.instrument.speedIndex(), 3);
}

void TestContactSearch::thePortCannotBeChangedWhileAContactStands()
{
    TVirtualRig rig(TRigOptions().onPorts({1, 2}));
    auto &w = *rig.window;
    w.shell.portGroup->btnConnectClick();
    QVERIFY(rig.searchUntilContact());
    w.shell.portGroup->cbxNumPort->setCurrentIndex(1);
    w.shell.portGroup->cbxNumPortChange();
    QCOMPARE(w.shell.portGroup->cbxNumPort->currentText(), QStringLiteral("COM1"));
    QCOMPARE(w.line->PortText(), QStringLiteral("COM1"));
    QVERIFY(!w.line->search->portChangePending());

    // Once the instrument is gone the contact is too, and the port may change again.
    rig.instrument.setPowered(false);
    rig.waitLineIdle();
    QVERIFY(!w.line->search->contactEstablished());
    w.shell.portGroup->cbxNumPort->setCurrentIndex(1);
    w.shell.portGroup->cbxNumPortChange();
    QCOMPARE(w.line->PortText(), QStringLiteral("COM2"));
    QVERIFY(w.line->PortOpen());
    QVERIFY(w.line->search->portChangePending());
    QCOMPARE(w.statusText(), QStringLiteral("Нет связи с прибором"));
}

void TestContactSearch::aTypedPortTextThatIsNoDeviceChangesNothing()
{
    TVirtualRig rig(TRigOptions().onPorts({1, 2}));
    auto &w = *rig.window;
    typeInto(w.shell.portGroup->cbxNumPort, QStringLiteral("modem"));
    QCOMPARE(w.shell.portGroup->cbxNumPort->currentText(), QStringLiteral("COM1"));
    QCOMPARE(w.line->PortText(), QStringLiteral("COM1"));
    QVERIFY(w.line->PortOpen());
    QVERIFY(rig.dialogs.errors.isEmpty());

    int confirmations = 0;
    connect(w.shell.portGroup->cbxNumPort->lineEdit(), &QLineEdit::returnPressed, [&confirmations] { ++confirmations; });
    typeInto(w.shell.portGroup->cbxNumPort, QStringLiteral("COM2"));
    QCOMPARE(confirmations, 1);
    QCOMPARE(w.line->PortText(), QStringLiteral("COM2"));
    QVERIFY(w.line->search->portChangePending());
}

void TestContactSearch::aTypedSpeedThatIsNoEntryChangesNothing()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    typeInto(w.shell.portGroup->cbBaudRate, QStringLiteral("12345"));
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("115200"));
    QVERIFY(!w.line->search->speedChangeRequested());
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());

    typeInto(w.shell.portGroup->cbBaudRate, QStringLiteral("19200"));
    QCOMPARE(w.line->search->targetBaudIndex(), quint8(2));
    QVERIFY(w.line->search->speedChangeRequested());
    QVERIFY(w.line->search->running());
}

void TestContactSearch::switchingTheInstrumentOffStopsTheSearch()
{
    TVirtualRig rig;
    rig.instrument.addCommand(std::make_unique<TMuteProbe>());
    auto &w = *rig.window;
    w.shell.portGroup->btnConnectClick();
    rig.tickSearch();
    QVERIFY(w.line->search->DefSetComm_Timer->isActive());
    rig.instrument.setPowered(false);
    QTRY_VERIFY(!w.shell.portGroup->sbtnCommON->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Нет связи с прибором"));
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Стоп"));
    QVERIFY(!w.shell.portGroup->btnConnect->isEnabled());
    QVERIFY(!w.shell.ActionTav2006->isEnabled());

    rig.instrument.setPowered(true);
    QTRY_VERIFY(w.shell.portGroup->sbtnCommON->isEnabled());
    QCOMPARE(w.statusText(), QStringLiteral("Связь с прибором есть"));
    QVERIFY(w.shell.portGroup->btnConnect->isEnabled());
    QVERIFY(w.shell.ActionTav2006->isEnabled());
}

void TestContactSearch::theRealTimersFindTheInstrumentAt9600()
{
    TVirtualRig rig(TRigOptions().instrumentAt(1));
    auto &w = *rig.window;
    QTest::mouseClick(w.shell.portGroup->btnConnect, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(w.line->search->contactEstablished(), 3000);
    QCOMPARE(w.shell.portGroup->cbBaudRate->currentText(), QStringLiteral("9600"));
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
}

QTEST_MAIN(TestContactSearch)
#include "tst_contactsearch.moc"

void TestContactSearch::strayBytesAFailedReopenAndForeignPortTextsDoNotLockTheLink()
{
    TVirtualRig rig(TRigOptions().instrumentAt(2));
    auto &w = *rig.window;

    // A table asked for at a speed the instrument does not hear never comes, and
    // garbage that looks like its beginning does not hold the line for good: the port
    // group waits for the table's limit, the status line says once that it did not
    // come, and then the search finds the instrument and a reading works.
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    rig.backend->injectReceived("D");
    QVERIFY(!w.shell.portGroup->btnConnect->isEnabled());
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(w.statusText(), QStringLiteral("Идет прием оптических плотностей. Дождитесь его окончания."));
    const QString overdue = QStringLiteral("Прибор не прислал таблицу оптических плотностей. Повторите чтение.");
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), overdue, 5000);
    QVERIFY(w.shell.portGroup->btnConnect->isEnabled());
    QTest::mouseClick(w.shell.portGroup->btnConnect, Qt::LeftButton);
    QVERIFY(rig.searchUntilContact());
    QCOMPARE(w.line->search->baudIndex(), quint8(2));
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QTRY_COMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));

    // "COM12" is no port of this system and certainly not COM1.
    rig.takeWritten();
    w.shell.portGroup->cbxNumPort->setEditText(QStringLiteral("COM12"));
    w.shell.portGroup->cbxNumPortTextConfirmed();
    QCOMPARE(w.line->PortText(), QStringLiteral("COM1"));
    QVERIFY(w.line->PortOpen());

    // A page change whose reopen fails stops the search: one error box, no probe on a
    // closed port, and "Контакт" is usable again.
    w.shell.portGroup->btnConnectClick(); // a new search
    QVERIFY(w.line->search->DefSetComm_Timer->isActive());
    rig.backend->setFailingPorts({1});
    w.ActionTav2006Execute();
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
    w.line->search->DefSetComm_TimerTimer();
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    rig.backend->setFailingPorts({});
    w.ActionBDTSExecute();
    QVERIFY(rig.searchUntilContact());
}
