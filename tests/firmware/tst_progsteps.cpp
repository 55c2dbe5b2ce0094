// The reprogramming procedure's rules, without a window: a harness plays the window's
// part (the link line, the status line, the upload button, the power-on wait) and a
// table of event sequences says where each one leads.

#include "firmware/ProgSteps.h"

#include <QTest>

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

/// What the window does around the rules, reduced to what the user sees.
struct THarness
{
    TProgSteps steps;
    bool link = true;
    QString status;
    bool load = false;
    QString hint;
    bool waitRunning = false;
    int waitStarts = 0;

    THarness()
    {
        QObject::connect(&steps, &TProgSteps::statusText, [this](const QString &text) { status = text; });
        QObject::connect(&steps, &TProgSteps::loadButtonChanged, [this](bool on) { load = on; });
        QObject::connect(&steps, &TProgSteps::loadHintChanged, [this](const QString &text) { hint = text; });
        QObject::connect(&steps, &TProgSteps::powerOnWaitStarted, [this] {
            if (!waitRunning)
                ++waitStarts;
            waitRunning = true;
        });
        QObject::connect(&steps, &TProgSteps::powerOnWaitStopped, [this] { waitRunning = false; });
        QObject::connect(&steps, &TProgSteps::stopped, [this] { waitRunning = false; });
    }

    /// One link update on the firmware page, as the window's link check runs it.
    void lineUpdate(bool present)
    {
        link = present;
        if (!present) {
            status = QStringLiteral("Нет связи с прибором");
            steps.linkLost();
        } else {
            steps.linkReturned();
        }
        steps.afterLinkUpdate(link);
    }

    void run(const QString &event)
    {
        if (event == QLatin1String("page")) {
            steps.disarm();
            steps.arm();
            steps.updateStep(link);
        } else if (event == QLatin1String("file")) {
            steps.firmwareFileDefined = true;
            steps.updateStep(link);
        } else if (event == QLatin1String("off")) {
            lineUpdate(false);
        } else if (event == QLatin1String("absent")) {
            lineUpdate(false); // a further update while the line stays down
        } else if (event == QLatin1String("on")) {
            lineUpdate(true);
        } else if (event == QLatin1String("wait")) {
            waitRunning = false;
            steps.powerOnWaitEnded(link);
        } else if (event == QLatin1String("L")) {
            steps.replyL(link);
        } else if (event == QLatin1String("tab")) {
            steps.updateStep(link);
        } else if (event == QLatin1String("upload")) {
            // The window asks the rules first, as after the question box.
            if (steps.readyToSend(link))
                steps.uploadBegun(link);
        } else if (event == QLatin1String("sent")) {
            steps.uploadFinished();
        } else if (event == QLatin1String("cancel")) {
            steps.cancelUpload();
        } else {
            QFAIL(qPrintable(QStringLiteral("unknown event ") + event));
        }
    }
};

} // namespace

