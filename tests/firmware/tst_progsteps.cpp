// The reprogramming procedure's rules, without a window: a line that carries the bytes
// at 115200 baud by a clock the sequence moves, and a table of event sequences that says
// where each one leads.

#include "firmware/ProgSteps.h"

#include <QTest>

#include <algorithm>

class TestProgSteps : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void eachSequenceOfEventsLeadsToItsStep_data();
    void eachSequenceOfEventsLeadsToItsStep();
};

namespace {

const QString step1 = QStringLiteral("Определите файл для загрузки. Шаг 1.");
const QString step2 = QStringLiteral("Выключите прибор. Шаг 2.");
const QString step2On = QStringLiteral("Включите прибор удерживая указку на экране.Шаг 2.");
const QString step3 = QStringLiteral("Загрузите программу в прибор. Шаг 3.");
const QString sending = TProgSteps::sendingText();
const QString programming = TProgSteps::programmingText();
const QString waiting = QStringLiteral("Прибор включен. Ожидание режима программирования...");
const QString rebooting = QStringLiteral("Перезагрузка прибора");
const QString done = QStringLiteral("Перепрограммирование прибора завершено");
const QString cancelled = QStringLiteral("Перепрограммирование прибора отменено.");
const QString paused = QStringLiteral("Программирование прибора приостановлено. Повторите шаг 2.");
const QString unknown = QStringLiteral("Связь с прибором прерывалась во время программирования");

constexpr qint64 baud = 115200;
constexpr qint64 bitsPerByte = 10;

/// What the window does around the procedure, reduced to what the user sees.
struct THarness
{
    qint64 now = 0;      ///< ms
    qint64 lineFree = 0; ///< µs: when the last byte handed over has crossed the line
    bool link = true;
    TProgSteps steps{line()};
    QString status;
    bool load = false;
    bool owned = false;
    QList<bool> finished;

    TProgLine line()
    {
        TProgLine line;
        line.queued = [this] { return std::max<qint64>(0, (lineFree - now * 1000) * baud / (bitsPerByte * 1000000)); };
        line.dropQueued = [this] { lineFree = std::min(lineFree, now * 1000); };
        line.baud = [] { return qint32(baud); };
        line.clockMs = [this] { return now; };
        return line;
    }

    THarness()
    {
        // The fake line carries what the procedure sends at 115200.
        QObject::connect(&steps, &TProgSteps::bytesToSend, [this](const QByteArray &bytes) {
            lineFree = std::max(lineFree, now * 1000) + bytes.size() * bitsPerByte * 1000000 / baud;
        });
        QObject::connect(&steps, &TProgSteps::statusText, [this](const QString &text) { status = text; });
        QObject::connect(&steps, &TProgSteps::loadButtonChanged, [this](bool on) { load = on; });
        QObject::connect(&steps, &TProgSteps::runningChanged, [this](bool on) { owned = on; });
        QObject::connect(&steps, &TProgSteps::finished, [this](bool ok, const QString &) { finished << ok; });
    }

    /// The loader writes, then its line drops for `downMs`: the drop is heard late.
    void drop(qint64 downMs)
    {
        now += 500;
        steps.lineLost();
        now += downMs;
        steps.lineBack();
        link = true;
    }

    void run(const QString &event)
    {
        if (event == QLatin1String("page")) {
            steps.DisarmProgSteps();
            steps.ArmProgSteps(link);
            steps.UpdateProgStep();
        } else if (event == QLatin1String("file")) {
            steps.setFirmwareFileDefined(true);
        } else if (event == QLatin1String("off")) {
            link = false;
            steps.lineLost();
        } else if (event == QLatin1String("on")) {
            link = true;
            steps.lineBack();
        } else if (event == QLatin1String("wait")) {
            steps.StartProgTav_TimerTimer();
        } else if (event == QLatin1String("L")) {
            steps.reply('L', QByteArrayLiteral("L"), 0);
        } else if (event == QLatin1String("tab")) {
            steps.UpdateProgStep();
        } else if (event == QLatin1String("upload")) {
            steps.start(firmwarePacket(sampleFirmwareImage(0x4000 + 3 * tsk::chunkSize)));
        } else if (event == QLatin1String("sent")) {
            for (int tick = 0; tick < 100 && steps.sending(); ++tick) {
                now += tsk::tickMs;
                steps.TimerTimer();
            }
        } else if (event == QLatin1String("handed")) {
            // Every byte handed over; a few still cross the line.
            while (steps.firmwareImage() && !steps.firmwareImage()->complete()) {
                now += tsk::tickMs;
                steps.TimerTimer();
            }
            now = lineFree / 1000 - 5;
        } else if (event == QLatin1String("write")) {
            now += 500; // the loader checks and writes
        } else if (event == QLatin1String("cancel")) {
            steps.cancel();
        } else if (event == QLatin1String("flicker")) {
            drop(300);
        } else if (event == QLatin1String("restart")) {
            drop(2000);
        } else if (event == QLatin1String("slow-restart")) {
            drop(6000);
        } else if (event == QLatin1String("cut")) {
            // The line drops as the last byte crosses; heard one look at the line later.
            now = std::max(now, lineFree / 1000 + TProgSteps::lineDropHeardWithinMs / 2);
            steps.lineLost();
            link = false;
        } else if (event == QLatin1String("minute")) {
            steps.ProgSilence_TimerTimer();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown event ") + event));
        }
    }
};

} // namespace

