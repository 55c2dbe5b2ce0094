// The LIS's two messages of a demo run, read back the way a LIS reads them: records and
// segments split on the delimiters the header declares, escapes undone, every field the
// program writes compared with the run's analysis, the LIS1-A frames taken apart with
// their checksums summed again; then an ID holding every delimiter, and a run whose
// controls fail.

#include "analysis/LisMessages.h"
#include "measure/MeasureData.h"
#include "measure/PlateWorkbook.h"
#include "sim/VirtualInstrument.h"
#include "sim/commands/MeasureCommands.h"

#include <QRegularExpression>
#include <QSet>
#include <QTest>

using namespace analysis;

namespace {

const QString oddId = QStringLiteral("Q|1^2&3\\4~5");
const QDateTime readAt(QDate(2011, 12, 25), QTime(10, 15, 30));
const QDateTime writtenAt(QDate(2026, 12, 8), QTime(7, 1, 2, 345));

/// The demo instrument's plate under the demo's layout, sample "2" renamed to an ID
/// with every delimiter, sample "3" diluted 1:10.
TAnalysis demoAnalysis(double positiveMin = 1.0)
{
    TVirtualInstrument instrument;
    installMeasureCommands(instrument);
    const auto values = od::tableValues(' ' + measurementsOf(instrument)->tableReply().mid(1));
    TPlateOd od{};
    for (int i = 0; i < wellCount; ++i)
        od[size_t(i)] = plate::opticalDensity(values[size_t(i)]);
    TPlateLayout layout = *layoutFromJson(TInstrumentMeasurements::sampleLayout(), nullptr);
    for (TWell &well : layout.wells) {
        if (well.id == QLatin1String("2"))
            well.id = oddId;
        if (well.id == QLatin1String("3"))
            well.dilution = 10;
    }
    TAnalysisSettings settings;
    settings.cutoffValue = 0.2;
    settings.negativeMax = 0.2;
    settings.positiveMin = positiveMin;
    settings.unit = QStringLiteral("МЕ/мл");
    return analysePlate(od, layout, settings);
}

TLisRun demoRun()
{
    TLisRun run;
    run.identity.instrumentFile = QStringLiteral("2011_12_25_0001.xls");
    run.identity.readAt = readAt;
    run.identity.operatorName = QStringLiteral("Иванова^А.");
    run.identity.testSystem = QStringLiteral("ИФА-демо");
    run.writtenAt = writtenAt;
    run.version = QStringLiteral("2008.6.6");
    return run;
}

/// Records (or segments) ended by CR, split into fields on '|'; field n is at n − 1.
QList<QStringList> splitRecords(const QByteArray &bytes)
{
    QList<QStringList> records;
    if (!bytes.endsWith('\r') || bytes.contains('\n'))
        return records;
    for (const QByteArray &line : bytes.chopped(1).split('\r'))
        records << QString::fromUtf8(line).split(QLatin1Char('|'));
    return records;
}

/// A field's text with its escapes undone: `open` and `close` around a letter.
QString unescape(const QString &field, QChar mark, const QMap<QChar, QChar> &letters)
{
    QString text;
    for (int i = 0; i < field.size(); ++i) {
        if (field[i] == mark && i + 2 < field.size() && field[i + 2] == mark && letters.contains(field[i + 1])) {
            text += letters[field[i + 1]];
            i += 2;
        } else {
            text += field[i];
        }
    }
    return text;
}
QString astmText(const QString &field)
{
    return unescape(field, u'&', {{u'F', u'|'}, {u'S', u'^'}, {u'R', u'\\'}, {u'E', u'&'}});
}
QString hl7Text(const QString &field)
{
    return unescape(field, u'\\', {{u'F', u'|'}, {u'S', u'^'}, {u'T', u'&'}, {u'R', u'~'}, {u'E', u'\\'}});
}

QString types(const QList<QStringList> &records)
{
    QStringList out;
    for (const QStringList &record : records)
        out << record[0];
    return out.join(QLatin1Char(' '));
}

/// The records inside LIS1-A frames, each frame checked on the way: STX, the number
/// that follows the last one's modulo 8, at most 240 characters, ETB or ETX, the sum
/// of the bytes from the number to ETB/ETX as two upper-case hex digits, CR LF.
QByteArray deframe(const QByteArray &frames, QStringList &faults, int *frameCount = nullptr)
{
    QByteArray records;
    int expected = 1, count = 0;
    for (qsizetype at = 0; at < frames.size(); ++count) {
        const qsizetype end = frames.indexOf("\r\n", at);
        if (frames[at] != '\x02' || end < at + 5) {
            faults << QStringLiteral("frame %1 is no frame").arg(count);
            break;
        }
        const QByteArray frame = frames.mid(at + 1, end - at - 1); // number … checksum
        const QByteArray body = frame.chopped(2), checksum = frame.right(2);
        quint8 sum = 0;
        for (const char byte : body)
            sum = quint8(sum + quint8(byte));
        if (checksum != QByteArray::number(sum, 16).rightJustified(2, '0').toUpper())
            faults << QStringLiteral("frame %1: checksum %2, summed %3").arg(count).arg(checksum).arg(sum, 2, 16);
        if (body[0] != char('0' + expected))
            faults << QStringLiteral("frame %1 numbered %2").arg(count).arg(body[0]);
        const char last = body.back();
        const QByteArray text = body.mid(1).chopped(1);
        if ((last != '\x03' && last != '\x17') || text.size() > 240)
            faults << QStringLiteral("frame %1 ends badly or is too long").arg(count);
        // A record ends with the frame that carries its CR, and only that frame ends it.
        if ((last == '\x03') != text.endsWith('\r'))
            faults << QStringLiteral("frame %1: ETX and the record's end disagree").arg(count);
        records += text;
        expected = (expected + 1) % 8;
        at = end + 2;
    }
    if (frameCount)
        *frameCount = count;
    return records;
}

} // namespace

