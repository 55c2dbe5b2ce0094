#include "analysis/LisMessages.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace analysis {

namespace {
const QString senderName = QStringLiteral("LORIT-SERVICE");
constexpr char stx = 0x02, etx = 0x03, etb = 0x17, cr = 0x0D, lf = 0x0A;
constexpr int frameTextLimit = 240; ///< characters of the records in one frame

QString stamp(const QDateTime &at)
{
    return at.isValid() ? at.toString(QStringLiteral("yyyyMMddHHmmss")) : QString();
}

QString controlId(const QDateTime &at)
{
    return QStringLiteral("LRT") + at.toString(QStringLiteral("yyyyMMddHHmmsszzz"));
}

/// Fields joined, the empty ones at the end left out as both standards allow.
QString record(QStringList fields, QChar separator = QLatin1Char('|'))
{
    while (fields.size() > 1 && fields.last().isEmpty())
        fields.removeLast();
    return fields.join(separator);
}

/// Control characters would end a record early: a line end becomes a separator, any
/// other a blank.
QString oneLine(QString text)
{
    text.replace(QRegularExpression(QStringLiteral("\\s*[\\r\\n]+\\s*")), QStringLiteral("; "));
    text.replace(QRegularExpression(QStringLiteral("\\p{Cc}")), QStringLiteral(" "));
    return text;
}

QString number(double value, int decimals) { return QString::number(value, 'f', decimals); }

QString astmRange(const TLisResult &result)
{
    if (!result.rangeLow || !result.rangeHigh)
        return {};
    return number(*result.rangeLow, result.rangeDecimals) + QStringLiteral(" to ") + number(*result.rangeHigh, result.rangeDecimals);
}

QString hl7Range(const TLisResult &result)
{
    if (!result.rangeLow || !result.rangeHigh)
        return {};
    return number(*result.rangeLow, result.rangeDecimals) + QLatin1Char('-') + number(*result.rangeHigh, result.rangeDecimals);
}

QString qualitativeFlag(TVerdict verdict)
{
    switch (verdict) {
    case TVerdict::Positive: return QStringLiteral("A");
    case TVerdict::Negative: return QStringLiteral("N");
    default: return {};
    }
}
} // namespace

std::vector<TLisResult> lisResults(const TAnalysis &analysis, const TSampleResult &sample)
{
    std::vector<TLisResult> results;
    const bool given = analysis.valid;
    const auto add = [&](TLisResult result) {
        if (!given)
            result.value.clear(), result.flag.clear();
        result.status = result.value.isEmpty() ? QLatin1Char('X') : QLatin1Char('F');
        results.push_back(result);
    };
    // The negative's range, on the OD and on the index: below the grey zone.
    std::optional<double> odHigh, indexHigh;
    if (analysis.cutoff && analysis.greyLow && *analysis.cutoff > 0)
        odHigh = *analysis.greyLow, indexHigh = *analysis.greyLow / *analysis.cutoff;

    const auto named = [](const char *code, const char *name, bool numeric = true) {
        TLisResult result;
        result.code = QLatin1String(code);
        result.name = QString::fromUtf8(name);
        result.numeric = numeric;
        return result;
    };
    TLisResult od = named("OD", "ОП");
    if (sample.corrected)
        od.value = number(*sample.corrected, 3);
    if (odHigh) {
        od.rangeLow = 0, od.rangeHigh = odHigh;
        od.flag = qualitativeFlag(sample.verdict);
    }
    add(od);
    if (analysis.cutoff) {
        TLisResult index = named("INDEX", "Индекс");
        if (sample.index)
            index.value = number(*sample.index, 2);
        index.rangeLow = 0, index.rangeHigh = indexHigh, index.rangeDecimals = 2;
        index.flag = qualitativeFlag(sample.verdict);
        add(index);
        TLisResult verdict = named("RESULT", "Результат", false);
        switch (sample.verdict) {
        case TVerdict::Positive: verdict.value = QStringLiteral("POS"); break;
        case TVerdict::Negative: verdict.value = QStringLiteral("NEG"); break;
        case TVerdict::Doubtful: verdict.value = QStringLiteral("EQV"); break;
        case TVerdict::None: break;
        }
        verdict.flag = qualitativeFlag(sample.verdict);
        add(verdict);
    }
    if (analysis.curve) {
        TLisResult concentration = named("CONC", "Концентрация");
        concentration.unit = analysis.unit;
        const TStandardCurve &curve = *analysis.curve;
        switch (curve.ok ? sample.concentration.where : TConcentration::Unknown) {
        case TConcentration::Inside:
            concentration.value = QString::number(sample.concentration.value * sample.dilution, 'g', 4);
            break;
        case TConcentration::Below:
            concentration.numeric = false;
            concentration.value = QLatin1Char('<') + QString::number(curve.lloq * sample.dilution, 'g', 4);
            concentration.flag = QStringLiteral("<");
            break;
        case TConcentration::Above:
            concentration.numeric = false;
            concentration.value = QLatin1Char('>') + QString::number(curve.uloq * sample.dilution, 'g', 4);
            concentration.flag = QStringLiteral(">");
            break;
        case TConcentration::Unknown: break;
        }
        add(concentration);
    }
    return results;
}