void TestProgSteps::eachSequenceOfEventsLeadsToItsStep_data()
{
    QTest::addColumn<QString>("events");
    QTest::addColumn<QString>("status");
    QTest::addColumn<bool>("load");
    QTest::addColumn<bool>("waitRunning");
    QTest::addColumn<int>("waitStarts"); ///< every power-on starts the wait afresh

    const QString ready = QStringLiteral("file page off on wait");
    const QString transfer = ready + QStringLiteral(" upload");
    const QString sent = transfer + QStringLiteral(" sent");
    const auto row = [](const char *name, const QString &events, const QString &status, bool load, bool wait,
                        int starts) { QTest::newRow(name) << events << status << load << wait << starts; };
    row("0→1 no file", QStringLiteral("page"), step1, false, false, 0);
    row("0→2 file, link", QStringLiteral("file page"), step2, false, false, 0);
    row("0→3 link absent at arrival", QStringLiteral("file off page"), step2On, false, false, 0);
    row("1→2 file chosen", QStringLiteral("page file"), step2, false, false, 0);
    row("2→3 switched off", QStringLiteral("file page off"), step2On, false, false, 0);
    row("3→4 switched on: the wait runs and says so", QStringLiteral("file page off on tab"), waiting, false, true, 1);
    row("4→5 the wait ends", ready, step3, true, false, 1);
    row("4→2 'L' during the wait", QStringLiteral("file page off on L"), step2, false, false, 1);
    row("a drop ends the wait, the next power-on waits afresh", QStringLiteral("file page off on off on"), waiting,
        false, true, 2);
    row("the fresh wait must run out, 'L' still counts",
        QStringLiteral("file page off on off on L"), step2, false, false, 2);
    row("no file: steps recorded, text stays", QStringLiteral("page off on"), step1, false, true, 1);
    row("file chosen after the wait", QStringLiteral("page off on wait file"), step3, true, false, 1);
    row("5 off: the loader is forgotten", ready + QStringLiteral(" off"), step2On, false, false, 1);
    row("5 off and on: wait again", ready + QStringLiteral(" off on"), waiting, false, true, 2);
    row("5 off and on, then 'L'", ready + QStringLiteral(" off on L"), step2, false, false, 2);
    row("5 'L': the program runs, not the loader", ready + QStringLiteral(" L"), step2, false, false, 1);
    row("upload refused after 'L'", ready + QStringLiteral(" L upload"), step2, false, false, 1);
    row("tab switch keeps step 3", ready + QStringLiteral(" tab"), step3, true, false, 1);
    row("5→6 upload", transfer, sending, false, false, 1);
    row("6 tab: never 'switch off'", transfer + QStringLiteral(" tab"), sending, false, false, 1);
    row("6→2 cancel", transfer + QStringLiteral(" cancel"), paused, false, false, 1);
    row("6 link lost: cancelled", transfer + QStringLiteral(" off"), cancelled, false, false, 1);
    row("6 link lost, still absent → 3", transfer + QStringLiteral(" off absent"), step2On, false, false, 1);
    row("6 link lost, back → 2", transfer + QStringLiteral(" off on"), step2, false, false, 1);
    row("7 sent: tab keeps 'programming'", sent + QStringLiteral(" tab"), programming, false, false, 1);
    row("7→8 restarting", sent + QStringLiteral(" off"), rebooting, false, false, 1);
    row("8 stays while absent", sent + QStringLiteral(" off absent tab"), rebooting, false, false, 1);
    row("8→9 back: text unchanged", sent + QStringLiteral(" off on tab tab"), rebooting, false, false, 1);
    row("9→2 'L': completed", sent + QStringLiteral(" off on L"), done, false, false, 1);
    row("completed text stays one step", sent + QStringLiteral(" off on L tab"), step2, false, false, 1);
    row("'L' in step 2 changes nothing", QStringLiteral("file page L"), step2, false, false, 0);
    row("'L' while sending changes nothing", transfer + QStringLiteral(" L"), sending, false, false, 1);
    row("'L' after sending, before the restart", sent + QStringLiteral(" L"), programming, false, false, 1);
}

void TestProgSteps::eachSequenceOfEventsLeadsToItsStep()
{
    QFETCH(QString, events);
    QFETCH(QString, status);
    QFETCH(bool, load);
    QFETCH(bool, waitRunning);
    QFETCH(int, waitStarts);
    THarness h;
    for (const QString &event : events.split(QLatin1Char(' ')))
        h.run(event);
    QCOMPARE(h.status, status);
    QCOMPARE(h.load, load);
    QCOMPARE(h.steps.loadEnabled(), load);
    QCOMPARE(h.hint, load ? QStringLiteral("Загрузка программы управления в прибор.")
                          : QStringLiteral("Прибор не готов к загрузке программы управления."));
    QCOMPARE(h.waitRunning, waitRunning);
    QCOMPARE(h.waitStarts, waitStarts);
}

QTEST_GUILESS_MAIN(TestProgSteps)
#include "tst_progsteps.moc"
