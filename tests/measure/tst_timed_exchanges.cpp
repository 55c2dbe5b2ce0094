// The table's and the protocol's exchanges alone, as the line drives them, from a table of
// events: what each sends, which replies it awaits and how, what the status line reads,
// and how it ends.

#include "measure/ODTableExchange.h"
#include "measure/ProtocolExchange.h"

#include <QSignalSpy>
#include <QTest>

namespace {

/// One event the line brings: a reply (with the bytes that came behind it), the line's
/// loss, or the reply's limit passing.
struct TEvent
{
    enum TKind { Reply, Lost, Overdue } kind = Reply;
    QByteArray bytes;
    qsizetype behind = 0;
};
TEvent reply(const QByteArray &bytes, qsizetype behind = 0) { return {TEvent::Reply, bytes, behind}; }
const TEvent lost{TEvent::Lost, {}, 0};
const TEvent overdue{TEvent::Overdue, {}, 0};

/// What an exchange did: the bytes it sent, the texts it showed, how it ended.
struct TLog
{
    QByteArray sent;
    QStringList status;
    QList<bool> ends;
    void watch(TExchange &exchange)
    {
        QObject::connect(&exchange, &TExchange::bytesToSend, [this](const QByteArray &b) { sent += b; });
        QObject::connect(&exchange, &TExchange::statusText, [this](const QString &t) { status << t; });
        QObject::connect(&exchange, &TExchange::finished, [this](bool ok, const QString &why) {
            ends << ok;
            if (!why.isEmpty())
                status << why;
        });
    }
};

void play(TTimedExchange &exchange, const QList<TEvent> &events)
{
    for (const TEvent &event : events) {
        switch (event.kind) {
        case TEvent::Reply:
            // The line hands over only what the exchange awaits.
            if (exchange.awaits(event.bytes.at(0)).awaited)
                exchange.reply(event.bytes.at(0), event.bytes, event.behind);
            break;
        case TEvent::Lost:
            exchange.lineLost();
            break;
        case TEvent::Overdue:
            exchange.ReplyLimit_TimerTimer();
            break;
        }
    }
}

const QByteArray table = 'D' + QByteArray(872, '1');
const QByteArray later = 'D' + QByteArray(872, '2');
const QByteArray name("22011_12_25_7.xls\0\0", 19);

} // namespace

class TestTimedExchanges : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theTable_data();
    void theTable();
    void theProtocol_data();
    void theProtocol();
};

void TestTimedExchanges::theTable_data()
{
    QTest::addColumn<bool>("withName");
    QTest::addColumn<QList<TEvent>>("events");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("lastStatus");
    QTest::addColumn<QList<bool>>("ends");
    QTest::addColumn<int>("names");

    QTest::newRow("table") << false << QList<TEvent>{reply(table)} << QByteArray("G") << QString() << QList<bool>{true} << 0;
    QTest::newRow("table and its name") << true << QList<TEvent>{reply(table), reply(name)} << QByteArray("GD") << QString()
                                        << QList<bool>{true} << 1;
    QTest::newRow("a table late for the press before, then this one's, then the name")
        << true << QList<TEvent>{reply(table), reply(later), reply(name)} << QByteArray("GD") << QString() << QList<bool>{true}
        << 1;
    QTest::newRow("a name before its table is noise")
        << true << QList<TEvent>{reply(name), reply(table), reply(name)} << QByteArray("GD") << QString() << QList<bool>{true} << 1;
    QTest::newRow("table that never comes")
        << false << QList<TEvent>{overdue} << QByteArray("G")
        << QStringLiteral("Прибор не прислал таблицу оптических плотностей. Повторите чтение.") << QList<bool>{false} << 0;
    QTest::newRow("name that never comes")
        << true << QList<TEvent>{reply(table), overdue} << QByteArray("GD")
        << QStringLiteral("Прибор не прислал имя файла: оптические плотности не записаны в файл.") << QList<bool>{false} << 0;
    QTest::newRow("line lost awaiting the table")
        << false << QList<TEvent>{lost} << QByteArray("G")
        << QStringLiteral("Нет связи с прибором: оптические плотности не приняты. Повторите чтение.") << QList<bool>{false} << 0;
    QTest::newRow("line lost awaiting the name")
        << true << QList<TEvent>{reply(table), lost} << QByteArray("GD")
        << QStringLiteral("Оптические плотности не записаны в файл: нет связи с прибором.") << QList<bool>{false} << 0;
    QTest::newRow("nothing after the end") << false << QList<TEvent>{reply(table), lost, overdue, reply(table)}
                                           << QByteArray("G") << QString() << QList<bool>{true} << 0;
}

