// The page "ПО прибора" on the virtual instrument: the whole procedure from the file to
// the instrument's restart, cancel and link loss during a transfer, files that cannot
// be sent, the file choice, and the port that stays at 115200 on this page.

#include "link/LinkControl.h"
#include "link/ContactSearch.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "link/TMSComm.h"
#include "sim/commands/FirmwareLoader.h"
#include "support/UserSteps.h"
#include "support/VirtualRig.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QRegularExpression>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QCheckBox>
#include <QComboBox>
#include <QTabWidget>
#include <QTest>
#include <QTimer>

class TestFirmwarePage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theWholeProcedureReprogramsTheInstrument();
    void cancelStopsTheBytesAtOnceAndTheProcedureStartsAgain();
    void noStepTextSendsTheEngineerToThePowerSwitchDuringAnUpload();
    void theImageNeverGoesToTheRunningProgram();
    void aLostLinkDuringTheTransferCancelsIt();
    void aFileThatCannotBeSentIsReportedAndNothingIsSent();
    void theDefaultFileComesBackWithEachVisitAndACancelledDialogKeepsTheChoice();
    void theDemosImageIsNeverOfferedNorSentByTheRealProgram();
    void thePageStopsAContactSearchAndStaysAt115200();
    void anUploadWaitsForATableAskedForMeanwhile();
    void theImageEndingWhileTheQuestionIsOpenKeepsThePageToTheEnd();
    void noAnswerToALeavingQuestionErasesAResultNorLeavesOnNo();
};

namespace {

const QString step3 = QStringLiteral("Загрузите программу в прибор. Шаг 3.");

/// A window on the virtual instrument with a firmware file in its default place and
/// an instrument that writes its flash in a third of a second and restarts quickly.
struct TFirmwareRig : TVirtualRig
{
    TInstrumentLoader *loader = loaderOf(instrument);
    QString filePath;

    explicit TFirmwareRig(qint64 fileLength = 0x4000 + 500)
    {
        loader->setTiming({/*boot*/ 30, /*step*/ 60, /*restart*/ 1200, /*gap*/ 300});
        const QString folder = window->programFolder() + QStringLiteral("FilesInTavelon");
        QDir().mkpath(folder);
        filePath = folder + QStringLiteral("/Tavelon_2008.tsk");
        QFile file(filePath);
        if (file.open(QIODevice::WriteOnly))
            file.write(sampleFirmwareImage(fileLength));
    }
    TFrameSoftTav &frame() const { return *window->frameSoftTav; }

    /// Steps 1 and 2 as the user does them: the page, off, stylus, on, the wait.
    void bringIntoLoader()
    {
        window->ActionSoftTavelonExecute();
        loader->setStylusHeld(true);
        instrument.setPowered(false);
        instrument.setPowered(true);
        window->frameSoftTav->progSteps->StartProgTav_TimerTimer(); // the 5.5 s wait, without waiting it out
    }
    void startUpload()
    {
        dialogs.answerYesNo(true);
        QTest::mouseClick(frame().btnLoadPO, Qt::LeftButton);
    }
};

} // namespace