class TestLisMessages : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void anAstmMessageOfADemoRunReadsBackFieldByField();
    void theFramesCarryTheSameRecordsWithTrueChecksums();
    void anHl7MessageOfTheSameRunReadsBackFieldByField();
    void anInvalidRunSendsNoValuesAndSaysWhy();
};

void TestLisMessages::anAstmMessageOfADemoRunReadsBackFieldByField()
{
    const TAnalysis analysis = demoAnalysis();
    QVERIFY(analysis.valid && analysis.cutoff && analysis.curve && analysis.curve->ok);
    QCOMPARE(analysis.samples.size(), size_t(36));
    const QByteArray bytes = astmMessage(analysis, demoRun());
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    const QList<QStringList> records = splitRecords(bytes);
    QVERIFY2(!records.isEmpty(), "records end with CR and hold no LF");

    // H, then per sample P, O, maybe C, four R; L last.
    QVERIFY2(QRegularExpression(QStringLiteral("^H( P O( C)?( R){4}){36} L$")).match(types(records)).hasMatch(),
             qPrintable(types(records)));
    const QStringList &h = records.first();
    QCOMPARE(h.size(), 14);
    QCOMPARE(h[1], QStringLiteral("\\^&"));
    QCOMPARE(h[2], QStringLiteral("LRT20261208070102345"));
    QCOMPARE(h[4], QStringLiteral("LORIT-SERVICE^2008.6.6"));
    for (int f = 3; f <= 10; ++f)
        QVERIFY(f == 4 || h[f].isEmpty());
    QCOMPARE(h[11], QStringLiteral("P"));
    QCOMPARE(h[12], QStringLiteral("LIS2-A2"));
    QCOMPARE(h[13], QStringLiteral("20261208070102"));
    QCOMPARE(records.last(), QStringList({QStringLiteral("L"), QStringLiteral("1"), QStringLiteral("N")}));

    int record = 1, below = 0, inside = 0;
    QSet<QString> verdicts;
    for (int s = 0; s < 36; ++s) {
        const TSampleResult &sample = analysis.samples[size_t(s)];
        QCOMPARE(records[record++], QStringList({QStringLiteral("P"), QString::number(s + 1)}));
        const QStringList &o = records[record++];
        QCOMPARE(o.size(), 26);
        QCOMPARE(o[1], QStringLiteral("1"));
        QCOMPARE(astmText(o[2]), sample.id);
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        QCOMPARE(o[3].split(QLatin1Char('\\')), wells); // repeated
        QCOMPARE(o[4], QStringLiteral("^^^ИФА-демо"));
        QCOMPARE(o[5], QStringLiteral("R"));
        QCOMPARE(o[22], QStringLiteral("20261208070102"));
        QCOMPARE(o[25], QStringLiteral("F"));
        if (records[record][0] == QLatin1String("C")) {
            const QStringList &c = records[record++];
            QCOMPARE(c.size(), 5);
            QCOMPARE(c[2], QStringLiteral("I"));
            QCOMPARE(c[4], QStringLiteral("G"));
            QCOMPARE(astmText(c[3]), sampleRemark(sample));
        } else {
            QVERIFY(sampleRemark(sample).isEmpty());
        }
        const char *codes[] = {"OD", "INDEX", "RESULT", "CONC"};
        for (int k = 0; k < 4; ++k) {
            const QStringList &r = records[record++];
            QCOMPARE(r.size(), 13);
            QCOMPARE(r[1], QString::number(k + 1));
            QCOMPARE(r[2], QStringLiteral("^^^ИФА-демо^") + QLatin1String(codes[k]));
            QCOMPARE(r[8], QStringLiteral("F"));
            QCOMPARE(astmText(r[10]), QStringLiteral("Иванова^А."));
            QCOMPARE(r[12], QStringLiteral("20111225101530"));
            const QString flag = sample.verdict == TVerdict::Positive ? QStringLiteral("A")
                                 : sample.verdict == TVerdict::Negative ? QStringLiteral("N") : QString();
            if (k == 0) {
                QVERIFY(r[3].contains(QRegularExpression(QStringLiteral("^-?\\d+\\.\\d{3}$"))));
                QVERIFY(std::abs(r[3].toDouble() - *sample.corrected) <= 0.0005 + 1e-12);
                QCOMPARE(r[4], QString());
                QCOMPARE(r[5], QStringLiteral("0.000 to %1").arg(*analysis.greyLow, 0, 'f', 3));
                QCOMPARE(r[6], flag);
            } else if (k == 1) {
                QVERIFY(std::abs(r[3].toDouble() - *sample.index) <= 0.005 + 1e-12);
                QCOMPARE(r[5], QStringLiteral("0.00 to %1").arg(*analysis.greyLow / *analysis.cutoff, 0, 'f', 2));
                QCOMPARE(r[6], flag);
            } else if (k == 2) {
                const QMap<TVerdict, QString> words{{TVerdict::Positive, QStringLiteral("POS")},
                                                    {TVerdict::Negative, QStringLiteral("NEG")},
                                                    {TVerdict::Doubtful, QStringLiteral("EQV")}};
                QCOMPARE(r[3], words.value(sample.verdict));
                QCOMPARE(r[6], flag);
                verdicts << r[3];
            } else {
                QCOMPARE(r[4], QStringLiteral("МЕ/мл"));
                QCOMPARE(r[5], QString());
                if (sample.concentration.where == TConcentration::Inside) {
                    ++inside;
                    QVERIFY(std::abs(r[3].toDouble() / *sample.reported - 1) < 1e-3);
                    QCOMPARE(r[6], QString());
                } else if (sample.concentration.where == TConcentration::Below) {
                    ++below;
                    // The lowest calibrator above zero, its dilution applied: 5, or 50 at 1:10.
                    QCOMPARE(r[3], sample.dilution == 10 ? QStringLiteral("<50") : QStringLiteral("<5"));
                    QCOMPARE(r[6], QStringLiteral("<"));
                } else {
                    QCOMPARE(r[3], QStringLiteral(">%1").arg(400 * sample.dilution));
                    QCOMPARE(r[6], QStringLiteral(">"));
                }
            }
        }
    }
    QVERIFY(inside > 20 && below > 0);
    QVERIFY(verdicts.contains(QStringLiteral("POS")) && verdicts.contains(QStringLiteral("NEG")));

    // The ID with every delimiter stays one field, escaped, and reads back whole.
    QVERIFY(bytes.contains("|Q&F&1&S&2&E&3&R&4~5|"));

    // Named by the run and the time.
    QCOMPARE(lisFileName(demoRun().identity, writtenAt, TLisFormat::Astm), QStringLiteral("2011_12_25_0001_20261208_070102.astm"));
    QCOMPARE(lisFileName(TRunIdentity{}, writtenAt, TLisFormat::Hl7), QStringLiteral("TavDat_20261208_070102.hl7"));
}

