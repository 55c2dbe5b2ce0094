// The results page on the virtual instrument: the protocol fetched by its announced
// length, the working file, the memo, and the saves under a chosen or automatic name.

#include "link/LinkControl.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "measure/MeasureData.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

/// A protocol of the instrument whose name field holds `field`, padded with blanks.
QByteArray protocolWithField(const QByteArray &field)
{
    QByteArray text = TInstrumentMeasurements::sampleProtocol(15, QDate(2011, 12, 25), {});
    return text.replace(92, 20, field.leftJustified(20, ' '));
}

/// A rig whose instrument stays silent: the test brings every reply itself.
struct TSilentRig : TVirtualRig
{
    TSilentRig()
    {
        instrument.addCommand(std::make_unique<TSilence>('g'));
        instrument.addCommand(std::make_unique<TSilence>('d'));
    }
    struct TSilence final : TInstrumentCommand
    {
        explicit TSilence(char code) : m_code(code) {}
        char code() const override { return m_code; }
        void execute(TVirtualInstrument &, const QByteArray &) override {}
        char m_code;
    };

};
} // namespace

class TestResultPage : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void theProtocolThroughTheInstrumentIsShownKeptAndSaved();
    void theAnnouncedLengthDecidesWhatIsRequestedAndTaken();
    void automaticSavingNamesTheFileByNumberAndDate();
    void aProtocolThatNeverComesFreesTheLineForTheRequestsThatWaited();
};

void TestResultPage::theProtocolThroughTheInstrumentIsShownKeptAndSaved()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    const QByteArray text = measurementsOf(rig.instrument)->protocolText();
    QCOMPARE(text.mid(92, 20), QByteArray("15 \xEE\xF2 25.12.11      "));

    QVERIFY(rig.fetchProtocol(text));
    QCOMPARE(rig.takeWritten(), QByteArray("gd"));
    const QString workFile = w.programFolder() + QStringLiteral("MSTempProtokol.txt");
    QCOMPARE(fileBytes(workFile), text);
    const QString shown = w.resultPage->Memo1->toPlainText();
    QVERIFY(shown.startsWith(QStringLiteral("Анализатор ИФА ТАВЕЛОН\nКлинико-")));
    QVERIFY(shown.contains(QStringLiteral("Протокол № 15 от 25.12.11")));
    QVERIFY(!shown.contains(QLatin1Char('\r')));
    QVERIFY(w.resultPage->btnSaveProtokol->isEnabled());
    QCOMPARE(QDir(w.programFolder()).entryList(QDir::Files), QStringList{QStringLiteral("MSTempProtokol.txt")});

    // The screen cleared, the save still writes the whole protocol from the working file.
    QTest::mouseClick(w.resultPage->btnClrMemo1, Qt::LeftButton);
    QVERIFY(w.resultPage->Memo1->toPlainText().isEmpty());
    rig.dialogs.answerFile(w.programFolder() + QStringLiteral("protocol"));
    QTest::mouseClick(w.resultPage->btnSaveProtokol, Qt::LeftButton);
    QCOMPARE(fileBytes(w.programFolder() + QStringLiteral("protocol.txt")), text);
    QCOMPARE(w.statusText(), QStringLiteral("Данные записаны в файл."));

    // With automatic reception and saving, the instrument's notice fetches the next
    // protocol and saves it.
    QTest::mouseClick(w.resultPage->chckAutoReadRes, Qt::LeftButton);
    QTest::mouseClick(w.resultPage->chckAutoSaveRes, Qt::LeftButton);
    TInstrumentMeasurements &results = *measurementsOf(rig.instrument);
    results.finishResults();
    QVERIFY(rig.waitLineIdle());
    QCOMPARE(rig.takeWritten(), QByteArray("gd"));
    QTRY_VERIFY(w.resultPage->Memo1->toPlainText().contains(QStringLiteral("Протокол № 16 от 25.12.11")));
    QVERIFY(w.statusText().startsWith(QStringLiteral("Протокол записан в файл: 2011_12_25 Pr №16")));
    QVERIFY(QFile::exists(rig.documentsFolder() + QStringLiteral("/2011_12_25 Pr №16")));

    // A noisy cable: one byte more anywhere in the protocol pushes its last bytes out
    // behind it. It is neither shown nor kept nor saved, and the status line says to
    // read it again; a notice right behind a clean protocol is still heard.
    const QStringList filesBefore = QDir(rig.documentsFolder()).entryList(QDir::Files);
    const QString shownBefore = w.resultPage->Memo1->toPlainText();
    for (const int at : {1, 93, 100, int(text.size()) - 1, int(text.size())}) {
        results.finishResults(); // its notice fetches it
        const QByteArray clean = results.protocolText();
        rig.instrument.addCommand({'d', 0, [clean, at](TVirtualInstrument &device, const QByteArray &) {
                                       device.send(QByteArray('d' + clean + '\x7F').insert(at, 'Z'));
                                   }});
        QVERIFY(rig.waitLineIdle());
        QTRY_VERIFY2(w.statusText() == QStringLiteral("Протокол принят с искажением (лишние байты на линии). "
                                                      "Повторите чтение."),
                     qPrintable(QStringLiteral("at %1: %2").arg(at).arg(w.statusText())));
        QCOMPARE(QDir(rig.documentsFolder()).entryList(QDir::Files), filesBefore);
        QCOMPARE(w.resultPage->Memo1->toPlainText(), shownBefore);
    }
    rig.instrument.addCommand({'d', 0, [&results](TVirtualInstrument &device, const QByteArray &) {
                                   device.send('d' + results.protocolText() + '\x7F' + 'G');
                               }});
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QVERIFY(rig.waitLineIdle());
    QTRY_VERIFY(w.statusText().startsWith(QStringLiteral("Протокол записан в файл: ")));
    QVERIFY(rig.dialogs.errors.isEmpty());
}

