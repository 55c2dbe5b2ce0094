#include "analysis/Worklist.h"

#include "common/Cp1251.h"

#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>

#include <algorithm>
#include <limits>
#include <map>

namespace analysis {

namespace {
/// Headers a lab's or a LIS's export gives its columns, compared without case, blanks
/// and underscores.
const QStringList idHeaders{QStringLiteral("id"),        QStringLiteral("sampleid"),   QStringLiteral("sample"),
                            QStringLiteral("specimen"),  QStringLiteral("specimenid"), QStringLiteral("barcode"),
                            QStringLiteral("code"),      QStringLiteral("образец"),    QStringLiteral("ид"),
                            QStringLiteral("идобразца"), QStringLiteral("кодобразца"), QStringLiteral("код"),
                            QStringLiteral("штрихкод"),  QStringLiteral("штрих-код"),  QStringLiteral("номер"),
                            QStringLiteral("№"),         QStringLiteral("№образца"),   QStringLiteral("номеробразца"),
                            QStringLiteral("проба")};
const QStringList dilutionHeaders{QStringLiteral("dilution"),  QStringLiteral("dil"),    QStringLiteral("factor"),
                                  QStringLiteral("разведение"), QStringLiteral("развед"), QStringLiteral("кратность")};

QString headerWord(const QString &field)
{
    QString word = field.toLower();
    word.remove(QRegularExpression(QStringLiteral("[\\s_.:]")));
    return word;
}

QString decode(const QByteArray &bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(bytes.mid(3));
    if (bytes.startsWith("\xFF\xFE") || bytes.startsWith("\xFE\xFF")) {
        QStringDecoder utf16(QStringDecoder::Utf16, QStringDecoder::Flag::ConvertInitialBom);
        QString text = utf16.decode(bytes);
        if (text.startsWith(QChar(0xFEFF)))
            text.remove(0, 1);
        return text;
    }
    // Without a mark: UTF-8 when every byte fits it, else the Russian desktop's code page.
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    return utf8.hasError() ? fromCp1251(bytes) : text;
}

struct TSplit
{
    QStringList fields;
    bool unclosedQuote = false;
};

/// A line's fields, quotes undone as spreadsheets write them ("a;""b""" is a;"b").
TSplit splitFields(const QString &line, QChar separator)
{
    TSplit split;
    split.fields << QString();
    bool quoted = false, wasQuoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == u'"' && i + 1 < line.size() && line[i + 1] == u'"')
                split.fields.last() += c, ++i;
            else if (c == u'"')
                quoted = false;
            else
                split.fields.last() += c;
        } else if (c == u'"' && split.fields.last().trimmed().isEmpty()) {
            quoted = wasQuoted = true;
            split.fields.last().clear();
        } else if (!separator.isNull() && c == separator) {
            split.fields << QString();
            wasQuoted = false;
        } else if (!(wasQuoted && c.isSpace())) {
            split.fields.last() += c;
        }
    }
    split.unclosedQuote = quoted;
    for (QString &field : split.fields)
        field = field.trimmed();
    return split;
}

/// Lines in which the character stands outside quotes.
int linesWith(const QStringList &lines, QChar separator)
{
    int count = 0;
    for (const QString &line : lines) {
        bool quoted = false;
        for (const QChar c : line) {
            if (c == u'"')
                quoted = !quoted;
            else if (c == separator && !quoted) {
                ++count;
                break;
            }
        }
    }
    return count;
}

/// "10", "2,5", "1:10" (one part in ten): the dilution; none when it is no number above zero.
std::optional<double> parseDilution(const QString &text)
{
    static const QRegularExpression ratio(QStringLiteral("^1\\s*:\\s*(.+)$"));
    const auto match = ratio.match(text);
    const auto value = parseNumber(match.hasMatch() ? match.captured(1) : text);
    return value && *value > 0 ? value : std::nullopt;
}

bool hasControl(const QString &text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.category() == QChar::Other_Control; });
}

std::vector<int> allWells()
{
    std::vector<int> wells(wellCount);
    for (int i = 0; i < wellCount; ++i)
        wells[size_t(i)] = i;
    return wells;
}