QString lisComment(const TAnalysis &analysis, const TSampleResult &sample)
{
    QStringList parts;
    if (!analysis.valid) {
        QString invalid = validityText(analysis);
        if (!analysis.problems.isEmpty())
            invalid += QStringLiteral(": ") + analysis.problems.join(QStringLiteral("; "));
        parts << invalid;
    }
    QString remark = sampleRemark(sample);
    if (!analysis.valid && remark.startsWith(QStringLiteral("анализ недостоверен")))
        remark = remark.mid(QStringLiteral("анализ недостоверен").size()).remove(QRegularExpression(QStringLiteral("^;\\s*")));
    if (!remark.isEmpty())
        parts << remark;
    return oneLine(parts.join(QStringLiteral("; ")));
}

QString astmEscape(const QString &text)
{
    QString out;
    for (const QChar c : oneLine(text)) {
        switch (c.unicode()) {
        case u'|': out += QStringLiteral("&F&"); break;
        case u'\\': out += QStringLiteral("&R&"); break;
        case u'^': out += QStringLiteral("&S&"); break;
        case u'&': out += QStringLiteral("&E&"); break;
        default: out += c;
        }
    }
    return out;
}

QString hl7Escape(const QString &text)
{
    QString out;
    for (const QChar c : oneLine(text)) {
        switch (c.unicode()) {
        case u'|': out += QStringLiteral("\\F\\"); break;
        case u'^': out += QStringLiteral("\\S\\"); break;
        case u'&': out += QStringLiteral("\\T\\"); break;
        case u'~': out += QStringLiteral("\\R\\"); break;
        case u'\\': out += QStringLiteral("\\E\\"); break;
        default: out += c;
        }
    }
    return out;
}

QByteArray astmMessage(const TAnalysis &analysis, const TLisRun &run)
{
    const TRunIdentity &identity = run.identity;
    const QString test = astmEscape(identity.testSystem);
    const QString writtenAt = stamp(run.writtenAt);
    QStringList records;
    // H: the delimiters, the message's ID, who sends it, production, the standard, the time.
    records << record({QStringLiteral("H"), QStringLiteral("\\^&"), controlId(run.writtenAt), QString(),
                       senderName + QLatin1Char('^') + astmEscape(run.version), QString(), QString(), QString(), QString(),
                       QString(), QString(), QStringLiteral("P"), QStringLiteral("LIS2-A2"), writtenAt});
    int patient = 0;
    for (const TSampleResult &sample : analysis.samples) {
        records << record({QStringLiteral("P"), QString::number(++patient)});
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        const std::vector<TLisResult> results = lisResults(analysis, sample);
        const bool anyGiven = std::any_of(results.begin(), results.end(), [](const TLisResult &r) { return r.status == u'F'; });
        QStringList order(26);
        order[0] = QStringLiteral("O");
        order[1] = QStringLiteral("1");
        order[2] = astmEscape(sample.id);
        order[3] = wells.join(QLatin1Char('\\')); // the wells, repeated
        order[4] = QStringLiteral("^^^") + test;
        order[5] = QStringLiteral("R");           // routine
        order[22] = writtenAt;                     // results reported
        order[25] = anyGiven ? QStringLiteral("F") : QStringLiteral("X");
        records << record(order);
        if (const QString comment = lisComment(analysis, sample); !comment.isEmpty())
            records << record({QStringLiteral("C"), QStringLiteral("1"), QStringLiteral("I"), astmEscape(comment), QStringLiteral("G")});
        int sequence = 0;
        for (const TLisResult &result : results) {
            QStringList fields(13);
            fields[0] = QStringLiteral("R");
            fields[1] = QString::number(++sequence);
            fields[2] = QStringLiteral("^^^") + test + QLatin1Char('^') + result.code;
            fields[3] = astmEscape(result.value);
            fields[4] = astmEscape(result.unit);
            fields[5] = astmRange(result);
            fields[6] = result.flag;
            fields[8] = result.status;
            fields[10] = astmEscape(identity.operatorName);
            fields[12] = stamp(identity.readAt); // the plate was read: the test completed
            records << record(fields);
        }
    }
    records << record({QStringLiteral("L"), QStringLiteral("1"), QStringLiteral("N")});
    QByteArray bytes;
    for (const QString &line : records)
        bytes += line.toUtf8() + cr;
    return bytes;
}