void TestLisMessages::theFramesCarryTheSameRecordsWithTrueChecksums()
{
    // One short record, summed by hand: '1' 'L' '|' '1' '|' 'N' CR ETX = 0x204 → "04".
    QCOMPARE(lis1Frames("L|1|N\r"), QByteArray("\x02" "1L|1|N\r\x03" "04\r\n"));

    const QByteArray records = astmMessage(demoAnalysis(), demoRun());
    QStringList faults;
    int frames = 0;
    QCOMPARE(deframe(lis1Frames(records), faults, &frames), records);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    QCOMPARE(frames, int(records.count('\r'))); // each record in a frame of its own: none is long
    QVERIFY(frames > 8);                         // the numbers went round past 7 and 0

    // A record longer than a frame goes on in the next, ETB between, the sum per frame.
    TLisRun run = demoRun();
    run.identity.testSystem = QString(300, QLatin1Char('T'));
    const QByteArray longRecords = astmMessage(demoAnalysis(), run);
    faults.clear();
    QCOMPARE(deframe(lis1Frames(longRecords), faults, &frames), longRecords);
    QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
    QVERIFY(frames > longRecords.count('\r'));
    QVERIFY(lis1Frames(longRecords).contains('\x17'));
}

void TestLisMessages::anHl7MessageOfTheSameRunReadsBackFieldByField()
{
    const TAnalysis analysis = demoAnalysis();
    const QByteArray bytes = hl7Message(analysis, demoRun());
    QVERIFY(bytes.startsWith("MSH|^~\\&|"));
    const QList<QStringList> segments = splitRecords(bytes);
    QVERIFY2(QRegularExpression(QStringLiteral("^MSH( PID OBR( NTE)?( OBX){4}){36}$")).match(types(segments)).hasMatch(),
             qPrintable(types(segments)));
    // MSH-1 is the '|' itself, so MSH-n is at n − 1 after the split as well.
    const QStringList &msh = segments.first();
    QCOMPARE(msh.size(), 18);
    QCOMPARE(msh[1], QStringLiteral("^~\\&"));
    QCOMPARE(msh[2], QStringLiteral("LORIT-SERVICE"));
    QCOMPARE(msh[6], QStringLiteral("20261208070102"));
    QCOMPARE(msh[8], QStringLiteral("ORU^R01^ORU_R01"));
    QCOMPARE(msh[9], QStringLiteral("LRT20261208070102345"));
    QVERIFY(msh[9].size() <= 20);
    QCOMPARE(msh[10], QStringLiteral("P"));
    QCOMPARE(msh[11], QStringLiteral("2.5.1"));
    QCOMPARE(msh[17], QStringLiteral("UNICODE UTF-8"));

    int segment = 1;
    for (int s = 0; s < 36; ++s) {
        const TSampleResult &sample = analysis.samples[size_t(s)];
        const QStringList &pid = segments[segment++];
        QCOMPARE(pid.size(), 4);
        QCOMPARE(pid[1], QString::number(s + 1));
        QCOMPARE(hl7Text(pid[3]), sample.id);
        const QStringList &obr = segments[segment++];
        QCOMPARE(obr.size(), 26);
        QCOMPARE(obr[1], QString::number(s + 1));
        QCOMPARE(hl7Text(obr[2]), sample.id);
        QCOMPARE(obr[4], QStringLiteral("ИФА-демо^ИФА-демо^L"));
        QCOMPARE(obr[7], QStringLiteral("20111225101530"));
        QCOMPARE(obr[20], QStringLiteral("2011_12_25_0001.xls"));
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        QCOMPARE(obr[21], wells.join(QLatin1Char(' ')));
        QCOMPARE(obr[22], QStringLiteral("20261208070102"));
        QCOMPARE(obr[25], QStringLiteral("F"));
        if (segments[segment][0] == QLatin1String("NTE")) {
            const QStringList &nte = segments[segment++];
            QCOMPARE(nte[1], QStringLiteral("1"));
            QCOMPARE(nte[2], QStringLiteral("L"));
            QCOMPARE(hl7Text(nte[3]), sampleRemark(sample));
        }
        const QStringList ids{QStringLiteral("OD^ОП^L"), QStringLiteral("INDEX^Индекс^L"), QStringLiteral("RESULT^Результат^L"),
                              QStringLiteral("CONC^Концентрация^L")};
        for (int k = 0; k < 4; ++k) {
            const QStringList &obx = segments[segment++];
            QCOMPARE(obx.size(), 17);
            QCOMPARE(obx[1], QString::number(k + 1));
            const bool text = k == 2 || (k == 3 && sample.concentration.where != TConcentration::Inside);
            QCOMPARE(obx[2], text ? QStringLiteral("ST") : QStringLiteral("NM"));
            QCOMPARE(obx[3], ids[k]);
            QVERIFY(!obx[5].isEmpty());
            if (obx[2] == QLatin1String("NM"))
                QVERIFY2(obx[5].contains(QRegularExpression(QStringLiteral("^-?\\d+(\\.\\d+)?$"))), qPrintable(obx[5]));
            QCOMPARE(obx[6], k == 3 ? QStringLiteral("МЕ/мл") : QString());
            QCOMPARE(obx[7], k == 0 ? QStringLiteral("0.000-%1").arg(*analysis.greyLow, 0, 'f', 3)
                             : k == 1 ? QStringLiteral("0.00-%1").arg(*analysis.greyLow / *analysis.cutoff, 0, 'f', 2)
                                      : QString());
            QCOMPARE(obx[11], QStringLiteral("F"));
            QCOMPARE(obx[14], QStringLiteral("20111225101530"));
            QCOMPARE(obx[16].split(QLatin1Char('^')).value(1), QStringLiteral("Иванова\\S\\А."));
        }
    }
    // The delimiters of the odd ID as HL7 escapes them.
    QVERIFY(bytes.contains("PID|2||Q\\F\\1\\S\\2\\T\\3\\E\\4\\R\\5\r"));
}

