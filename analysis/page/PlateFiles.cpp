#include "analysis/page/PlateFiles.h"

#include "common/Cp1251.h"
#include "common/ZipReader.h"
#include "measure/MeasureData.h"
#include "measure/PlateWorkbook.h"

#include <QMap>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <cmath>

using namespace analysis;

namespace plateFiles {

namespace {

TPlateRead refused(const QString &why) { return {std::nullopt, {}, why}; }

/// A density as the program writes it, with a point or a comma, in full or in the
/// shortest form ("1e-05"); anything else ("OVER", blank) is no number.
std::optional<double> density(QString text)
{
    text = text.trimmed().replace(QLatin1Char(','), QLatin1Char('.'));
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+(\\.\\d*)?|\\.\\d+)([eE][+-]?\\d+)?$"));
    if (!number.match(text).hasMatch())
        return std::nullopt;
    bool ok = false;
    const double value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

/// The text of a CSV: UTF-8 after its mark or when it reads as such, else code page 1251
/// (the spreadsheet's dialect).
QString csvText(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? fromCp1251(bytes) : text;
}

/// The records of a CSV: fields split by `separator`, quotes undone, a line end inside
/// quotes kept; an empty line is no record.
QList<QStringList> csvRecords(const QString &text, QChar separator)
{
    QList<QStringList> records;
    QStringList fields{QString()};
    bool quoted = false, any = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"'))
                fields.last() += c, ++i;
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                fields.last() += c;
        } else if (c == QLatin1Char('"')) {
            quoted = any = true;
        } else if (c == separator) {
            fields << QString();
            any = true;
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            if (any || !fields.last().isEmpty())
                records << fields;
            fields = QStringList{QString()};
            any = false;
        } else {
            fields.last() += c;
            any = true;
        }
    }
    if (any || !fields.last().isEmpty())
        records << fields;
    return records;
}

/// Collects the wells one by one and tells what is missing or twice.
class TPlateCollector
{
public:
    /// False with `error` set when the well is no well or was there already.
    bool add(const QString &name, const std::optional<double> &value, const QString &where)
    {
        const auto index = wellIndex(name.trimmed());
        if (!index) {
            error = QStringLiteral("%1: лунки «%2» на планшете 8 × 12 нет").arg(where, name.trimmed());
            return false;
        }
        if (m_seen[size_t(*index)]) {
            error = QStringLiteral("%1: лунка %2 второй раз").arg(where, wellName(*index));
            return false;
        }
        m_seen[size_t(*index)] = true;
        m_od[size_t(*index)] = value;
        return true;
    }
    /// The plate when every well came; else none, with the missing ones named.
    std::optional<TPlateOd> plate()
    {
        QStringList missing;
        for (int i = 0; i < wellCount; ++i)
            if (!m_seen[size_t(i)])
                missing << wellName(i);
        if (missing.isEmpty())
            return m_od;
        error = missing.size() == wellCount ? QStringLiteral("в нем нет ни одной лунки")
                                            : QStringLiteral("в нем нет лунок %1 (всего %2 из 96)")
                                                  .arg(missing.mid(0, 5).join(QStringLiteral(", ")) + (missing.size() > 5 ? QStringLiteral(", …") : QString()))
                                                  .arg(missing.size());
        return std::nullopt;
    }
    QString error;

private:
    std::array<bool, wellCount> m_seen{};
    TPlateOd m_od{};
};

TPlateRead readCsv(const QByteArray &bytes)
{
    const QString text = csvText(bytes);
    const QString firstLine = text.section(QLatin1Char('\n'), 0, 0);
    const QChar separator = firstLine.count(QLatin1Char(';')) > firstLine.count(QLatin1Char(',')) ? QLatin1Char(';') : QLatin1Char(',');
    const QList<QStringList> records = csvRecords(text, separator);
    const QStringList head = records.value(0);
    const qsizetype level = head.indexOf(QStringLiteral("level"));
    qsizetype well = head.indexOf(QStringLiteral("Well")), od = head.indexOf(QStringLiteral("OD"));
    QString kind = QStringLiteral("CSV лунок");
    if (well < 0 && level >= 0) {
        // The analysis's CSV: its "well" rows carry the plate, the "sample" rows come first.
        well = head.indexOf(QStringLiteral("wells"));
        od = head.indexOf(QStringLiteral("od"));
        kind = QStringLiteral("CSV анализа");
    }
    if (well < 0 || od < 0)
        return refused(QStringLiteral("это не таблица прибора, не CSV лунок или анализа и не книга, которые пишет программа"));
    TPlateCollector plate;
    for (qsizetype r = 1; r < records.size(); ++r) {
        const QStringList &fields = records.at(r);
        if (level >= 0 && fields.value(level) != QLatin1String("well"))
            continue;
        if (fields.size() != head.size())
            return refused(QStringLiteral("строка %1: полей %2, а в заголовке %3").arg(r + 1).arg(fields.size()).arg(head.size()));
        if (!plate.add(fields.at(well), density(fields.at(od)), QStringLiteral("строка %1").arg(r + 1)))
            return refused(plate.error);
    }
    const auto od96 = plate.plate();
    if (!od96)
        return refused(plate.error);
    return {od96, kind, {}};
}