void TestFirmwarePage::theWholeProcedureReprogramsTheInstrument()
{
    TFirmwareRig rig;
    auto &w = *rig.window;
    w.ActionSoftTavelonExecute();
    QVERIFY(w.frameSoftTav);
    QCOMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));
    QVERIFY(rig.frame().lbFileLoadPO->text().endsWith(QStringLiteral("FilesInTavelon") + QDir::separator()
                                                      + QStringLiteral("\nTavelon_2008.tsk")));
    QCOMPARE(rig.frame().lbFileLoadPO2->text(), rig.frame().lbFileLoadPO->text());

    // Without the stylus the instrument's own program starts and says 'L' during the
    // wait: back to step 2.
    rig.instrument.setPowered(false);
    QCOMPARE(w.statusText(), QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2."));
    rig.instrument.setPowered(true);
    QVERIFY(rig.frame().progSteps->StartProgTav_Timer->isActive());
    QTRY_COMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));
    QVERIFY(!rig.frame().progSteps->StartProgTav_Timer->isActive());

    rig.loader->setStylusHeld(true);
    rig.instrument.setPowered(false);
    rig.instrument.setPowered(true);
    QVERIFY(rig.frame().progSteps->StartProgTav_Timer->isActive());
    QCOMPARE(rig.frame().progSteps->StartProgTav_Timer->interval(), 5500);
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
    rig.frame().progSteps->StartProgTav_TimerTimer();
    QCOMPARE(w.statusText(), step3);
    QVERIFY(rig.frame().btnLoadPO->isEnabled());
    QCOMPARE(rig.frame().btnLoadPO->toolTip(), QStringLiteral("Загрузка программы управления в прибор."));

    // A "No" to the question changes nothing.
    rig.dialogs.answerYesNo(false);
    QTest::mouseClick(rig.frame().btnLoadPO, Qt::LeftButton);
    QVERIFY(rig.takeWritten().isEmpty());
    QCOMPARE(w.statusText(), step3);

    QStringList said; // the procedure's texts, in order: some last less than a poll
    QObject::connect(rig.frame().progSteps, &TProgSteps::statusText, [&said](const QString &text) { said << text; });
    rig.startUpload();
    // The question says what will be sent and how long it takes at this speed.
    QVERIFY(rig.dialogs.questions.last().contains(QLocale(QLocale::Russian).toString(2 + 4 + 0x4000 + 500 + 2)
                                                  + QStringLiteral(" байт")));
    QVERIFY(rig.dialogs.questions.last().contains(QStringLiteral("115200 это займет около 2 с")));
    QCOMPARE(w.statusText(), TProgSteps::sendingText());
    QVERIFY(!rig.frame().btnStopProgramTav->isHidden() && rig.frame().btnStopProgramTav->isEnabled());
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Перепрограммирование прибора завершено"), 5000);
    QCOMPARE(said.filter(QRegularExpression(QStringLiteral("^П.*прибора"))),
             QStringList({TProgSteps::programmingText(), QStringLiteral("Перезагрузка прибора"),
                          QStringLiteral("Перепрограммирование прибора завершено")}));
    QCOMPARE(w.shell.RzProgressBar1->value(), 0);
    QVERIFY(!rig.frame().btnStopProgramTav->isEnabled());
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());

    const QByteArray file = sampleFirmwareImage(0x4000 + 500);
    const TFirmwarePacket packet = firmwarePacket(file);
    QCOMPARE(rig.loader->accepted(), 1);
    QCOMPARE(rig.loader->program(), packet.data);
    QCOMPARE(rig.takeWritten(), packet.start + packet.length + packet.data + packet.checksumBytes());
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestFirmwarePage::cancelStopsTheBytesAtOnceAndTheProcedureStartsAgain()
{
    TFirmwareRig rig(0x4000 + 40000); // about four seconds on the line
    auto &w = *rig.window;
    rig.bringIntoLoader();
    rig.startUpload();
    // Paced by the line: the third chunk goes only when the line has taken most of
    // the first, so no more than two chunks ever wait in the control.
    QTRY_VERIFY(w.shell.RzProgressBar1->value() >= 50);
    QVERIFY(w.line->OutBufferCount() <= 2 * tsk::chunkSize);
    QVERIFY(w.line->OutBufferCount() > tsk::chunkSize);

    // The upload owns the line: the port group waits, and noise that looks like a
    // notice or a contact reply puts nothing of ours into the image.
    for (QWidget *control : {static_cast<QWidget *>(w.shell.portGroup->cbxNumPort), static_cast<QWidget *>(w.shell.portGroup->cbBaudRate),
                             static_cast<QWidget *>(w.shell.portGroup->btnVerifyConnect), static_cast<QWidget *>(w.shell.portGroup->btnConnect)})
        QVERIFY(!control->isEnabled());
    w.shell.portGroup->btnConnectClick();
    QCOMPARE(w.statusText(), QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания."));
    w.readerPage->chckAutoReadOP->setChecked(true);
    w.resultPage->chckAutoReadRes->setChecked(true);
    int events = 0;
    QObject::connect(w.line, &TLine::notice, [&events] { ++events; });
    rig.instrument.send(QByteArrayLiteral("GgB"));
    QTRY_VERIFY(events > 0);
    QCOMPARE(w.statusText(), QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания."));
    const TFirmwarePacket packet = firmwarePacket(sampleFirmwareImage(0x4000 + 40000));

    QTest::mouseClick(rig.frame().btnStopProgramTav, Qt::LeftButton);
    const QByteArray atClick = rig.instrument.received();
    QCOMPARE(w.statusText(), QStringLiteral("Программирование прибора приостановлено. Повторите шаг 2."));
    QCOMPARE(w.line->OutBufferCount(), 0);
    QCOMPARE(w.shell.RzProgressBar1->value(), 0);
    QVERIFY(!rig.frame().btnStopProgramTav->isEnabled());
    QVERIFY(!rig.frame().progSteps->Timer->isActive());
    const QByteArray writtenAtClick = rig.takeWritten();
    QVERIFY((packet.start + packet.length + packet.data).startsWith(writtenAtClick));
    QVERIFY(w.shell.portGroup->btnConnect->isEnabled() && w.shell.portGroup->cbxNumPort->isEnabled());
    QVERIFY(rig.waitLineIdle());
    QTRY_COMPARE(rig.loader->refused(), 1); // the instrument saw a short block
    QCOMPARE(rig.instrument.received(), atClick);
    QVERIFY(rig.takeWritten().isEmpty());
    QVERIFY(writtenAtClick.size() < 0x4000 + 40000);

    // The procedure is back at step 2: a new upload goes through steps 2 and 3 again
    // and starts with the start command and a freshly read file.
    QCOMPARE(rig.frame().progSteps->state(), TProgSteps::TState::SwitchOff);
    rig.bringIntoLoader();
    QCOMPARE(w.statusText(), step3);
    rig.instrument.clearReceived();
    rig.startUpload();
    QCOMPARE(rig.takeWritten().left(2), QByteArray("\x55\xAA", 2));
}

void TestFirmwarePage::noStepTextSendsTheEngineerToThePowerSwitchDuringAnUpload()
{
    TFirmwareRig rig(0x4000 + 40000); // about four seconds on the line
    auto &w = *rig.window;
    rig.loader->setTiming({/*boot*/ 30, /*step*/ 300, /*restart*/ 1200, /*gap*/ 300}); // a flash that takes its time
    rig.bringIntoLoader();
    rig.startUpload();
    const auto neverSwitch = [&w] {
        return !w.statusText().contains(QStringLiteral("Выключите")) && !w.statusText().contains(QStringLiteral("Включите"));
    };
    // Another page is not opened under the upload unless the engineer abandons it
    // (the script answers "Нет"), and never while the loader writes its flash.
    const auto tryToLeave = [&w] {
        w.shell.ActionTav2006->trigger();
        QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageSoftTav));
        QCOMPARE(w.statusText(), QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания."));
    };
    // Whatever redisplays the step while the image goes out says what is happening.
    rig.frame().RzPageControl2->setCurrentIndex(0);
    QCOMPARE(w.statusText(), TProgSteps::sendingText());
    w.ActionSoftTavelonExecute();
    QCOMPARE(w.statusText(), TProgSteps::sendingText());
    rig.frame().RzPageControl2->setCurrentIndex(1);

    // The last chunk is handed over while the line still carries the one before: the
    // image is not sent yet, and cancel stays.
    QTRY_VERIFY_WITH_TIMEOUT(rig.frame().progSteps->firmwareImage() && rig.frame().progSteps->firmwareImage()->complete(), 8000);
    QVERIFY(w.line->OutBufferCount() > 0);
    QCOMPARE(w.statusText(), TProgSteps::sendingText());
    QVERIFY(!rig.frame().btnStopProgramTav->isHidden() && rig.frame().btnStopProgramTav->isEnabled());
    QVERIFY(rig.frame().progSteps->sending());
    tryToLeave();
    QVERIFY(rig.frame().progSteps->ownsLine());

    // Only the empty queue makes it "programming"; the loader now writes its flash.
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), TProgSteps::programmingText(), 5000);
    QCOMPARE(w.line->OutBufferCount(), 0);
    // Cancel and leaving now ask first ("Нет" here): the loader may be writing.
    QTest::mouseClick(rig.frame().btnStopProgramTav, Qt::LeftButton);
    QVERIFY(rig.frame().progSteps->writing());
    tryToLeave();
    rig.frame().RzPageControl2->setCurrentIndex(0);
    QVERIFY(neverSwitch());
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Перезагрузка прибора"), 5000);
    rig.frame().RzPageControl2->setCurrentIndex(1);
    QVERIFY(neverSwitch());
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Перепрограммирование прибора завершено"), 5000);
    QCOMPARE(rig.loader->accepted(), 1);
}

