// The engineer's own paths through reprogramming, on the program's real serial backend:
// the window opens one end of a pseudo-terminal, the virtual instrument sits on the
// other and takes the bytes at the line's pace, and its power is the clear-to-send
// line. Each journey is driven by clicks and keys and read from the status line and
// the instrument's screen.

#include "app/MainLoritS_TreeTS.h"
#include "firmware/FirmwareImage.h"
#include "firmware/ProgSteps.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/FirmwareLoader.h"
#include "support/PtyWindow.h"
#include "support/UserSteps.h"
#include "support/VirtualRig.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

class TestFirmwareOverPty : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void anEngineerWithAUsbAdapterReprogramsTheInstrument();
    void aRefusedImageNeitherTrapsThePageNorEndsInSuccess();
    void aRestartOfAnyLengthAfterTheWholeImageEndsWithItsL();
    void aPowerCutInTheImagesLastBytesIsNeverTakenForSuccess();
};

namespace {

const QString step2 = QStringLiteral("Выключите прибор. Шаг 2.");
const QString step2On = QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2.");
const QString waiting = QStringLiteral("Прибор включен. Ожидание режима программирования...");
const QString step3 = QStringLiteral("Загрузите программу в прибор. Шаг 3.");
const QString rebooting = QStringLiteral("Перезагрузка прибора");
const QString done = QStringLiteral("Перепрограммирование прибора завершено");
const QString unknownOutcome = QStringLiteral("Связь с прибором прерывалась во время программирования");
const QString refusedOnScreen = QStringLiteral("Файл принят не полностью  -  ОШИБКА");

struct TPtyFirmwareRig
{
    TVirtualInstrument instrument;
    TInstrumentLoader *loader = loaderOf(instrument);
    std::unique_ptr<TPtyWindow> pty;
    QByteArray file;
    QStringList seen; ///< every status shown, in order
    int saidL = 0;    ///< 'L's the instrument has sent

    explicit TPtyFirmwareRig(qint64 fileLength, int flashStepMs = 60)
    {
        loader->setTiming({/*boot*/ 300, flashStepMs, /*restart*/ 1500, /*gap*/ 300});
        instrument.setSpeedIndex(5);
        pty = std::make_unique<TPtyWindow>(&instrument);
        QObject::connect(&instrument, &TVirtualInstrument::transmit, [this](const QByteArray &bytes) { saidL += int(bytes.count('L')); });
        file = sampleFirmwareImage(fileLength);
        const QString folder = w().programFolder() + QStringLiteral("FilesInTavelon");
        QDir().mkpath(folder);
        QFile out(folder + QStringLiteral("/Tavelon_2008.tsk"));
        if (out.open(QIODevice::WriteOnly))
            out.write(file);
        w().show();
    }
    TFormMainLoritS_D7 &w() const { return *pty->window; }
    TFrameSoftTav &frame() const { return *w().frameSoftTav; }
    QString status() const { return w().statusText(); }

    /// Runs the loop until `done`, noting each status shown on the way.
    bool until(const std::function<bool()> &done, int timeoutMs = 10000)
    {
        return TVirtualRig::waitUntil(done, timeoutMs, [this] {
            if (seen.isEmpty() || seen.last() != status())
                seen << status();
        });
    }
    bool waitStatus(const QString &text, int timeoutMs = 10000)
    {
        return until([&] { return status().startsWith(text); }, timeoutMs);
    }
    /// Lets `ms` pass on the line, as the engineer's own pace.
    bool pass(int ms)
    {
        QElapsedTimer clock;
        clock.start();
        return until([&] { return clock.elapsed() >= ms; }, ms + 1000);
    }
    bool screenShows(const QString &line) const { return loader->screen().contains(line); }
    /// Waits until the instrument's program has said 'L' and the window has read it.
    bool programAnnounced()
    {
        const int before = saidL;
        return until([&] { return saidL > before && pty->link.pendingToPc() == 0; }) && pass(100);
    }

    /// Steps 1 to 3 as the engineer does them; the power-on wait is not waited out.
    bool bringIntoLoader()
    {
        if (!user::clickGroupBar(w(), w().shell.ActionSoftTavelon) || !w().frameSoftTav)
            return false;
        instrument.setPowered(false);
        if (!waitStatus(step2On))
            return false;
        loader->setStylusHeld(true);
        instrument.setPowered(true);
        loader->setStylusHeld(false);
        if (!waitStatus(waiting))
            return false;
        frame().progSteps->StartProgTav_TimerTimer();
        user::clickTab(frame().RzPageControl2, 1);
        return status() == step3 && frame().btnLoadPO->isEnabled();
    }
    void load()
    {
        pty->dialogs.answerYesNo(true);
        QTest::mouseClick(frame().btnLoadPO, Qt::LeftButton);
    }
    /// Loads an image of which a few bytes are lost on the way: the loader refuses it.
    bool loadAndLoseBytes()
    {
        load();
        if (!until([&] { return w().shell.RzProgressBar1->value() > 0; }))
            return false;
        pty->link.loseBytes(40);
        return waitStatus(TProgSteps::programmingText(), 10000) && until([&] { return screenShows(refusedOnScreen); });
    }
};

} // namespace

