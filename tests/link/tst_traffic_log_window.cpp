// The window "Журнал обмена": it listens to the serial control only while it is open,
// and saves the lines its filter shows as UTF-8 text through the program's dialogs.

#include "link/CommError.h"
#include "link/TMSComm.h"
#include "link/TrafficLogWindow.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/ScriptedDialogs.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

class TestTrafficLogWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void listensWhileOpenAndSavesWhatItShows();
};

void TestTrafficLogWindow::listensWhileOpenAndSavesWhatItShows()
{
    TVirtualInstrument instrument;
    TVirtualBackend *backend = new TVirtualBackend(&instrument);
    TMSComm comm(backend);
    comm.setPortOpen(true);
    TScriptedDialogs dialogs;
    TTrafficLogWindow window(&comm, &dialogs);
    QVERIFY(!comm.trafficTap());

    window.show();
    QCOMPARE(comm.trafficTap(), &window.log());
    comm.setOutput(QByteArrayLiteral("B"));
    QVERIFY_THROWS_EXCEPTION(TCommError, comm.setInBufferCount(5)); // an error line
    window.close();
    QVERIFY(!comm.trafficTap());
    comm.setOutput(QByteArrayLiteral("G")); // not heard
    QTRY_COMPARE(window.shownLineCount(), 4); // opened, probe, error, closed

    window.setFilter(TTrafficFilter::Errors);
    QCOMPARE(window.shownLineCount(), 1);

    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("журнал"));
    dialogs.answerFile(path);
    window.setFilter(TTrafficFilter::All);
    window.saveToFile();
    QFile file(path + QStringLiteral(".txt"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QString saved = QString::fromUtf8(file.readAll());
    QCOMPARE(saved.count(QLatin1Char('\n')), 4);
    QVERIFY(saved.simplified().contains(QStringLiteral("→ прибор 9600 1 байт 'B' проба 42 |B|")));
    QVERIFY(saved.contains(QStringLiteral("ОШИБКА    Ошибка порта: Недопустимое значение InBufferCount.")));
    QVERIFY(!saved.contains(QStringLiteral("'G'")));

    // A file that cannot be written goes to the error box.
    dialogs.answerFile(folder.filePath(QStringLiteral("нет/журнал.txt")));
    window.saveToFile();
    QCOMPARE(dialogs.errors.size(), 1);
}

QTEST_MAIN(TestTrafficLogWindow)
#include "tst_traffic_log_window.moc"