void TestFirmwarePage::theImageNeverGoesToTheRunningProgram()
{
    TFirmwareRig rig(0x4000 + 40000);
    auto &w = *rig.window;
    const auto waitRunsOut = [&rig] {
        if (rig.frame().progSteps->StartProgTav_Timer->isActive())
            rig.frame().progSteps->StartProgTav_TimerTimer();
    };
    // On with the stylus, off again within the wait, on without it: the wait starts
    // afresh, and the program's 'L' ends it.
    w.ActionSoftTavelonExecute();
    rig.loader->setStylusHeld(true);
    rig.instrument.setPowered(false);
    rig.instrument.setPowered(true);
    QCOMPARE(w.statusText(), QStringLiteral("Прибор включен. Ожидание режима программирования..."));
    rig.instrument.setPowered(false);
    QVERIFY(!rig.frame().progSteps->StartProgTav_Timer->isActive());
    waitRunsOut();
    rig.loader->setStylusHeld(false);
    rig.instrument.setPowered(true);
    QVERIFY(rig.frame().progSteps->StartProgTav_Timer->isActive());
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
    QTRY_COMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());

    // At step 3, off and on again: the loader counts no more until a new wait.
    rig.bringIntoLoader();
    QVERIFY(rig.frame().btnLoadPO->isEnabled());
    rig.loader->setStylusHeld(false);
    rig.instrument.setPowered(false);
    rig.instrument.setPowered(true);
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
    QTRY_COMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));

    // The instrument restarts into its program while the question is open: "Да"
    // sends nothing and says why.
    rig.bringIntoLoader();
    rig.takeWritten();
    rig.dialogs.whileAsking = [&rig, &w] {
        rig.loader->setStylusHeld(false);
        rig.instrument.setPowered(false);
        rig.instrument.setPowered(true);
        QTRY_COMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));
    };
    rig.startUpload();
    QCOMPARE(w.statusText(), QStringLiteral("Загрузка не начата: прибор не в режиме программирования. Повторите шаг 2."));
    QVERIFY(rig.waitLineIdle());
    QVERIFY(rig.takeWritten().isEmpty());
    QVERIFY(!rig.frame().progSteps->ownsLine());
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestFirmwarePage::aLostLinkDuringTheTransferCancelsIt()
{
    TFirmwareRig rig(0x4000 + 40000);
    auto &w = *rig.window;
    rig.bringIntoLoader();
    rig.startUpload();
    QTRY_VERIFY(w.shell.RzProgressBar1->value() > 0);
    rig.takeWritten();

    // Off while the last bytes still wait in the queue: a cancel, never a restart.
    QTRY_VERIFY_WITH_TIMEOUT(rig.frame().progSteps->firmwareImage() && rig.frame().progSteps->firmwareImage()->complete(), 8000);
    QVERIFY(w.line->OutBufferCount() > 0);
    rig.takeWritten();
    rig.instrument.setPowered(false);
    QCOMPARE(w.statusText(), QStringLiteral("Перепрограммирование прибора отменено."));
    QCOMPARE(w.line->OutBufferCount(), 0);
    QVERIFY(!rig.frame().progSteps->Timer->isActive());
    QVERIFY(!rig.frame().btnStopProgramTav->isEnabled());
    w.line->UpdateLinkState(); // a further look at the line, still down: step 2 again
    QCOMPARE(w.statusText(), QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2."));
    QVERIFY(rig.waitLineIdle());
    QVERIFY(rig.takeWritten().isEmpty());
    QCOMPARE(rig.loader->accepted(), 0);
    // Back on without the stylus, the old program answers: nothing claims success.
    rig.loader->setStylusHeld(false);
    rig.instrument.setPowered(true);
    QTRY_COMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));
}