void TestResultPage::theAnnouncedLengthDecidesWhatIsRequestedAndTaken()
{
    TSilentRig rig;
    auto &w = *rig.window;
    const QString workFile = w.programFolder() + QStringLiteral("MSTempProtokol.txt");
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));

    rig.backend->injectReceived("N01234");
    QCOMPARE(rig.takeWritten(), QByteArray("d"));
    QByteArray reply('d' + QByteArray(1232, 'x') + 'z');
    reply[1] = '\xCF';
    rig.backend->injectReceived(reply.left(1000));
    QVERIFY(!QFile::exists(workFile));
    rig.backend->injectReceived(reply.mid(1000));
    QTRY_COMPARE(fileBytes(workFile), reply.mid(1, 1232));
    QVERIFY(w.line->ReceiveIdle());

    // A length or a protocol nobody asked for is dropped and requests nothing.
    rig.backend->injectReceived("N00012");
    rig.backend->injectReceived("d0123456789z");
    QVERIFY(rig.takeWritten().isEmpty());
    QCOMPARE(fileBytes(workFile), reply.mid(1, 1232));

    // Nothing to fetch: a length of 0, or below it.
    for (const QByteArray &nothing : {QByteArray("N00000"), QByteArray("N-0012"), QByteArray("N  -12")}) {
        QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
        QCOMPARE(rig.takeWritten(), QByteArray("g"));
        rig.backend->injectReceived(nothing);
        QVERIFY2(rig.takeWritten().isEmpty(), nothing.constData());
        QVERIFY(w.line->ReceiveIdle());
    }

    // Length 2: an empty protocol empties the working file and the memo.
    QVERIFY(!w.resultPage->Memo1->toPlainText().isEmpty());
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    rig.backend->injectReceived("N00002");
    QCOMPARE(rig.takeWritten(), QByteArray("d"));
    rig.backend->injectReceived("d\x01");
    QTRY_COMPARE(fileBytes(workFile), QByteArray());
    QVERIFY(w.resultPage->Memo1->toPlainText().isEmpty());

    // A length printed into its five places with blanks before or after its digits.
    for (const QByteArray &padded : {QByteArray("N   12"), QByteArray("N12   "), QByteArray("N 12  ")}) {
        QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
        QCOMPARE(rig.takeWritten(), QByteArray("g"));
        rig.backend->injectReceived(padded);
        QVERIFY2(rig.takeWritten() == "d", padded.constData());
        rig.backend->injectReceived("d0123456789z");
        QTRY_COMPARE(fileBytes(workFile), QByteArray("0123456789"));
        QVERIFY(QFile::remove(workFile));
    }

    // A length that is no number came from the line: the status line says so and asks
    // for another reading, with no error box; the reply is gone, so a notice that came
    // right behind it is still heard.
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    rig.backend->injectReceived("N12a45");
    QCOMPARE(w.statusText(), QStringLiteral("Прибор прислал вместо длины протокола \"12a45\". Повторите чтение."));
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    rig.backend->injectReceived("N1 2  "); // a blank inside the number is no padding
    QCOMPARE(w.statusText(), QStringLiteral("Прибор прислал вместо длины протокола \"1 2  \". Повторите чтение."));
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    rig.backend->injectReceived("N\x01\x02\x03\x04\x05g");
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    QCOMPARE(w.statusText(), QStringLiteral("Результаты измерений готовы"));
    QVERIFY(rig.dialogs.errors.isEmpty());
    QVERIFY(w.line->ReceiveIdle());
}