void TestLisMessages::anInvalidRunSendsNoValuesAndSaysWhy()
{
    // K+ must reach 5: it does not, and no result may leave as if it did.
    const TAnalysis analysis = demoAnalysis(5.0);
    QVERIFY(!analysis.valid);
    const QList<QStringList> records = splitRecords(astmMessage(analysis, demoRun()));
    int results = 0, comments = 0;
    for (const QStringList &record : records) {
        if (record[0] == QLatin1String("O"))
            QCOMPARE(record[25], QStringLiteral("X"));
        if (record[0] == QLatin1String("R")) {
            ++results;
            QCOMPARE(record.value(3), QString());
            QCOMPARE(record.value(6), QString());
            QCOMPARE(record.value(8), QStringLiteral("X"));
        }
        if (record[0] == QLatin1String("C")) {
            ++comments;
            QVERIFY2(astmText(record[3]).startsWith(QStringLiteral("Анализ НЕДОСТОВЕРЕН: ")) && record[3].contains(QStringLiteral("K+")),
                     qPrintable(record[3]));
        }
    }
    QVERIFY(results >= 36 * 2);
    QCOMPARE(comments, 36);
    const QList<QStringList> segments = splitRecords(hl7Message(analysis, demoRun()));
    int notes = 0;
    for (const QStringList &segment : segments) {
        if (segment[0] == QLatin1String("OBR"))
            QCOMPARE(segment[25], QStringLiteral("X"));
        if (segment[0] == QLatin1String("OBX")) {
            QCOMPARE(segment[5], QString());
            QCOMPARE(segment[8], QString());
            QCOMPARE(segment[11], QStringLiteral("X"));
        }
        if (segment[0] == QLatin1String("NTE") && hl7Text(segment[3]).startsWith(QStringLiteral("Анализ НЕДОСТОВЕРЕН")))
            ++notes;
    }
    QCOMPARE(notes, 36);
}

QTEST_MAIN(TestLisMessages)
#include "tst_lismessages.moc"