void TestFirmwarePage::aFileThatCannotBeSentIsReportedAndNothingIsSent()
{
    TFirmwareRig rig;
    auto &w = *rig.window;
    rig.bringIntoLoader();
    QVERIFY(QFile::remove(rig.filePath));
    rig.takeWritten();
    rig.startUpload();
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.first().contains(QDir::toNativeSeparators(rig.filePath)));
    QVERIFY(rig.takeWritten().isEmpty());
    QCOMPARE(w.statusText(), step3);
    QVERIFY(rig.frame().btnLoadPO->isEnabled());
    QVERIFY(!rig.frame().btnStopProgramTav->isEnabled());
    QVERIFY(!rig.frame().progSteps->Timer->isActive());

    // A file that is all header holds no program.
    QFile header(rig.filePath);
    QVERIFY(header.open(QIODevice::WriteOnly));
    header.write(QByteArray(0x4000, 'h'));
    header.close();
    rig.startUpload();
    QCOMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors.last().contains(QStringLiteral("нет программы")));
    QVERIFY(rig.takeWritten().isEmpty());
    QCOMPARE(w.statusText(), step3);

    // One longer than the loader's memory is refused by its size: not read, not asked
    // about, never an upload of hours.
    const qsizetype asked = rig.dialogs.questions.size();
    QVERIFY(header.open(QIODevice::WriteOnly) && header.resize(qint64(2) << 30));
    header.close();
    rig.startUpload();
    QCOMPARE(rig.dialogs.errors.size(), 3);
    QVERIFY(rig.dialogs.errors.last().contains(QStringLiteral("слишком велик")));
    QCOMPARE(rig.dialogs.questions.size(), asked);
    QVERIFY(rig.takeWritten().isEmpty());

    // A pipe would block the window on opening: only a regular file is read.
    const QString pipe = QDir(w.programFolder()).filePath(QStringLiteral("pipe.tsk"));
    if (QProcess::execute(QStringLiteral("mkfifo"), {pipe}) == 0) {
        rig.dialogs.answerFile(pipe);
        QTest::mouseClick(rig.frame().btnOtherFileLoadPO, Qt::LeftButton);
        rig.startUpload();
        QCOMPARE(rig.dialogs.errors.size(), 4);
        QVERIFY(rig.dialogs.errors.last().contains(QStringLiteral("не обычный файл")));
        QVERIFY(rig.takeWritten().isEmpty());
        rig.dialogs.answerFile(rig.filePath);
        QTest::mouseClick(rig.frame().btnOtherFileLoadPO, Qt::LeftButton);
    }

    // With the port gone while the question is open, nothing is sent.
    const qsizetype errorsBefore = rig.dialogs.errors.size();
    QVERIFY(header.open(QIODevice::WriteOnly));
    header.write(sampleFirmwareImage(0x5000));
    header.close();
    rig.dialogs.whileAsking = [&rig] { rig.backend->unplug(1); }; // the adapter pulled meanwhile
    rig.startUpload();
    rig.dialogs.whileAsking = {};
    QCOMPARE(w.statusText(), QStringLiteral("Порт отключен."));
    QCOMPARE(rig.dialogs.errors.size(), errorsBefore);
}

