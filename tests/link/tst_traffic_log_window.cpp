// The window "Журнал обмена": it listens to the serial control only while it is open,
// and saves the lines its filter shows as UTF-8 text through the program's dialogs.
// Paused, it holds back no more text than it keeps shown.

#include "link/CommError.h"
#include "link/TMSComm.h"
#include "link/TrafficLogWindow.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/ScriptedDialogs.h"

#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

namespace {
QPushButton *button(const QWidget &window, const QString &caption)
{
    for (QPushButton *candidate : window.findChildren<QPushButton *>())
        if (candidate->text() == caption)
            return candidate;
    return nullptr;
}
} // namespace

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

    // Paused over a long exchange, the log holds back no more than it would show: the
    // newest lines, within the same bound, all of them saved and shown on "Продолжить".
    window.show();
    QPushButton *pause = button(window, QStringLiteral("Пауза"));
    QVERIFY(pause);
    QTest::mouseClick(pause, Qt::LeftButton);
    const int shownBefore = window.shownLineCount();
    const QByteArray burst(60, 'x');
    const int sends = 20000; // about 200 characters a line: four times the bound
    for (int i = 0; i < sends; ++i) {
        const QByteArray marker = "#" + QByteArray::number(i) + "#";
        comm.setOutput(marker + burst + marker);
    }
    const QByteArray last = "#" + QByteArray::number(sends - 1) + "#";
    QCoreApplication::processEvents();
    QCOMPARE(window.shownLineCount(), shownBefore);
    QVERIFY(window.log().heldBackCount() > 0);
    dialogs.answerFile(folder.filePath(QStringLiteral("пауза.txt")));
    QTest::mouseClick(button(window, QStringLiteral("Сохранить в файл")), Qt::LeftButton);
    QFile pausedFile(folder.filePath(QStringLiteral("пауза.txt")));
    QVERIFY(pausedFile.open(QIODevice::ReadOnly));
    const QString held = QString::fromUtf8(pausedFile.readAll());
    QVERIFY2(held.size() <= TTrafficLog::maxTextChars + 4096, qPrintable(QString::number(held.size())));
    QVERIFY(held.contains(QLatin1String(last)));
    QVERIFY(!held.contains(QLatin1String("#0#")));

    QTest::mouseClick(button(window, QStringLiteral("Продолжить")), Qt::LeftButton);
    QTRY_VERIFY(window.shownLineCount() > shownBefore);
    QCOMPARE(window.log().heldBackCount(), 0);
    QVERIFY(window.log().text(TTrafficFilter::All).contains(QLatin1String(last)));
    QVERIFY(window.log().text(TTrafficFilter::All).size() <= TTrafficLog::maxTextChars);
}

QTEST_MAIN(TestTrafficLogWindow)
#include "tst_traffic_log_window.moc"
