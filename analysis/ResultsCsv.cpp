#include "analysis/ResultsCsv.h"

#include "common/SpreadsheetCsv.h"

#include <QLocale>

namespace analysis {

namespace {
QString field(const QString &text)
{
    // Quoted when it holds what would split or end the field.
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

/// The shortest text that reads back as the same double, with a point: QString::number
/// ignores the locale.
QString lisNumber(const std::optional<double> &value)
{
    return value && std::isfinite(*value) ? QString::number(*value, 'g', QLocale::FloatingPointShortest) : QString();
}

QString limitFlag(const TConcentration &concentration)
{
    switch (concentration.where) {
    case TConcentration::Below: return QStringLiteral("< LLOQ");
    case TConcentration::Above: return QStringLiteral("> ULOQ");
    default: return {};
    }
}

QString lisRow(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &f : fields)
        quoted << field(f);
    return quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
}

/// A role as a LIS matches it: "K-" with the ASCII minus.
QString csvRole(TWellRole role)
{
    return roleName(role).replace(QChar(0x2212), QLatin1Char('-'));
}
} // namespace

QStringList resultsCsvColumns()
{
    return {QStringLiteral("level"),         QStringLiteral("run_valid"),   QStringLiteral("id"),
            QStringLiteral("wells"),         QStringLiteral("role"),        QStringLiteral("od"),
            QStringLiteral("corrected_od"),  QStringLiteral("cv_percent"),  QStringLiteral("index"),
            QStringLiteral("concentration"), QStringLiteral("limit"),       QStringLiteral("lloq"),
            QStringLiteral("uloq"),          QStringLiteral("dilution"),    QStringLiteral("unit"),
            QStringLiteral("result"),        QStringLiteral("flags"),       QStringLiteral("nominal"),
            QStringLiteral("recovery_percent")};
}

QByteArray resultsCsv(const TPlateLayout &layout, const TAnalysis &analysis, TCsvDialect dialect)
{
    const bool spreadsheet = dialect == TCsvDialect::Spreadsheet;
    const auto row = [spreadsheet](const QStringList &fields) {
        return spreadsheet ? spreadsheetCsv::row(fields) : lisRow(fields);
    };
    const auto number = [spreadsheet](const std::optional<double> &value) {
        const QString text = lisNumber(value);
        return spreadsheet ? spreadsheetCsv::decimalComma(text) : text;
    };
    const bool curve = analysis.curve && analysis.curve->ok;
    const QString valid = analysis.valid ? QStringLiteral("1") : QStringLiteral("0");
    const QString lloq = curve ? number(analysis.curve->lloq) : QString();
    const QString uloq = curve ? number(analysis.curve->uloq) : QString();
    QString text = row(resultsCsvColumns());
    for (const TSampleResult &sample : analysis.samples) {
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        QStringList flags = sample.flags;
        if (!analysis.valid)
            flags.prepend(QStringLiteral("анализ недостоверен"));
        text += row({QStringLiteral("sample"), valid, sample.id, wells.join(QLatin1Char(' ')), csvRole(TWellRole::Sample),
                     QString(), number(sample.corrected), number(sample.cv), number(sample.index), number(sample.reported),
                     limitFlag(sample.concentration), curve ? number(analysis.curve->lloq * sample.dilution) : QString(),
                     curve ? number(analysis.curve->uloq * sample.dilution) : QString(), number(sample.dilution), analysis.unit,
                     verdictText(sample.verdict), flags.join(QLatin1Char(';')), QString(), QString()});
    }
    std::vector<std::optional<double>> recovery(wellCount);
    for (const TStandardRow &standard : standardRows(analysis))
        recovery[size_t(standard.well)] = standard.recovery;
    for (int i = 0; i < wellCount; ++i) {
        const TWell &well = layout.wells[size_t(i)];
        const TWellResult &result = analysis.wells[size_t(i)];
        const bool sample = well.role == TWellRole::Sample, standard = well.role == TWellRole::Standard;
        std::optional<double> concentration;
        if (curve && sample && result.concentration.where == TConcentration::Inside)
            concentration = result.concentration.value * well.dilution;
        QStringList flags;
        if (standard && well.masked)
            flags << QStringLiteral("исключен");
        text += row({QStringLiteral("well"), valid, well.id, wellName(i), csvRole(well.role), number(result.od),
                     number(result.corrected), QString(), number(result.index), number(concentration),
                     curve && sample ? limitFlag(result.concentration) : QString(), sample ? lloq : QString(),
                     sample ? uloq : QString(), sample ? number(well.dilution) : QString(),
                     sample || standard ? analysis.unit : QString(), verdictText(result.verdict), flags.join(QLatin1Char(';')),
                     standard ? number(well.concentration) : QString(), standard ? number(recovery[size_t(i)]) : QString()});
    }
    return spreadsheet ? spreadsheetCsv::encode(text) : QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace analysis