QString wellsText(const std::vector<int> &wells)
{
    QStringList names;
    for (const int well : wells)
        names << wellName(well);
    return names.join(QStringLiteral(", "));
}
} // namespace

TWorklist parseWorklist(const QByteArray &bytes, TWorklistKind kind, std::optional<bool> header)
{
    TWorklist list;
    const QStringList lines = decode(bytes).split(QRegularExpression(QStringLiteral("\r\n|\r|\n")));
    std::map<QString, int> seen; // ID → the line it came first
    const auto complain = [&list](int line, const QString &text) { list.complaints.push_back({line, text}); };
    const auto take = [&](int line, const QString &id, std::optional<double> dilution) {
        if (id.isEmpty())
            return complain(line, QStringLiteral("пустой ID."));
        if (hasControl(id))
            return complain(line, QStringLiteral("в ID «%1» управляющий символ.").arg(QString(id).replace(QRegularExpression(QStringLiteral("\\p{Cc}")), QStringLiteral("?"))));
        if (const auto before = seen.find(id); before != seen.end())
            return complain(line, QStringLiteral("ID «%1» уже был в строке %2.").arg(id).arg(before->second));
        seen.emplace(id, line);
        list.rows.push_back({line, id, dilution});
    };

    if (kind == TWorklistKind::Barcodes) {
        // What the reader typed: each line one ID, whatever signs it holds.
        for (int i = 0; i < lines.size(); ++i)
            if (const QString id = lines[i].trimmed(); !id.isEmpty())
                take(i + 1, id, std::nullopt);
        return list;
    }

    int best = 0;
    for (const QChar candidate : {QChar(u'\t'), QChar(u';'), QChar(u',')}) {
        const int count = linesWith(lines, candidate);
        if (count > best)
            best = count, list.separator = candidate;
    }
    int idColumn = 0, dilutionColumn = 1, columns = 2;
    bool first = true;
    for (int i = 0; i < lines.size(); ++i) {
        const int line = i + 1;
        if (lines[i].trimmed().isEmpty())
            continue;
        const TSplit split = splitFields(lines[i], list.separator);
        QStringList fields = split.fields;
        if (first) {
            first = false;
            // A header names the columns; only known names make one, since a first
            // sample taken for a header would move every later one.
            int named = -1, dilutionNamed = -1;
            for (int f = 0; f < fields.size(); ++f) {
                const QString word = headerWord(fields[f]);
                if (named < 0 && idHeaders.contains(word))
                    named = f;
                else if (dilutionNamed < 0 && dilutionHeaders.contains(word))
                    dilutionNamed = f;
            }
            const bool known = named >= 0 || dilutionNamed >= 0;
            if (header.value_or(known)) {
                list.hasHeader = true;
                idColumn = named >= 0 ? named : (dilutionNamed == 0 ? 1 : 0);
                dilutionColumn = known ? dilutionNamed : (fields.size() > 1 ? 1 : -1);
                columns = std::max(1, int(fields.size()));
                continue;
            }
        }
        if (split.unclosedQuote) {
            complain(line, QStringLiteral("кавычка не закрыта."));
            continue;
        }
        while (fields.size() > 1 && fields.last().isEmpty()) // a spreadsheet's empty cells at the end
            fields.removeLast();
        if (std::all_of(fields.begin(), fields.end(), [](const QString &f) { return f.isEmpty(); }))
            continue;
        if (fields.size() > columns) {
            complain(line, list.hasHeader ? QStringLiteral("полей %1, а в заголовке %2 (дробное разведение пишите с точкой или "
                                                           "в кавычках).")
                                                .arg(fields.size())
                                                .arg(columns)
                                          : QStringLiteral("полей %1, а ждем два: ID и разведение (дробное разведение пишите с "
                                                           "точкой или в кавычках).")
                                                .arg(fields.size()));
            continue;
        }
        const QString dilutionText = dilutionColumn >= 0 ? fields.value(dilutionColumn) : QString();
        std::optional<double> dilution;
        if (!dilutionText.isEmpty()) {
            dilution = parseDilution(dilutionText);
            if (!dilution) {
                complain(line, QStringLiteral("разведение «%1» не число больше нуля.").arg(dilutionText));
                continue;
            }
        }
        take(line, fields.value(idColumn), dilution);
    }
    if (list.rows.empty() && list.complaints.empty())
        complain(0, QStringLiteral("В файле нет ни одного ID."));
    return list;
}