/// "B5" as a row and a column from 0; none for anything else.
std::optional<std::pair<int, int>> cellPlace(QStringView reference)
{
    int column = 0, at = 0;
    while (at < reference.size() && reference.at(at) >= QLatin1Char('A') && reference.at(at) <= QLatin1Char('Z') && at < 3)
        column = column * 26 + (reference.at(at++).unicode() - 'A' + 1);
    bool ok = false;
    const int row = reference.mid(at).toInt(&ok);
    if (at == 0 || !ok || row < 1)
        return std::nullopt;
    return std::make_pair(row - 1, column - 1);
}

struct TCell
{
    bool number = false;
    QString value;
};

/// The cells of a worksheet by row and column; numbers as numbers, anything else as not.
QMap<std::pair<int, int>, TCell> sheetCells(const QByteArray &xml)
{
    QMap<std::pair<int, int>, TCell> cells;
    QXmlStreamReader reader(xml);
    std::optional<std::pair<int, int>> place;
    TCell cell;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isStartElement() && reader.name() == QLatin1String("c")) {
            place = cellPlace(reader.attributes().value(QStringLiteral("r")));
            const auto type = reader.attributes().value(QStringLiteral("t"));
            cell = {type.isEmpty() || type == QLatin1String("n"), {}};
        } else if (reader.isStartElement() && reader.name() == QLatin1String("v") && place) {
            cell.value = reader.readElementText();
            cells.insert(*place, cell);
        }
    }
    return cells;
}

TPlateRead readWorkbook(const QByteArray &bytes)
{
    QString error;
    const auto workbook = zip::entry(bytes, QStringLiteral("xl/workbook.xml"), &error);
    const auto relations = workbook ? zip::entry(bytes, QStringLiteral("xl/_rels/workbook.xml.rels"), &error) : std::nullopt;
    if (!relations)
        return refused(QStringLiteral("книга не читается: %1").arg(error));
    // The sheets by name, and where each one's part is.
    QMap<QString, QString> sheetIds, targets;
    for (QXmlStreamReader reader(*workbook); !reader.atEnd();)
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("sheet"))
            sheetIds.insert(reader.attributes().value(QStringLiteral("name")).toString(),
                            reader.attributes().value(QStringLiteral("r:id")).toString());
    for (QXmlStreamReader reader(*relations); !reader.atEnd();)
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("Relationship"))
            targets.insert(reader.attributes().value(QStringLiteral("Id")).toString(),
                           reader.attributes().value(QStringLiteral("Target")).toString());
    // The table's workbook has its plate under two lines of facts, the analysis's at the top.
    struct TPlace
    {
        QString sheet;
        int top; ///< the row (from 0) of the well A1, the column numbers above it
        QString kind;
    };
    for (const TPlace &plateAt : {TPlace{QStringLiteral("Планшет"), 4, QStringLiteral("книга таблицы")},
                                  TPlace{QStringLiteral("ОП"), 1, QStringLiteral("книга анализа")}}) {
        if (!sheetIds.contains(plateAt.sheet))
            continue;
        QString target = targets.value(sheetIds.value(plateAt.sheet));
        target = target.startsWith(QLatin1Char('/')) ? target.mid(1) : QStringLiteral("xl/") + target;
        const auto sheet = zip::entry(bytes, target, &error);
        if (!sheet)
            return refused(QStringLiteral("лист «%1» книги не читается: %2").arg(plateAt.sheet, error));
        const auto cells = sheetCells(*sheet);
        for (int column = 1; column <= plateColumns; ++column) {
            const TCell label = cells.value({plateAt.top - 1, column});
            if (!label.number || label.value.toDouble() != column)
                return refused(QStringLiteral("на листе «%1» нет планшета: над лунками нет номеров столбцов 1 … 12").arg(plateAt.sheet));
        }
        TPlateOd od{};
        for (int i = 0; i < wellCount; ++i) {
            const TCell cell = cells.value({plateAt.top + i / plateColumns, 1 + i % plateColumns});
            if (cell.number)
                od[size_t(i)] = density(cell.value);
        }
        return {od, plateAt.kind, {}};
    }
    return refused(QStringLiteral("в книге нет листа «Планшет» или «ОП»"));
}

} // namespace

TPlateRead readPlate(const QByteArray &bytes)
{
    if (bytes.size() == od::tableLength) {
        // The instrument's own text, as "Данные в файл" keeps it.
        const auto values = od::tableValues(bytes);
        TPlateOd od{};
        for (int i = 0; i < wellCount; ++i)
            od[size_t(i)] = plate::opticalDensity(values[size_t(i)]);
        return {od, QStringLiteral("таблица прибора"), {}};
    }
    if (bytes.startsWith("PK\x03\x04"))
        return readWorkbook(bytes);
    if (bytes.isEmpty())
        return refused(QStringLiteral("файл пуст"));
    if (bytes.contains('\0'))
        return refused(QStringLiteral("это не таблица прибора, не CSV лунок или анализа и не книга, которые пишет программа"));
    return readCsv(bytes);
}

} // namespace plateFiles