void TestFirmwareOverPty::anEngineerWithAUsbAdapterReprogramsTheInstrument()
{
    TPtyFirmwareRig rig(0x4000 + 20000);
    auto &w = rig.w();
    // The adapter's device typed into the port box: the program takes it as the port.
    user::typePort(w, rig.pty->link.slavePath());
    QCOMPARE(w.line->OpenPortText(), rig.pty->link.slavePath());
    QVERIFY(user::clickGroupBar(w, w.shell.ActionSoftTavelon));
    QCOMPARE(rig.status(), step2);
    const QString fileLabel = rig.frame().lbFileLoadPO->text();

    rig.instrument.setPowered(false);
    QVERIFY(rig.waitStatus(step2On));
    rig.loader->setStylusHeld(true);
    rig.instrument.setPowered(true);
    QVERIFY(rig.waitStatus(waiting));
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
    QVERIFY(rig.waitStatus(step3, TProgSteps::powerOnWaitMs + 3000)); // the loader keeps silent
    user::clickTab(rig.frame().RzPageControl2, 1);
    QCOMPARE(rig.status(), step3);

    rig.load();
    // The adapter holds back what it was given for a moment: the image counts as sent
    // only when the instrument has had every byte, whatever the clock says.
    rig.pty->link.holdLine(800);
    QCOMPARE(rig.status(), TProgSteps::sendingText());
    // Nothing changes the file while its image goes out.
    QVERIFY(!rig.frame().btnOtherFileLoadPO->isEnabled());
    QVERIFY(!user::clickGroupBar(w, w.shell.ActionSoftTavelon));
    QVERIFY(rig.waitStatus(TProgSteps::programmingText(), 20000));
    QCOMPARE(rig.pty->link.queuedTowardsInstrument(), 0);
    QVERIFY(rig.screenShows(QStringLiteral("Контрольная сумма файла  -  ОК")));

    QVERIFY(rig.waitStatus(done, 15000));
    QVERIFY(rig.seen.contains(rebooting));
    QCOMPARE(rig.loader->accepted(), 1);
    QCOMPARE(rig.loader->program(), firmwarePacket(rig.file).data);
    QVERIFY(rig.screenShows(QStringLiteral("Новая программа: %1 байт").arg(rig.file.size())));
    QCOMPARE(rig.frame().lbFileLoadPO->text(), fileLabel);
    QVERIFY(rig.frame().btnOtherFileLoadPO->isEnabled() && w.shell.ActionSoftTavelon->isEnabled());
    QVERIFY(!rig.frame().btnLoadPO->isEnabled());
    QVERIFY(rig.pty->dialogs.errors.isEmpty());
}

void TestFirmwareOverPty::aRefusedImageNeitherTrapsThePageNorEndsInSuccess()
{
    TPtyFirmwareRig rig(0x4000 + 4000);
    auto &w = rig.w();
    auto &dialogs = rig.pty->dialogs;
    user::typePort(w, rig.pty->link.slavePath());
    QVERIFY(rig.bringIntoLoader());
    QVERIFY(rig.loadAndLoseBytes());

    // Leaving asks first and says what may happen; "Нет" keeps the page, whose line
    // stays the upload's. So does "Отменить загрузку".
    dialogs.answerYesNo(false);
    QVERIFY(user::clickGroupBar(w, w.shell.ActionTav2006));
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageSoftTav));
    QVERIFY(dialogs.questions.last().contains(QStringLiteral("«Программирование завершено»")));
    QCOMPARE(rig.status(), QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания."));
    QVERIFY(!w.shell.portGroup->btnVerifyConnect->isEnabled());
    dialogs.answerYesNo(false);
    const qsizetype asked = dialogs.questions.size();
    QTest::mouseClick(rig.frame().btnStopProgramTav, Qt::LeftButton);
    QCOMPARE(dialogs.questions.size(), asked + 1);
    QVERIFY(rig.frame().btnStopProgramTav->isVisible());

    // Having read the refusal on the instrument's screen, the engineer cancels after
    // all: the line is free again, and step 2 starts afresh.
    dialogs.answerYesNo(true);
    QTest::mouseClick(rig.frame().btnStopProgramTav, Qt::LeftButton);
    QCOMPARE(rig.status(), QStringLiteral("Программирование прибора приостановлено. Повторите шаг 2."));
    QVERIFY(!rig.frame().btnStopProgramTav->isVisible());
    QVERIFY(w.shell.portGroup->btnVerifyConnect->isEnabled() && w.shell.ActionSoftTavelon->isEnabled());
    QVERIFY(!rig.seen.contains(done));

    // Refused again, and this time the instrument's longest write time runs out: the
    // page says what to look at and offers the upload again, which goes through.
    QVERIFY(rig.bringIntoLoader());
    QVERIFY(rig.loadAndLoseBytes());
    rig.frame().progSteps->ProgSilence_TimerTimer(); // the minute
    QVERIFY2(rig.status().contains(QStringLiteral("молчит больше минуты: посмотрите, что показывает его экран")),
             qPrintable(rig.status()));
    QVERIFY(rig.status().contains(QStringLiteral("загрузите программу снова")));
    QVERIFY(rig.frame().btnLoadPO->isEnabled());
    rig.load();
    QVERIFY(rig.waitStatus(done, 15000));
    QCOMPARE(rig.loader->accepted(), 1);
    QCOMPARE(rig.loader->refused(), 2);
    QVERIFY(dialogs.errors.isEmpty());
}

