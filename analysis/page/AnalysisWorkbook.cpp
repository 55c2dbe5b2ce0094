#include "analysis/page/AnalysisWorkbook.h"

#include "measure/PlateWorkbook.h"

#include <xlsxwriter.h>

using namespace analysis;

namespace {

struct TSheetWriter
{
    lxw_workbook *book;
    lxw_error first = LXW_NO_ERROR;
    lxw_format *bold = nullptr, *density = nullptr, *two = nullptr, *centre = nullptr;

    explicit TSheetWriter(lxw_workbook *workbook) : book(workbook)
    {
        bold = workbook_add_format(book);
        format_set_bold(bold);
        density = workbook_add_format(book);
        format_set_num_format(density, "0.000");
        two = workbook_add_format(book);
        format_set_num_format(two, "0.00");
        centre = workbook_add_format(book);
        format_set_align(centre, LXW_ALIGN_CENTER);
    }
    void note(lxw_error error)
    {
        if (first == LXW_NO_ERROR)
            first = error;
    }
    void text(lxw_worksheet *sheet, int row, int column, const QString &value, lxw_format *format = nullptr)
    {
        if (!value.isEmpty())
            note(worksheet_write_string(sheet, lxw_row_t(row), lxw_col_t(column), value.toUtf8().constData(), format));
    }
    void number(lxw_worksheet *sheet, int row, int column, const std::optional<double> &value, lxw_format *format)
    {
        if (value && std::isfinite(*value))
            note(worksheet_write_number(sheet, lxw_row_t(row), lxw_col_t(column), *value, format));
    }
    /// Row letters and column numbers around a plate whose top-left well is at `top`.
    void plateFrame(lxw_worksheet *sheet, int top)
    {
        for (int column = 1; column <= plateColumns; ++column)
            note(worksheet_write_number(sheet, lxw_row_t(top - 1), lxw_col_t(column), column, bold));
        for (int row = 0; row < plateRows; ++row)
            text(sheet, top + row, 0, QString(QChar(u'A' + row)), bold);
    }
};

void resultsSheet(TSheetWriter &w, const TPlateLayout &layout, const TAnalysis &result, const TRunIdentity &identity,
                  const TAnalysisSettings &settings)
{
    lxw_worksheet *sheet = workbook_add_worksheet(w.book, "Результаты");
    w.note(worksheet_set_column(sheet, 0, 0, 16, nullptr));
    w.note(worksheet_set_column(sheet, 1, 7, 13, nullptr));
    int row = 0;
    w.text(sheet, row++, 0, validityText(result), w.bold);
    for (const QString &line : identity.lines())
        w.text(sheet, row++, 0, line);
    for (const QString &line : identity.settings)
        w.text(sheet, row++, 0, line);
    if (result.blank)
        w.text(sheet, row++, 0, QStringLiteral("Бланк: %1").arg(*result.blank, 0, 'f', 3));
    if (result.cutoff)
        w.text(sheet, row++, 0, QStringLiteral("Cut-off: %1 (серая зона %2 … %3)")
                                    .arg(*result.cutoff, 0, 'f', 3)
                                    .arg(*result.greyLow, 0, 'f', 3)
                                    .arg(*result.greyHigh, 0, 'f', 3));
    const auto control = [&](const QString &name, const TGroupStats &stats) {
        if (stats.count == 0)
            return;
        w.text(sheet, row, 0, name);
        w.number(sheet, row, 1, stats.mean, w.density);
        w.text(sheet, row, 2, QStringLiteral("CV, %"));
        w.number(sheet, row, 3, stats.cv, w.two);
        ++row;
    };
    control(QStringLiteral("K− среднее"), result.negative);
    control(QStringLiteral("K+ среднее"), result.positive);
    if (result.curve && result.curve->ok) {
        const TStandardCurve &curve = *result.curve;
        w.text(sheet, row, 0, QStringLiteral("Кривая"));
        w.text(sheet, row, 1, modelName(curve.model));
        w.text(sheet, row, 2, QStringLiteral("R²"));
        w.number(sheet, row++, 3, curve.rSquared, nullptr);
        const QStringList names = parameterNames(curve.model);
        for (int k = 0; k < names.size() && k < int(curve.parameters.size()); ++k) {
            w.text(sheet, row, 0, names[k]);
            w.number(sheet, row, 1, curve.parameters[size_t(k)], nullptr);
            if (size_t(k) < curve.standardErrors.size()) {
                w.text(sheet, row, 2, QStringLiteral("ст. ошибка"));
                w.number(sheet, row, 3, curve.standardErrors[size_t(k)], nullptr);
            }
            ++row;
        }
        w.text(sheet, row, 0, QStringLiteral("Единицы"));
        w.text(sheet, row++, 1, result.unit.isEmpty() ? QStringLiteral("—") : result.unit);
    }
    for (const QString &problem : result.problems)
        w.text(sheet, row++, 0, problem);
    ++row;
    const QStringList head{QStringLiteral("ID"),           QStringLiteral("Лунки"),     QStringLiteral("ОП испр."),
                           QStringLiteral("CV, %"),        QStringLiteral("Индекс"),    QStringLiteral("Концентрация"),
                           QStringLiteral("Предел"),       QStringLiteral("Разведение"), QStringLiteral("Результат"),
                           QStringLiteral("Примечание")};
    for (int c = 0; c < head.size(); ++c)
        w.text(sheet, row, c, head[c], w.bold);
    ++row;
    const bool curve = result.curve && result.curve->ok;
    for (const TSampleResult &sample : result.samples) {
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        w.text(sheet, row, 0, sample.id);
        w.text(sheet, row, 1, wells.join(QStringLiteral(", ")));
        w.number(sheet, row, 2, sample.corrected, w.density);
        w.number(sheet, row, 3, sample.cv, w.two);
        w.number(sheet, row, 4, sample.index, w.two);
        // The number alone in its column; "< LLOQ" / "> ULOQ" with the limit beside it.
        w.number(sheet, row, 5, sample.reported, nullptr);
        if (curve && sample.concentration.where != TConcentration::Inside)
            w.text(sheet, row, 6, sampleConcentrationText(sample, *result.curve));
        w.number(sheet, row, 7, sample.dilution, nullptr);
        w.text(sheet, row, 8, verdictText(sample.verdict));
        w.text(sheet, row, 9, sampleRemark(sample));
        ++row;
    }
    if (!curve)
        return;
    // The back-fit table: each calibrator read back from the curve.
    ++row;
    const QStringList standardsHead{QStringLiteral("Калибратор"), QStringLiteral("Конц."), QStringLiteral("ОП испр."),
                                    QStringLiteral("Остаток"), QStringLiteral("Обратный расчет"),
                                    QStringLiteral("Извлечение, %"), QStringLiteral("Примечание")};
    for (int c = 0; c < standardsHead.size(); ++c)
        w.text(sheet, row, c, standardsHead[c], w.bold);
    ++row;
    for (const TStandardRow &standard : standardRows(result, settings)) {
        w.text(sheet, row, 0, wellName(standard.well));
        w.number(sheet, row, 1, standard.concentration, nullptr);
        w.number(sheet, row, 2, standard.od, w.density);
        w.number(sheet, row, 3, standard.residual, w.density);
        if (standard.backCalculated.where == TConcentration::Inside)
            w.number(sheet, row, 4, standard.backCalculated.value, nullptr);
        else
            w.text(sheet, row, 4, concentrationText(standard.backCalculated, *result.curve));
        w.number(sheet, row, 5, standard.recovery, w.two);
        w.text(sheet, row, 6, standard.masked ? QStringLiteral("исключен (выброс)")
                              : standard.accepted ? QString()
                                                  : QStringLiteral("вне допуска"));
        ++row;
    }
    Q_UNUSED(layout)
}

void platesSheets(TSheetWriter &w, const TPlateOd &od, const TPlateLayout &layout)
{
    lxw_worksheet *densities = workbook_add_worksheet(w.book, "ОП");
    lxw_worksheet *roles = workbook_add_worksheet(w.book, "Раскладка");
    w.plateFrame(densities, 1);
    w.plateFrame(roles, 1);
    w.note(worksheet_set_column(roles, 1, plateColumns, 11, nullptr));
    for (int i = 0; i < wellCount; ++i) {
        const int row = 1 + i / plateColumns, column = 1 + i % plateColumns;
        w.number(densities, row, column, od[size_t(i)], w.density);
        const TWell &well = layout.wells[size_t(i)];
        QString mark = roleMark(well.role);
        if (well.role == TWellRole::Standard)
            mark += QLatin1Char(' ') + QString::number(well.concentration, 'g', 6);
        else if (well.role == TWellRole::Sample)
            mark = well.id;
        w.text(roles, row, column, mark, w.centre);
    }
}

void wellsSheet(TSheetWriter &w, const TPlateLayout &layout, const TAnalysis &result)
{
    lxw_worksheet *sheet = workbook_add_worksheet(w.book, "Лунки");
    const QStringList head{QStringLiteral("Лунка"), QStringLiteral("Роль"), QStringLiteral("ID"), QStringLiteral("ОП"),
                           QStringLiteral("ОП испр."), QStringLiteral("Концентрация"), QStringLiteral("Индекс"),
                           QStringLiteral("Результат"), QStringLiteral("Остаток кривой")};
    for (int c = 0; c < head.size(); ++c)
        w.text(sheet, 0, c, head[c], w.bold);
    const bool curve = result.curve && result.curve->ok;
    for (const TStandardRow &standard : standardRows(result))
        w.number(sheet, 1 + standard.well, 8, standard.residual, w.density);
    for (int i = 0; i < wellCount; ++i) {
        const int row = 1 + i;
        const TWell &well = layout.wells[size_t(i)];
        const TWellResult &r = result.wells[size_t(i)];
        w.text(sheet, row, 0, wellName(i));
        w.text(sheet, row, 1, roleName(well.role));
        w.text(sheet, row, 2, well.id);
        w.number(sheet, row, 3, r.od, w.density);
        w.number(sheet, row, 4, r.corrected, w.density);
        if (well.role == TWellRole::Standard)
            w.number(sheet, row, 5, well.concentration, nullptr);
        else if (curve && r.concentration.where == TConcentration::Inside)
            w.number(sheet, row, 5, r.concentration.value * well.dilution, nullptr);
        else if (curve && well.role == TWellRole::Sample && r.concentration.where == TConcentration::Below)
            w.text(sheet, row, 5, QStringLiteral("< ") + QString::number(result.curve->lloq * well.dilution, 'g', 6));
        else if (curve && well.role == TWellRole::Sample && r.concentration.where == TConcentration::Above)
            w.text(sheet, row, 5, QStringLiteral("> ") + QString::number(result.curve->uloq * well.dilution, 'g', 6));
        w.number(sheet, row, 6, r.index, w.two);
        w.text(sheet, row, 7, verdictText(r.verdict));
    }
}

} // namespace

QString writeAnalysisWorkbook(const QString &path, const TPlateOd &od, const TPlateLayout &layout,
                              const TAnalysis &result, const TRunIdentity &identity, const TAnalysisSettings &settings)
{
    return plate::writeWorkbook(path, [&](lxw_workbook *book) {
        TSheetWriter writer(book);
        resultsSheet(writer, layout, result, identity, settings);
        platesSheets(writer, od, layout);
        wellsSheet(writer, layout, result);
        return int(writer.first);
    });
}