void TestFirmwarePage::theDefaultFileComesBackWithEachVisitAndACancelledDialogKeepsTheChoice()
{
    TFirmwareRig rig;
    auto &w = *rig.window;
    QVERIFY(QFile::remove(rig.filePath));
    w.ActionSoftTavelonExecute();
    QCOMPARE(rig.frame().lbFileLoadPO->text(), QStringLiteral("Файл Tavelon_2008.tsk\nне найден."));
    QCOMPARE(w.statusText(), QStringLiteral("Определите файл для загрузки. Шаг 1."));
    QVERIFY(!rig.frame().progSteps->firmwareFileDefined());

    const QString other = QDir(w.programFolder()).filePath(QStringLiteral("new.tsk"));
    rig.dialogs.answerFile(other);
    QTest::mouseClick(rig.frame().btnOtherFileLoadPO, Qt::LeftButton);
    QCOMPARE(rig.dialogs.shown.last().filter, QStringLiteral("Файлы загрузки (*.tsk)|*.tsk"));
    QCOMPARE(w.frameSoftTav->firmwareFilePath, other);
    QCOMPARE(w.lastFileName(), QStringLiteral("new.tsk"));
    QCOMPARE(rig.frame().lbFileLoadPO2->text(), QDir::toNativeSeparators(w.programFolder()) + QStringLiteral("\nnew.tsk"));
    QCOMPARE(w.statusText(), QStringLiteral("Выключите прибор. Шаг 2."));

    rig.dialogs.answerFile(QString()); // cancelled: the choice stays
    QTest::mouseClick(rig.frame().btnOtherFileLoadPO, Qt::LeftButton);
    QCOMPARE(w.frameSoftTav->firmwareFilePath, other);
    QVERIFY(rig.frame().progSteps->firmwareFileDefined());

    // "Тавелон" again looks the default file up again, which replaces the choice.
    w.ActionSoftTavelonExecute();
    QVERIFY(w.frameSoftTav->firmwareFilePath.isEmpty());
    QVERIFY(!rig.frame().progSteps->firmwareFileDefined());
    QFile file(rig.filePath);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(sampleFirmwareImage(0x5000));
    file.close();
    w.ActionSoftTavelonExecute();
    QCOMPARE(w.frameSoftTav->firmwareFilePath, rig.filePath);
}