void TestFirmwareOverPty::aRestartOfAnyLengthAfterTheWholeImageEndsWithItsL()
{
    // Nobody knows how long the real instrument's restart keeps its line down, nor how
    // long a USB adapter takes to come back: a restart of 0.6 s and one of 5 s, each
    // after a whole image, end when the new program says 'L'.
    TPtyFirmwareRig rig(0x4000 + 4000);
    auto &w = rig.w();
    for (const int restartMs : {600, 5000}) {
        QVERIFY(rig.bringIntoLoader());
        rig.loader->setTiming({/*boot*/ 300, /*step*/ 60, restartMs, /*gap*/ 300});
        rig.seen.clear();
        rig.load();
        QVERIFY(rig.waitStatus(rebooting, 10000));
        QVERIFY2(rig.waitStatus(done, restartMs + 5000), qPrintable(rig.seen.join(QLatin1String(" / "))));
        QCOMPARE(rig.loader->program(), firmwarePacket(rig.file).data);
        QVERIFY(!rig.seen.join(QString()).contains(unknownOutcome));
        QVERIFY(w.shell.portGroup->btnConnect->isEnabled() && !rig.frame().btnStopProgramTav->isVisible());
    }
    QCOMPARE(rig.loader->accepted(), 2);

    // Back after its restart, but no word from it: the hint no longer says it restarts.
    QVERIFY(rig.bringIntoLoader());
    rig.instrument.setSilent(true);
    rig.load();
    QVERIFY(rig.waitStatus(rebooting, 15000));
    QVERIFY(rig.until([&] { return w.line->LinkPresent(); }));
    rig.frame().progSteps->ProgSilence_TimerTimer(); // the minute
    QVERIFY2(rig.status().startsWith(QStringLiteral("Прибор снова на связи, но молчит больше минуты: посмотрите")),
             qPrintable(rig.status()));
    QVERIFY(!rig.status().contains(rebooting));
    rig.instrument.setSilent(false);

    // Leaving while the loader writes: once the engineer has read what that means.
    QVERIFY(rig.bringIntoLoader());
    rig.load();
    QVERIFY(rig.waitStatus(TProgSteps::programmingText(), 10000));
    rig.pty->dialogs.answerYesNo(true);
    QVERIFY(user::clickGroupBar(w, w.shell.ActionTav2006));
    QCOMPARE(w.shell.RzPageControl1->currentIndex(), int(TFormMainLoritS_D7::pageReader));
    QVERIFY(rig.status().startsWith(QStringLiteral("Перепрограммирование прибора не подтверждено")));
    QVERIFY(w.shell.portGroup->btnConnect->isEnabled());
    QVERIFY(!rig.seen.mid(rig.seen.indexOf(done) + 1).contains(done));
}

void TestFirmwareOverPty::aPowerCutInTheImagesLastBytesIsNeverTakenForSuccess()
{
    // The engineer switches the instrument off while the image's last bytes cross the
    // line, then on again without the stylus: its old program starts and says 'L'. The
    // clear-to-send line is looked at now and then, so the program hears of the cut a
    // moment late, when its queue has long emptied towards the dark instrument.
    TPtyFirmwareRig rig(0x4000 + 20000);
    // Start, marker and length, the data block, the checksum: what the loader must have.
    const qint64 whole = 6 + firmwarePacket(rig.file).data.size() + 2;
    for (const qint64 missing : {1000, 300, 100, 30}) {
        QVERIFY(rig.bringIntoLoader());
        rig.seen.clear();
        rig.instrument.clearReceived();
        rig.load();
        QVERIFY(rig.until([&] { return rig.instrument.received().size() >= whole - missing; }, 10000));
        rig.instrument.setPowered(false);
        QVERIFY(rig.pass(1500));
        rig.instrument.setPowered(true);
        QVERIFY(rig.programAnnounced());
        const QString seen = rig.seen.join(QLatin1String(" / "));
        QVERIFY2(!rig.seen.contains(done), qPrintable(seen));
        QVERIFY2(rig.seen.contains(QStringLiteral("Перепрограммирование прибора отменено.")) || rig.status().startsWith(unknownOutcome),
                 qPrintable(seen));
        QCOMPARE(rig.loader->accepted(), 0);
    }
}

QTEST_MAIN(TestFirmwareOverPty)
#include "tst_firmware_over_pty.moc"
