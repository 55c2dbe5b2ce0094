#include "analysis/ResultsCsv.h"

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

QString number(const std::optional<double> &value, int decimals = 3)
{
    return value ? QString::number(*value, 'f', decimals) : QString();
}
} // namespace

QByteArray resultsCsv(const TPlateLayout &layout, const TAnalysis &analysis)
{
    QString text = QStringLiteral("well,role,id,od,corrected_od,concentration,index,result\r\n");
    for (int i = 0; i < wellCount; ++i) {
        const TWell &well = layout.wells[size_t(i)];
        const TWellResult &result = analysis.wells[size_t(i)];
        QString concentration;
        if (analysis.curve && analysis.curve->ok
            && (well.role == TWellRole::Sample || well.role == TWellRole::Standard)) {
            concentration = well.role == TWellRole::Standard ? QString::number(well.concentration, 'g', 6)
                                                             : concentrationText(result.concentration, *analysis.curve);
        }
        const QStringList fields{wellName(i),
                                 roleName(well.role),
                                 well.id,
                                 number(result.od),
                                 number(result.corrected),
                                 concentration,
                                 number(result.index, 2),
                                 verdictText(result.verdict)};
        QStringList quoted;
        for (const QString &f : fields)
            quoted << field(f);
        text += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
}

} // namespace analysis