void TestFirmwarePage::theDemosImageIsNeverOfferedNorSentByTheRealProgram()
{
    // An earlier demo wrote its image over the real one: 307,200 bytes that name
    // themselves a sample for the virtual instrument.
    TFirmwareRig rig;
    auto &w = *rig.window;
    const QByteArray demoImage = sampleFirmwareImage(300 * 1024);
    QFile left(rig.filePath);
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.write(demoImage);
    left.close();
    rig.bringIntoLoader();
    QCOMPARE(rig.frame().lbFileLoadPO->text(), QStringLiteral("Файл Tavelon_2008.tsk\nиз демонстрации,\nне для прибора."));
    QVERIFY(w.frameSoftTav->firmwareFilePath.isEmpty());
    QVERIFY(!rig.frame().progSteps->firmwareFileDefined());
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());

    // Chosen by hand from the demo's folder, it is refused before the instrument hears a byte.
    const QString demoFolder = w.programFolder() + QStringLiteral("demo/FilesInTavelon");
    QVERIFY(QDir().mkpath(demoFolder));
    QVERIFY(QFile::rename(rig.filePath, demoFolder + QStringLiteral("/Tavelon_2008.tsk")));
    rig.dialogs.answerFile(demoFolder + QStringLiteral("/Tavelon_2008.tsk"));
    QTest::mouseClick(rig.frame().btnOtherFileLoadPO, Qt::LeftButton);
    rig.takeWritten();
    rig.startUpload();
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.last().contains(QStringLiteral("образец из демонстрации")));
    QVERIFY(rig.takeWritten().isEmpty());

    // One byte more or a real header: a real file, offered as ever.
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.write(demoImage + '\0');
    left.close();
    w.ActionSoftTavelonExecute();
    QCOMPARE(w.frameSoftTav->firmwareFilePath, rig.filePath);
    QVERIFY(left.open(QIODevice::WriteOnly));
    left.write(QByteArray(demoImage).replace(0, 7, "REAL FW"));
    left.close();
    w.ActionSoftTavelonExecute();
    QCOMPARE(w.frameSoftTav->firmwareFilePath, rig.filePath);
}

