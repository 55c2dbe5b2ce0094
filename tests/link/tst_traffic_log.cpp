// The traffic log: what crosses the line through the serial control reaches it only
// while it listens, one line per reply or write, named where the bytes' shape fits,
// kept within its bound, held back while paused.

#include "link/TMSComm.h"
#include "link/TrafficLog.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"

#include <QRegularExpression>
#include <QTest>

namespace {
/// The lines of the log that match `pattern` (blanks in it stand for any run of blanks).
QStringList linesWith(const TTrafficLog &log, QString pattern)
{
    const QRegularExpression expression(
        QRegularExpression::escape(pattern).replace(QStringLiteral("\\ "), QStringLiteral(" ")).replace(
            QRegularExpression(QStringLiteral(" +")), QStringLiteral("\\s+")));
    QStringList found;
    for (const TTrafficLine &line : log.lines())
        if (line.text.contains(expression))
            found << line.text;
    return found;
}

QByteArray uploadLength(quint32 fileLength)
{
    const quint32 field = fileLength + 6; // the loader counts six bytes more than the file
    return QByteArray(1, char(field & 0xFF)) + char((field >> 8) & 0xFF) + char((field >> 16) & 0xFF)
           + char(field >> 24);
}
} // namespace

class TestTrafficLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theControlTellsTheLogOnlyWhileItListens();
    void burstsArePartedAtRepliesAndNamedByTheirShape();
    void theLogStaysBoundedAndPauseHoldsLinesBack();
};

void TestTrafficLog::theControlTellsTheLogOnlyWhileItListens()
{
    TVirtualInstrument instrument;
    instrument.setSpeedIndex(5);
    auto *backend = new TVirtualBackend(&instrument);
    TMSComm comm(backend);
    QByteArray received;
    connect(&comm, &TMSComm::OnComm, this, [&] {
        if (comm.InBufferCount() > 0)
            received += comm.Input();
    });
    TTrafficLog log;
    comm.setTrafficTap(&log);
    comm.setSettings(QStringLiteral("115200,n,8,1"));
    comm.setPortOpen(true);

    // A probe and its answer, then the table of densities, which arrives in many pieces.
    comm.setOutput(QByteArrayLiteral("B"));
    QTRY_COMPARE(received, QByteArrayLiteral("B"));
    comm.setOutput(QByteArrayLiteral("G"));
    QTRY_COMPARE(received.size(), 1 + 873);
    log.flush();

    QCOMPARE(linesWith(log, QStringLiteral("Порт открыт: COM1")).size(), 1);
    QCOMPARE(linesWith(log, QStringLiteral("115200 1 байт 'B' проба 42 |B|")).size(), 1);
    const QStringList probeAnswers = linesWith(log, QStringLiteral("← прибор 115200 1 байт 'B' контакт"));
    QCOMPARE(probeAnswers.size(), 1);
    QCOMPARE(linesWith(log, QStringLiteral("→ прибор 115200 1 байт 'G' запрос таблицы ОП 47 |G|")).size(), 1);
    // The whole table is one line: its first and last sixteen bytes and its length.
    const QStringList tables = linesWith(log, QStringLiteral("'D' таблица ОП"));
    QCOMPARE(tables.size(), 1);
    QVERIFY2(tables.first().contains(QStringLiteral("873 байт")), qPrintable(tables.first()));
    const QByteArray table = received.mid(1);
    const QString ends = QString::fromLatin1(table.left(16).toHex(' ').toUpper()) + QStringLiteral(" … ")
                         + QString::fromLatin1(table.right(16).toHex(' ').toUpper());
    QVERIFY2(tables.first().contains(ends), qPrintable(tables.first()));
    QCOMPARE(linesWith(log, QStringLiteral("← прибор")).size(), 2);

    // Closed, the log hears nothing more.
    comm.setTrafficTap(nullptr);
    const size_t before = log.lines().size();
    comm.setOutput(QByteArrayLiteral("B"));
    QTRY_COMPARE(received.size(), 1 + 873 + 1);
    log.flush();
    QCOMPARE(log.lines().size(), before);
}

