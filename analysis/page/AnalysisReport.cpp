#include "analysis/page/AnalysisReport.h"

#include "analysis/page/CurveChart.h"

#include <QImage>
#include <QPainter>
#include <QUrl>

using namespace analysis;

namespace {
const QString curveImage = QStringLiteral("lorit:curve.png");
constexpr int curveWidth = 1050, curveHeight = 600; ///< px of the picture, drawn smaller on paper

QString escaped(const QString &text) { return text.toHtmlEscaped(); }

QString fixed(const std::optional<double> &value, int decimals)
{
    return value ? QString::number(*value, 'f', decimals) : QString();
}
} // namespace

QString analysisReportCurveName()
{
    return curveImage;
}

std::unique_ptr<QTextDocument> analysisReport(const TPlateOd &od, const TPlateLayout &layout, const TAnalysis &result,
                                              const TRunIdentity &identity)
{
    auto document = std::make_unique<QTextDocument>();
    QString html = QStringLiteral("<h3>Анализ планшета</h3><p><b>%1</b><br>").arg(validityText(result));
    for (const QString &line : identity.lines())
        html += escaped(line) + QStringLiteral("<br>");
    html += QStringLiteral("</p><p><b>Расчет</b><br>");
    for (const QString &line : identity.settings)
        html += escaped(line) + QStringLiteral("<br>");
    html += QStringLiteral("</p>");

    // The layout, each well with its role and OD.
    html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"2\" width=\"100%\"><thead><tr><th></th>");
    for (int column = 1; column <= plateColumns; ++column)
        html += QStringLiteral("<th>%1</th>").arg(column);
    html += QStringLiteral("</tr></thead>");
    for (int row = 0; row < plateRows; ++row) {
        html += QStringLiteral("<tr><th>%1</th>").arg(QChar(u'A' + row));
        for (int column = 0; column < plateColumns; ++column) {
            const int i = row * plateColumns + column;
            const TWell &well = layout.wells[size_t(i)];
            QString mark = roleMark(well.role);
            if (well.role == TWellRole::Standard)
                mark += QLatin1Char(' ') + QString::number(well.concentration, 'g', 4);
            else if (well.role == TWellRole::Sample)
                mark = well.id;
            html += QStringLiteral("<td align=\"center\"><small>%1<br>%2</small></td>")
                        .arg(escaped(mark), fixed(od[size_t(i)], 3));
        }
        html += QStringLiteral("</tr>");
    }
    html += QStringLiteral("</table><p>");
    const auto group = [&html](const QString &name, const TGroupStats &stats) {
        if (stats.count == 0)
            return;
        html += QStringLiteral("%1: среднее %2, лунок %3").arg(name, QString::number(stats.mean, 'f', 3)).arg(stats.count);
        if (stats.cv)
            html += QStringLiteral(", CV %1 %").arg(*stats.cv, 0, 'f', 1);
        html += QStringLiteral("<br>");
    };
    group(QStringLiteral("Бланк"), result.blanks);
    group(QStringLiteral("K−"), result.negative);
    group(QStringLiteral("K+"), result.positive);
    if (result.cutoff)
        html += QStringLiteral("Cut-off: %1, серая зона %2 … %3<br>")
                    .arg(*result.cutoff, 0, 'f', 3)
                    .arg(*result.greyLow, 0, 'f', 3)
                    .arg(*result.greyHigh, 0, 'f', 3);
    for (const QString &problem : result.problems)
        html += QStringLiteral("<b>%1</b><br>").arg(escaped(problem));
    html += QStringLiteral("</p>");

    const bool curve = result.curve && result.curve->ok;
    if (curve) {
        QImage image(curveWidth, curveHeight, QImage::Format_RGB32);
        image.fill(Qt::white);
        std::vector<TCurveChart::TSamplePoint> onCurve;
        for (const TSampleResult &sample : result.samples)
            if (sample.concentration.where == TConcentration::Inside && sample.corrected)
                onCurve.push_back({sample.concentration.value, *sample.corrected});
        QPainter painter(&image);
        QFont font = painter.font();
        font.setPixelSize(22);
        painter.setFont(font);
        TCurveChart::paint(painter, QRectF(0, 0, curveWidth, curveHeight), *result.curve, onCurve);
        painter.end();
        document->addResource(QTextDocument::ImageResource, QUrl(curveImage), image);
        html += QStringLiteral("<p><img src=\"%1\" width=\"420\" height=\"240\"></p>").arg(curveImage);
        QStringList parameters;
        const QStringList names = parameterNames(result.curve->model);
        for (int k = 0; k < names.size() && k < int(result.curve->parameters.size()); ++k)
            parameters << QStringLiteral("%1 = %2").arg(names[k]).arg(result.curve->parameters[size_t(k)], 0, 'g', 6);
        parameters << QStringLiteral("R² = %1").arg(result.curve->rSquared, 0, 'f', 4);
        html += QStringLiteral("<p>Кривая %1: %2</p>").arg(modelName(result.curve->model), escaped(parameters.join(QStringLiteral(", "))));
        html += QStringLiteral("<p><b>Калибраторы</b></p><table border=\"1\" cellspacing=\"0\" cellpadding=\"2\">"
                               "<thead><tr><th>Лунка</th><th>Конц.</th><th>ОП испр.</th><th>Остаток</th><th>Обратный расчет</th>"
                               "<th>Извлечение, %</th></tr></thead>");
        for (const TStandardRow &standard : standardRows(result))
            html += QStringLiteral("<tr><td>%1</td><td align=\"right\">%2</td><td align=\"right\">%3</td>"
                                   "<td align=\"right\">%4</td><td align=\"right\">%5</td><td align=\"right\">%6</td></tr>")
                        .arg(wellName(standard.well) + (standard.masked ? QStringLiteral(" (исключен)") : QString()),
                             QString::number(standard.concentration, 'g', 6),
                             QString::number(standard.od, 'f', 3), QString::number(standard.residual, 'f', 3),
                             escaped(concentrationText(standard.backCalculated, *result.curve)),
                             standard.recovery ? QString::number(*standard.recovery, 'f', 1) : QString());
        html += QStringLiteral("</table><p></p>");
    }

    // The header row repeats on every page the table runs onto.
    html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><thead><tr>"
                           "<th>ID</th><th>Лунки</th><th>ОП испр.</th><th>CV, %</th><th>Индекс</th>"
                           "<th>Концентрация%1</th><th>Результат</th><th>Примечание</th></tr></thead>")
                .arg(result.unit.isEmpty() ? QString() : QStringLiteral(", ") + escaped(result.unit));
    for (const TSampleResult &sample : result.samples) {
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        html += QStringLiteral("<tr><td>%1</td><td>%2</td><td align=\"right\">%3</td><td align=\"right\">%4</td>"
                               "<td align=\"right\">%5</td><td align=\"right\">%6</td><td>%7</td><td>%8</td></tr>")
                    .arg(escaped(sample.id), wells.join(QStringLiteral(", ")), fixed(sample.corrected, 3), fixed(sample.cv, 1),
                         fixed(sample.index, 2),
                         escaped(curve ? sampleConcentrationText(sample, *result.curve) : QString()),
                         verdictText(sample.verdict), escaped(sampleRemark(sample)));
    }
    html += QStringLiteral("</table>");
    document->setHtml(html);
    return document;
}