void TestProgSteps::eachSequenceOfEventsLeadsToItsStep_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("status"); ///< what the status line begins with
    QTest::addColumn<bool>("load");
    QTest::addColumn<bool>("owned");     ///< the line is the upload's
    QTest::addColumn<QString>("ends");   ///< the uploads' outcomes: '+' success, '-' not

    const QString ready = QStringLiteral("file page off on wait");
    const QString sent = ready + QStringLiteral(" upload sent");
    const auto row = [](const char *name, const QString &events, const QString &status, bool load, bool owned,
                        const char *ends = "") { QTest::newRow(name) << events << status << load << owned << QString::fromLatin1(ends); };
    row("no file", QStringLiteral("page"), step1, false, false);
    row("file, line", QStringLiteral("file page"), step2, false, false);
    row("line absent at arrival", QStringLiteral("file off page"), step2On, false, false);
    row("switched off", QStringLiteral("file page off"), step2On, false, false);
    row("switched on: the wait runs", QStringLiteral("file page off on"), waiting, false, false);
    row("the wait ends", ready, step3, true, false);
    row("'L' during the wait", QStringLiteral("file page off on L"), step2, false, false);
    row("no file: the steps are recorded", QStringLiteral("page off on wait"), step1, false, false);
    row("file chosen after the wait", QStringLiteral("page off on wait file"), step3, true, false);
    row("step 3, off: the loader is forgotten", ready + QStringLiteral(" off"), step2On, false, false);
    row("step 3, 'L': the program runs", ready + QStringLiteral(" L upload"), step2, false, false);
    row("sending", ready + QStringLiteral(" upload tab"), sending, false, true);
    row("cancel", ready + QStringLiteral(" upload cancel"), paused, false, false, "-");
    row("line lost while sending", ready + QStringLiteral(" upload off"), cancelled, false, false, "-");
    row("…and back: the wait again", ready + QStringLiteral(" upload off on"), waiting, false, false, "-");
    row("sent: the tab keeps it", sent + QStringLiteral(" tab"), programming, false, true);
    row("'L' before any restart is noise", sent + QStringLiteral(" L"), programming, false, true);
    row("the restart", sent + QStringLiteral(" restart"), rebooting, false, true);
    row("back, then 'L': done", sent + QStringLiteral(" restart L"), done, false, false, "+");
    row("done stays one step", sent + QStringLiteral(" restart L tab"), step2, false, false, "+");
    row("a short drop, then 'L': done", sent + QStringLiteral(" flicker L"), done, false, false, "+");
    row("a slow restart, then 'L': done", sent + QStringLiteral(" slow-restart L"), done, false, false, "+");
    row("a drop with no 'L', then the restart", sent + QStringLiteral(" flicker restart L"), done, false, false, "+");
    row("all handed over, the last bytes cut", ready + QStringLiteral(" upload handed off"), cancelled, false, false, "-");
    row("cut as the last byte crossed: heard late", ready + QStringLiteral(" upload sent cut"), rebooting, false, true);
    row("…back, then 'L': nobody can tell", ready + QStringLiteral(" upload sent cut on L"), unknown, false, false, "-");
    row("…or down for good", ready + QStringLiteral(" upload sent cut minute"), QStringLiteral("Перезагрузка прибора. Прибор молчит"), false, false, "-");
    row("no restart in the write time: load again", sent + QStringLiteral(" minute"), QStringLiteral("Программирование прибора. Прибор молчит"), true, false, "-");
    row("…and the next restart is no success", sent + QStringLiteral(" minute restart L"), step2, false, false, "-");
    row("back but silent", sent + QStringLiteral(" restart minute"), QStringLiteral("Прибор снова на связи, но молчит"), false, false, "-");
    row("down for good", sent + QStringLiteral(" write off minute"), QStringLiteral("Перезагрузка прибора. Прибор молчит"), false, false, "-");
    row("cancel while the flash is written", sent + QStringLiteral(" cancel"), paused, false, false, "-");
}

void TestProgSteps::eachSequenceOfEventsLeadsToItsStep()
{
    QFETCH(QString, events);
    QFETCH(QString, status);
    QFETCH(bool, load);
    QFETCH(bool, owned);
    QFETCH(QString, ends);
    THarness h;
    for (const QString &event : events.split(QLatin1Char(' ')))
        h.run(event);
    QVERIFY2(h.status.startsWith(status), qPrintable(h.status));
    QCOMPARE(h.load, load);
    QCOMPARE(h.owned, owned);
    QCOMPARE(h.steps.ownsLine(), owned);
    QString outcomes;
    for (const bool ok : h.finished)
        outcomes += ok ? QLatin1Char('+') : QLatin1Char('-');
    QCOMPARE(outcomes, ends);
}

QTEST_GUILESS_MAIN(TestProgSteps)
#include "tst_progsteps.moc"