void TestResultPage::automaticSavingNamesTheFileByNumberAndDate()
{
    TVirtualRig rig;
    auto &w = *rig.window;
    w.resultPage->chckAutoSaveRes->setChecked(true);
    // Saved among the user's documents, where they are found again; the working file
    // stays in the working folder.
    const QString folder = rig.documentsFolder() + QLatin1Char('/');
    const QString said = QStringLiteral(" (папка %1)").arg(QDir::toNativeSeparators(rig.documentsFolder()));

    const QByteArray first = protocolWithField("15 \xEE\xF2 25.12.11");
    QVERIFY(rig.fetchProtocol(first));
    const QString name = QStringLiteral("2011_12_25 Pr №15");
    QCOMPARE(fileBytes(folder + name), first);
    QCOMPARE(w.resultPage->protocolFileName, name);
    QCOMPARE(w.statusText(), QStringLiteral("Протокол записан в файл: ") + name + said);

    // The same number and date again: the file is replaced without a question.
    QByteArray second = first;
    second.append("\r\nagain");
    QVERIFY(rig.fetchProtocol(second));
    QCOMPARE(fileBytes(folder + name), second);

    QVERIFY(rig.fetchProtocol(protocolWithField("N15   25.12.11")));
    QVERIFY(QFile::exists(folder + QStringLiteral("2011_12_25 Pr №")));

    // A protocol ending inside the field: the missing bytes are blanks.
    QVERIFY(rig.fetchProtocol(first.left(92) + "7 \xEE\xF2 01.02.1"));
    QVERIFY(QFile::exists(folder + QStringLiteral("201 _02_01 Pr №7")));

    // A number that would lead out of the folder: refused, the protocol still shown.
    const QStringList before = QDir(folder).entryList(QDir::Files);
    const QByteArray sneaky = protocolWithField("../../x \xEE\xF2 25.12.11");
    QVERIFY(rig.fetchProtocol(sneaky));
    QCOMPARE(rig.dialogs.errors.size(), 1);
    QVERIFY(rig.dialogs.errors.at(0).contains(QStringLiteral("недопустимое имя файла")));
    QCOMPARE(QDir(folder).entryList(QDir::Files), before);
    QCOMPARE(fileBytes(w.programFolder() + QStringLiteral("MSTempProtokol.txt")), sneaky);
    QVERIFY(w.resultPage->Memo1->toPlainText().contains(QStringLiteral("../../x от")));

    // A working file that cannot be written has its message, and the automatic save
    // still happens from the protocol in memory.
    QVERIFY(QFile::remove(w.programFolder() + QStringLiteral("MSTempProtokol.txt")));
    QVERIFY(QDir(w.programFolder()).mkdir(QStringLiteral("MSTempProtokol.txt")));
    QFile::remove(folder + name);
    QVERIFY(rig.fetchProtocol(first));
    QCOMPARE(rig.dialogs.errors.size(), 2);
    QVERIFY(rig.dialogs.errors.at(1).contains(QStringLiteral("MSTempProtokol.txt")));
    QCOMPARE(fileBytes(folder + name), first);
    QCOMPARE(w.statusText(), QStringLiteral("Протокол записан в файл: ") + name + said);
}