std::vector<TSamplePosition> samplePositions(const TPlateLayout &layout, TWellOrder order)
{
    std::vector<TSamplePosition> positions;
    std::map<QString, size_t> byId;
    for (const int i : inOrder(allWells(), order)) {
        const TWell &well = layout.wells[size_t(i)];
        if (well.role != TWellRole::Sample)
            continue;
        auto found = byId.find(well.id);
        if (found == byId.end()) {
            found = byId.emplace(well.id, positions.size()).first;
            positions.push_back({well.id, {}, well.dilution});
        }
        positions[found->second].wells.push_back(i);
    }
    return positions;
}

TWellOrder numberingOrder(const TPlateLayout &layout)
{
    const auto ascends = [&layout](TWellOrder order) {
        int last = std::numeric_limits<int>::min();
        for (const TSamplePosition &position : samplePositions(layout, order)) {
            bool number = false;
            const int value = position.id.toInt(&number);
            if (!number || value <= last)
                return false;
            last = value;
        }
        return true;
    };
    return ascends(TWellOrder::ByRows) && !ascends(TWellOrder::ByColumns) ? TWellOrder::ByRows : TWellOrder::ByColumns;
}

bool TWorklistMapping::applicable() const
{
    return complaints.empty() && std::any_of(rows.begin(), rows.end(), [](const auto &row) { return row.has_value(); });
}

TWorklistMapping mapWorklist(const TWorklist &list, const TPlateLayout &layout, TWellOrder order)
{
    TWorklistMapping mapping;
    mapping.positions = samplePositions(layout, order);
    mapping.rows.resize(mapping.positions.size());
    mapping.complaints = list.complaints;
    if (mapping.positions.empty()) {
        mapping.complaints.push_back({0, QStringLiteral("На раскладке нет образцов: сначала отметьте лунки образцов.")});
        return mapping;
    }
    const size_t reached = std::min(list.rows.size(), mapping.positions.size());
    for (size_t k = 0; k < reached; ++k)
        mapping.rows[k] = list.rows[k];
    for (size_t k = reached; k < list.rows.size(); ++k)
        mapping.complaints.push_back({list.rows[k].line, QStringLiteral("образец «%1» лишний: мест для образцов на раскладке %2.")
                                                             .arg(list.rows[k].id)
                                                             .arg(mapping.positions.size())});
    // A position the list does not reach keeps its ID; the list must not give it again.
    for (size_t k = 0; k < reached; ++k)
        for (size_t kept = reached; kept < mapping.positions.size(); ++kept)
            if (mapping.positions[kept].id == list.rows[k].id)
                mapping.complaints.push_back({list.rows[k].line, QStringLiteral("ID «%1» остается у места %2 (%3), до которого "
                                                                                "список не доходит.")
                                                                     .arg(list.rows[k].id)
                                                                     .arg(kept + 1)
                                                                     .arg(wellsText(mapping.positions[kept].wells))});
    std::stable_sort(mapping.complaints.begin(), mapping.complaints.end(),
                     [](const TWorklistComplaint &l, const TWorklistComplaint &r) { return l.line < r.line; });
    return mapping;
}

TPlateLayout applyWorklist(const TPlateLayout &layout, const TWorklistMapping &mapping)
{
    if (!mapping.applicable())
        return layout;
    TPlateLayout changed = layout;
    for (size_t k = 0; k < mapping.positions.size(); ++k) {
        if (!mapping.rows[k])
            continue;
        for (const int well : mapping.positions[k].wells) {
            changed.wells[size_t(well)].id = mapping.rows[k]->id;
            if (mapping.rows[k]->dilution)
                changed.wells[size_t(well)].dilution = *mapping.rows[k]->dilution;
        }
    }
    return changed;
}

QString complaintText(const TWorklistComplaint &complaint)
{
    if (complaint.line <= 0)
        return complaint.text;
    return QStringLiteral("Строка %1: %2").arg(complaint.line).arg(complaint.text);
}

} // namespace analysis