void TestFirmwarePage::thePageStopsAContactSearchAndStaysAt115200()
{
    TFirmwareRig rig;
    auto &w = *rig.window;
    w.ActionTav2006Execute(); // asks for 115200: a search at 4800 starts
    QVERIFY(w.line->search->DefSetComm_Timer->isActive());
    w.ActionSoftTavelonExecute();
    QVERIFY(!w.line->search->DefSetComm_Timer->isActive());
    QVERIFY(!w.line->search->SendCommand_Timer->isActive());
    QCOMPARE(w.line->PortSettings(), QStringLiteral("115200,n,8,1"));
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QVERIFY(w.shell.portGroup->cbBaudRate->isEnabled());
    QVERIFY(!w.line->search->speedChangeRequested());

    // Leaving the page in the middle of a transfer abandons it, once the engineer has
    // confirmed it; a "Нет" keeps the page and the transfer.
    rig.loader->setStylusHeld(true);
    rig.instrument.setPowered(false);
    rig.instrument.setPowered(true);
    rig.frame().progSteps->StartProgTav_TimerTimer();
    // The engineer checks the link with "Контакт" first: the search starts at 4800, and
    // the upload stops it and goes at 115200, where the loader listens.
    QTest::mouseClick(w.shell.portGroup->btnConnect, Qt::LeftButton);
    QCOMPARE(w.line->PortSettings(), QStringLiteral("4800,n,8,1"));
    rig.startUpload();
    QVERIFY(rig.dialogs.questions.first().contains(QStringLiteral("на скорости 115200")));
    QCOMPARE(rig.backend->baudRate(), 115200);
    QCOMPARE(w.shell.portGroup->btnConnect->text(), QStringLiteral("Контакт"));
    QTRY_VERIFY(w.shell.RzProgressBar1->value() > 0);
    rig.dialogs.answerYesNo(false);
    w.ActionBDTSExecute();
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageSoftTav));
    QVERIFY(rig.frame().progSteps->Timer->isActive());
    QCOMPARE(w.statusText(), QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания."));
    rig.dialogs.answerYesNo(true);
    w.ActionBDTSExecute();
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageBDTS));
    QVERIFY(w.statusText().startsWith(QStringLiteral("Загрузка программы в прибор прервана.")));
    QCOMPARE(rig.dialogs.questions.size(), 3); // the upload's own question, then the two to leave
    QCOMPARE(w.line->OutBufferCount(), 0);
    QVERIFY(!rig.frame().progSteps->Timer->isActive());
    QCOMPARE(w.shell.RzProgressBar1->value(), 0);
    QCOMPARE(rig.frame().progSteps->state(), TProgSteps::TState::Disarmed);
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
}

QTEST_MAIN(TestFirmwarePage)
#include "tst_firmwarepage.moc"

void TestFirmwarePage::anUploadWaitsForATableAskedForMeanwhile()
{
    // Line noise that looks like a measurement notice, with automatic reception ticked,
    // asks for a table while the loader waits: the image waits until that request has
    // ended (here at its limit, since the loader sends no table), then goes by itself, whole.
    TFirmwareRig rig;
    auto &w = *rig.window;
    QTest::mouseClick(w.readerPage->chckAutoReadOP, Qt::LeftButton);
    rig.bringIntoLoader();
    QCOMPARE(w.statusText(), step3);
    rig.takeWritten();
    rig.backend->injectReceived("G");
    QCOMPARE(rig.takeWritten(), QByteArray("G"));
    rig.startUpload();
    QCOMPARE(w.statusText(),
             QStringLiteral("Идет прием оптических плотностей. Запрос будет выполнен после его окончания."));
    QVERIFY(rig.takeWritten().isEmpty());
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), TProgSteps::sendingText(), 5000);
    QVERIFY(rig.frame().progSteps->sending());
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Перепрограммирование прибора завершено"), 20000);
}