QByteArray lis1Frames(const QByteArray &records)
{
    QByteArray frames;
    int frameNumber = 1;
    // Each record starts a frame of its own; a long one goes on in the next frames.
    for (qsizetype start = 0; start < records.size();) {
        qsizetype end = records.indexOf(cr, start);
        end = end < 0 ? records.size() : end + 1;
        for (qsizetype at = start; at < end; at += frameTextLimit) {
            const bool last = at + frameTextLimit >= end;
            QByteArray body = QByteArray::number(frameNumber) + records.mid(at, std::min<qsizetype>(frameTextLimit, end - at));
            body += last ? etx : etb;
            unsigned sum = 0;
            for (const char byte : body)
                sum += quint8(byte);
            frames += stx + body + QByteArray::number(sum % 256, 16).rightJustified(2, '0').toUpper() + cr + lf;
            frameNumber = (frameNumber + 1) % 8;
        }
        start = end;
    }
    return frames;
}

QByteArray hl7Message(const TAnalysis &analysis, const TLisRun &run)
{
    const TRunIdentity &identity = run.identity;
    const QString test = hl7Escape(identity.testSystem);
    const QString observed = stamp(identity.readAt);
    QStringList segments;
    QStringList header(18);
    header[0] = QStringLiteral("MSH");
    header[1] = QStringLiteral("^~\\&");
    header[2] = senderName;
    header[6] = stamp(run.writtenAt);
    header[8] = QStringLiteral("ORU^R01^ORU_R01");
    header[9] = controlId(run.writtenAt);
    header[10] = QStringLiteral("P");
    header[11] = QStringLiteral("2.5.1");
    header[17] = QStringLiteral("UNICODE UTF-8");
    // MSH-1 is the separator itself: the fields are joined after it.
    segments << QStringLiteral("MSH|") + record(header.mid(1));
    int patient = 0;
    for (const TSampleResult &sample : analysis.samples) {
        ++patient;
        const QString id = hl7Escape(sample.id);
        segments << record({QStringLiteral("PID"), QString::number(patient), QString(), id});
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        const std::vector<TLisResult> results = lisResults(analysis, sample);
        const bool anyGiven = std::any_of(results.begin(), results.end(), [](const TLisResult &r) { return r.status == u'F'; });
        QStringList order(26);
        order[0] = QStringLiteral("OBR");
        order[1] = QString::number(patient);
        order[2] = id;                                               // placer's order: the sample
        order[4] = test + QLatin1Char('^') + test + QStringLiteral("^L"); // the test system, a local code
        order[7] = observed;
        order[20] = hl7Escape(identity.instrumentFile);              // filler field 1: the run
        order[21] = wells.join(QLatin1Char(' '));                   // filler field 2: the wells
        order[22] = stamp(run.writtenAt);
        order[25] = anyGiven ? QStringLiteral("F") : QStringLiteral("X");
        segments << record(order);
        if (const QString comment = lisComment(analysis, sample); !comment.isEmpty())
            segments << record({QStringLiteral("NTE"), QStringLiteral("1"), QStringLiteral("L"), hl7Escape(comment)});
        int sequence = 0;
        for (const TLisResult &result : results) {
            QStringList fields(17);
            fields[0] = QStringLiteral("OBX");
            fields[1] = QString::number(++sequence);
            fields[2] = result.numeric ? QStringLiteral("NM") : QStringLiteral("ST");
            fields[3] = result.code + QLatin1Char('^') + hl7Escape(result.name) + QStringLiteral("^L");
            fields[5] = hl7Escape(result.value);
            fields[6] = hl7Escape(result.unit);
            fields[7] = hl7Range(result);
            fields[8] = result.flag;
            fields[11] = result.status;
            fields[14] = observed;
            if (!identity.operatorName.isEmpty())
                fields[16] = QLatin1Char('^') + hl7Escape(identity.operatorName); // family name
            segments << record(fields);
        }
    }
    QByteArray bytes;
    for (const QString &segment : segments)
        bytes += segment.toUtf8() + cr;
    return bytes;
}

QString lisFileName(const TRunIdentity &identity, const QDateTime &at, TLisFormat format)
{
    QString run = QFileInfo(identity.instrumentFile.trimmed()).completeBaseName();
    if (run.isEmpty())
        run = QStringLiteral("TavDat");
    return run + QLatin1Char('_') + at.toString(QStringLiteral("yyyyMMdd_HHmmss"))
           + (format == TLisFormat::Hl7 ? QStringLiteral(".hl7") : QStringLiteral(".astm"));
}

QByteArray lisMessage(TLisFormat format, const TAnalysis &analysis, const TLisRun &run)
{
    switch (format) {
    case TLisFormat::Astm: return astmMessage(analysis, run);
    case TLisFormat::AstmFramed: return lis1Frames(astmMessage(analysis, run));
    case TLisFormat::Hl7: return hl7Message(analysis, run);
    }
    return {};
}

} // namespace analysis