void TestResultPage::aProtocolThatNeverComesFreesTheLineForTheRequestsThatWaited()
{
    TSilentRig rig;
    rig.instrument.addCommand(std::make_unique<TSilentRig::TSilence>('G'));
    auto &w = *rig.window;
    QTest::mouseClick(w.resultPage->chckAutoReadRes, Qt::LeftButton);
    QTest::mouseClick(w.readerPage->chckAutoReadOP, Qt::LeftButton);
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    rig.backend->injectReceived("N00100");
    QCOMPARE(rig.takeWritten(), QByteArray("gd"));

    // Meanwhile every request waits, the buttons' and the notices' alike.
    const QString busy = QStringLiteral("Идет прием протокола результатов. Дождитесь его окончания.");
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(w.statusText(), busy);
    QTest::mouseClick(w.readerPage->btnReadOP, Qt::LeftButton);
    QCOMPARE(w.statusText(), QStringLiteral("Идет прием протокола результатов. Запрос будет выполнен после его окончания."));
    rig.backend->injectReceived("G");
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности измерены"));
    rig.backend->injectReceived("g");
    QCOMPARE(w.statusText(), QStringLiteral("Результаты измерений готовы"));
    rig.backend->injectReceived("d0123"); // the protocol begins, and stops
    QVERIFY(rig.takeWritten().isEmpty());

    // Past its limit the status line says once that it did not come; the line is free,
    // the table that waited is fetched, and then the protocol asked for again.
    QTRY_COMPARE_WITH_TIMEOUT(w.statusText(), QStringLiteral("Прибор не прислал протокол результатов. Повторите чтение."),
                              5000);
    QTRY_COMPARE(rig.backend->written(), QByteArray("G"));
    QCOMPARE(w.statusText(), QStringLiteral("Прибор не прислал протокол результатов. Повторите чтение."));
    rig.backend->injectReceived(measurementsOf(rig.instrument)->tableReply());
    QCOMPARE(w.statusText(), QStringLiteral("Оптические плотности приняты"));
    QTRY_COMPARE(rig.backend->written(), QByteArray("Gg"));
    rig.takeWritten();
    rig.backend->injectReceived("N00012");
    QCOMPARE(rig.takeWritten(), QByteArray("d"));
    rig.backend->injectReceived("dwhole text\x7F");
    QTRY_COMPARE(w.resultPage->Memo1->toPlainText(), QStringLiteral("whole text"));

    // A line lost while a protocol is awaited frees the line at once.
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    rig.instrument.setPowered(false);
    rig.instrument.setPowered(true);
    QTest::mouseClick(w.resultPage->btnReadProtokol, Qt::LeftButton);
    QCOMPARE(rig.takeWritten(), QByteArray("g"));
    QVERIFY(rig.dialogs.errors.isEmpty());
}

QTEST_MAIN(TestResultPage)
#include "tst_resultpage.moc"