void TestTimedExchanges::theTable()
{
    QFETCH(bool, withName);
    QFETCH(QList<TEvent>, events);
    TODTableExchange exchange;
    TLog log;
    log.watch(exchange);
    QSignalSpy names(&exchange, &TODTableExchange::nameReceived);
    QSignalSpy tables(&exchange, &TODTableExchange::tableReceived);
    QObject::connect(&exchange, &TODTableExchange::tableReceived, [&] {
        if (withName)
            exchange.requestName();
    });
    exchange.start();
    QVERIFY(exchange.running());
    play(exchange, events);
    QTEST(log.sent, "sent");
    QFETCH(QString, lastStatus);
    QCOMPARE(log.status.isEmpty() ? QString() : log.status.last(), lastStatus);
    QTEST(log.ends, "ends");
    QTEST(int(names.count()), "names");
    QVERIFY(!exchange.running());
    // The table the name is saved with is the last one that came.
    if (names.count() > 0 && tables.count() > 1)
        QCOMPARE(tables.last().at(0).toByteArray(), later);
}

void TestTimedExchanges::theProtocol_data()
{
    QTest::addColumn<QList<TEvent>>("events");
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<QString>("lastStatus");
    QTest::addColumn<QList<bool>>("ends");
    QTest::addColumn<QByteArray>("taken");

    const QByteArray text = "dtwelve byte";
    QTest::newRow("protocol") << QList<TEvent>{reply("N00012"), reply(text)} << QByteArray("gd") << QString()
                              << QList<bool>{true} << text;
    QTest::newRow("length padded with blanks") << QList<TEvent>{reply("N12   "), reply(text)} << QByteArray("gd") << QString()
                                               << QList<bool>{true} << text;
    QTest::newRow("empty protocol") << QList<TEvent>{reply("N00000")} << QByteArray("g") << QString() << QList<bool>{true}
                                    << QByteArray();
    QTest::newRow("length that is no number")
        << QList<TEvent>{reply("N12a45")} << QByteArray("g")
        << QStringLiteral("Прибор прислал вместо длины протокола \"12a45\". Повторите чтение.") << QList<bool>{false} << QByteArray();
    QTest::newRow("bytes behind the protocol")
        << QList<TEvent>{reply("N00012"), reply(text, 2)} << QByteArray("gd")
        << QStringLiteral("Протокол принят с искажением (лишние байты на линии). Повторите чтение.") << QList<bool>{false}
        << QByteArray();
    QTest::newRow("protocol that stops short")
        << QList<TEvent>{reply("N00012"), overdue} << QByteArray("gd")
        << QStringLiteral("Прибор не прислал протокол результатов. Повторите чтение.") << QList<bool>{false} << QByteArray();
    QTest::newRow("line lost") << QList<TEvent>{reply("N00012"), lost} << QByteArray("gd")
                               << QStringLiteral("Нет связи с прибором: протокол результатов не принят. Повторите чтение.")
                               << QList<bool>{false} << QByteArray();
}

void TestTimedExchanges::theProtocol()
{
    QFETCH(QList<TEvent>, events);
    TProtocolExchange exchange;
    TLog log;
    log.watch(exchange);
    QByteArray taken;
    QObject::connect(&exchange, &TProtocolExchange::protocolReceived, [&taken](const QByteArray &b) { taken = b; });
    exchange.start();
    // The protocol is awaited at its announced length and heard out before it is handed over.
    QObject::connect(&exchange, &TExchange::bytesToSend, [&exchange](const QByteArray &bytes) {
        if (bytes == "d") {
            const TAwaited text = exchange.awaits('d');
            QVERIFY(text.awaited && text.settled && text.announcedLength == 12);
        }
    });
    play(exchange, events);
    QTEST(log.sent, "sent");
    QFETCH(QString, lastStatus);
    QCOMPARE(log.status.isEmpty() ? QString() : log.status.last(), lastStatus);
    QTEST(log.ends, "ends");
    QTEST(taken, "taken");
    QVERIFY(!exchange.running());
}

QTEST_GUILESS_MAIN(TestTimedExchanges)
#include "tst_timed_exchanges.moc"