void TestTrafficLog::burstsArePartedAtRepliesAndNamedByTheirShape()
{
    qint64 now = 1000;
    TTrafficLog log(nullptr, [&now] { return now; });

    // A notice with a table right behind it, the table's rest in pieces: two lines.
    QByteArray table("D");
    for (int i = 1; i < 873; ++i)
        table += char('0' + i % 10);
    log.bytesReceived("G" + table.left(100), 115200, false);
    for (int from = 100; from < 873; from += 300) {
        now += 5;
        log.bytesReceived(table.mid(from, 300), 115200, false);
    }
    // A protocol is as long as its 'N' announced; a probe answer behind it is its own.
    const QByteArray protocol = QByteArray("d") + "\xCF\xF0\xEE\xF2\x01" + "abcde" + char(0x7E);
    log.bytesReceived("N00012", 115200, false);
    now += 10;
    log.bytesReceived(protocol.left(4), 115200, false);
    now += 10;
    log.bytesReceived(protocol.mid(4) + "B", 115200, false);
    // Bytes of no reply end only after a quiet spell.
    now += 5;
    log.bytesReceived("xyz", 9600, false);
    log.flush();
    QCOMPARE(linesWith(log, QStringLiteral("xyz")).size(), 0);
    now += TTrafficLog::quietGapMs;
    log.flush();

    QStringList received;
    for (const TTrafficLine &line : log.lines())
        received << line.text.mid(line.text.indexOf(QStringLiteral("байт")));
    QCOMPARE(received.size(), 6);
    QVERIFY(received[0].simplified().startsWith(QStringLiteral("байт 'G' ОП измерены 47 |G|")));
    QVERIFY2(received[1].contains(QStringLiteral("'D' таблица ОП")), qPrintable(received[1]));
    QVERIFY(log.lines()[1].text.contains(QStringLiteral("873 байт")));
    QVERIFY(received[2].contains(QStringLiteral("'N' длина протокола")));
    // Code page 1251 as text, a control byte as a dot.
    QVERIFY2(received[3].contains(QStringLiteral("'d' протокол")) && received[3].contains(QStringLiteral("|dПрот.abcde~|")),
             qPrintable(received[3]));
    QVERIFY(received[4].contains(QStringLiteral("'B' контакт")));
    QVERIFY(received[5].contains(QStringLiteral("|xyz|")) && log.lines()[5].text.contains(QStringLiteral("  9600  ")));
    QVERIFY(!log.lines()[5].command);

    // An upload is followed from its start: no chunk or checksum is taken for a command.
    log.clear();
    QByteArray chunk = "B" + QByteArray(59, char(0x90));
    log.bytesSent(QByteArray("U\xAA"), 115200);
    log.bytesSent(uploadLength(100), 115200);
    log.bytesSent(chunk, 115200);
    log.bytesSent(QByteArray(40, 'G'), 115200);
    log.bytesSent(QByteArray("b\x01"), 115200);
    log.bytesSent(QByteArray("b\x05"), 115200);
    log.flush();
    QStringList sent;
    for (const TTrafficLine &line : log.lines())
        sent << line.text;
    QCOMPARE(sent.size(), 6);
    QVERIFY(sent[0].contains(QStringLiteral("'U' начало загрузки программы")) && log.lines()[0].command);
    QVERIFY(sent[1].contains(QStringLiteral("длина программы: 100 байт")));
    QVERIFY2(sent[2].contains(QStringLiteral("60 байт")) && sent[2].contains(QStringLiteral("байты 1–60 из 100"))
                 && sent[2].contains(QStringLiteral("42 90 90 90 90 90 90 90 90 90 90 90 90 90 90 90 … 90")),
             qPrintable(sent[2]));
    QVERIFY(!sent[2].contains(QStringLiteral("проба")) && !log.lines()[2].command);
    QVERIFY(sent[3].contains(QStringLiteral("байты 61–100 из 100")));
    QVERIFY(sent[4].contains(QStringLiteral("контрольная сумма программы")));
    QVERIFY(sent[5].contains(QStringLiteral("'b' смена скорости на 115200")) && log.lines()[5].command);
}

void TestTrafficLog::theLogStaysBoundedAndPauseHoldsLinesBack()
{
    qint64 now = 0;
    TTrafficLog log(nullptr, [&now] { return now; });
    log.lineEvent(TLineEvent::LinkLost, QString());
    log.bytesSent(QByteArrayLiteral("R"), 115200);
    log.bytesSent(QByteArray(700, 'x'), 115200);
    log.flush();
    QCOMPARE(log.rowCount(), 3);
    QCOMPARE(log.text(TTrafficFilter::Errors).count(QLatin1Char('\n')), 1);
    QVERIFY(log.text(TTrafficFilter::Errors).contains(QStringLiteral("ОШИБКА    Нет связи с прибором")));
    QCOMPARE(log.text(TTrafficFilter::Commands).count(QLatin1Char('\n')), 1);
    QVERIFY(log.text(TTrafficFilter::Commands).contains(QStringLiteral("'R' запрос числа страниц БД")));

    // Paused, lines are recorded and saved but not shown until the pause ends.
    log.setPaused(true);
    log.bytesSent(QByteArrayLiteral("r"), 115200);
    log.flush();
    QCOMPARE(log.rowCount(), 3);
    QCOMPARE(log.heldBackCount(), 1);
    QCOMPARE(log.text(TTrafficFilter::All).count(QLatin1Char('\n')), 4);
    log.setPaused(false);
    QCOMPARE(log.rowCount(), 4);

    // A flood of writes: the oldest lines go, and the text kept stays within its bound.
    for (int i = 0; i < 20000; ++i) {
        ++now;
        log.bytesSent(QByteArray::number(i).rightJustified(40, 'y'), 115200);
    }
    log.flush();
    qint64 chars = 0;
    for (const TTrafficLine &line : log.lines())
        chars += line.text.size() + 1;
    QVERIFY(chars <= TTrafficLog::maxTextChars);
    QVERIFY(chars > TTrafficLog::maxTextChars * 9 / 10);
    QVERIFY(!log.text(TTrafficFilter::All).contains(QStringLiteral("Нет связи")));
    QVERIFY(log.lines().back().text.contains(QStringLiteral("19999|")));

    log.clear();
    QCOMPARE(log.rowCount(), 0);
    QVERIFY(log.text(TTrafficFilter::All).isEmpty());
}

QTEST_GUILESS_MAIN(TestTrafficLog)
#include "tst_traffic_log.moc"