void TestFirmwarePage::theImageEndingWhileTheQuestionIsOpenKeepsThePageToTheEnd()
{
    TFirmwareRig rig(0x4000 + 20000); // about two seconds on the line
    auto &w = *rig.window;
    rig.bringIntoLoader();
    rig.startUpload();
    QVERIFY(rig.frame().progSteps->sending());
    // The engineer clicks another page in the upload's last moments and answers "Да"
    // only after the last bytes have left: the loader writes its flash now, and the page
    // stays to guard the write.
    rig.dialogs.whileAsking = [&rig] {
        QVERIFY(TVirtualRig::waitUntil([&rig] { return rig.frame().progSteps->writing(); }, 10000));
    };
    rig.dialogs.answerYesNo(true);
    w.shell.ActionTav2006->trigger();
    QVERIFY(rig.dialogs.questions.last().contains(QStringLiteral("Прервать ее")));
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageSoftTav));
    QCOMPARE(w.statusText(), QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания."));
    // Nothing probes the loader while it writes, and the end is told.
    const qsizetype heard = rig.instrument.received().size();
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Перепрограммирование прибора завершено"), 20000);
    QVERIFY(!rig.instrument.received().mid(heard).contains('B'));
    QCOMPARE(rig.loader->accepted(), 1);
}

void TestFirmwarePage::noAnswerToALeavingQuestionErasesAResultNorLeavesOnNo()
{
    TFirmwareRig rig;
    auto &w = *rig.window;
    const QString done = QStringLiteral("Перепрограммирование прибора завершено");
    rig.bringIntoLoader();
    rig.startUpload();
    // The new program's 'L' comes when the test says.
    QTRY_VERIFY_WITH_TIMEOUT(rig.frame().progSteps->writing(), 10000);
    rig.instrument.setSilent(true);
    QTRY_COMPARE_WITH_TIMEOUT(rig.frame().progSteps->state(), TProgSteps::TState::Back, 10000);
    // Restarted, 'L' awaited: the engineer clicks away; the 'L' comes while the question
    // is open, and the answer is "Нет": the page stays and says how it ended.
    rig.dialogs.whileAsking = [&] {
        rig.backend->injectReceived("L");
        QVERIFY(TVirtualRig::waitUntil([&] { return w.statusText() == done; }, 5000));
    };
    rig.dialogs.answerYesNo(false);
    w.shell.ActionTav2006->trigger();
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageSoftTav));
    QCOMPARE(w.statusText(), done);
    // Leaving now asks nothing, and the result stays on the status line.
    w.shell.ActionTav2006->trigger();
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageReader));
    QCOMPARE(w.statusText(), done);

    // The line drops while the image goes and the question is open; "Да" leaves, and the
    // word that the reprogramming was cancelled stays.
    rig.instrument.setSilent(false);
    rig.bringIntoLoader();
    rig.startUpload();
    QVERIFY(rig.frame().progSteps->sending());
    const QString cancelled = QStringLiteral("Перепрограммирование прибора отменено.");
    rig.dialogs.whileAsking = [&] {
        rig.instrument.setPowered(false);
        QVERIFY(TVirtualRig::waitUntil([&] { return w.statusText() == cancelled; }, 3000));
    };
    rig.dialogs.answerYesNo(true);
    user::clickTab(w.shell.RzPageControl1, TFormMainLoritS_D7::pageStart); // a page that asks nothing of the line
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageStart));
    QCOMPARE(w.statusText(), cancelled);
}
