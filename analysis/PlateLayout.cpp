#include "analysis/PlateLayout.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace analysis {

namespace {
const QString formatTag = QStringLiteral("lorit-plate-layout");
constexpr int formatVersion = 1;

struct TRoleText
{
    TWellRole role;
    const char *file;
};
constexpr TRoleText roleTexts[] = {{TWellRole::Blank, "blank"},
                                   {TWellRole::Negative, "negative"},
                                   {TWellRole::Positive, "positive"},
                                   {TWellRole::Standard, "standard"},
                                   {TWellRole::Sample, "sample"}};

int highestNumericId(const TPlateLayout &layout)
{
    int highest = 0;
    for (const TWell &well : layout.wells) {
        bool ok = false;
        const int number = well.id.toInt(&ok);
        if (well.role == TWellRole::Sample && ok)
            highest = std::max(highest, number);
    }
    return highest;
}
} // namespace

QString wellName(int index)
{
    return QStringLiteral("%1%2").arg(QChar(u'A' + index / plateColumns)).arg(index % plateColumns + 1);
}

std::optional<int> wellIndex(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^([A-Ha-h])(\\d{1,2})$"));
    const auto match = pattern.match(name.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const int row = match.captured(1).toUpper().at(0).unicode() - u'A';
    const int column = match.captured(2).toInt();
    if (column < 1 || column > plateColumns)
        return std::nullopt;
    return row * plateColumns + column - 1;
}

QString roleName(TWellRole role)
{
    switch (role) {
    case TWellRole::Empty: return {};
    case TWellRole::Blank: return QStringLiteral("бланк");
    case TWellRole::Negative: return QStringLiteral("K−");
    case TWellRole::Positive: return QStringLiteral("K+");
    case TWellRole::Standard: return QStringLiteral("калибратор");
    case TWellRole::Sample: return QStringLiteral("образец");
    }
    return {};
}

QString roleMark(TWellRole role)
{
    switch (role) {
    case TWellRole::Blank: return QStringLiteral("Б");
    case TWellRole::Standard: return QStringLiteral("К"); // Cyrillic, as the kits' inserts mark calibrators
    default: return roleName(role);
    }
}

std::vector<int> inOrder(std::vector<int> wells, TWellOrder order)
{
    const auto key = [order](int index) {
        const int row = index / plateColumns, column = index % plateColumns;
        return order == TWellOrder::ByColumns ? column * plateRows + row : index;
    };
    std::sort(wells.begin(), wells.end(), [&key](int l, int r) { return key(l) < key(r); });
    wells.erase(std::unique(wells.begin(), wells.end()), wells.end());
    return wells;
}

QStringList splitList(const QString &text)
{
    static const QRegularExpression separators(QStringLiteral("[;\\t\\r\\n]+"));
    QStringList items;
    for (const QString &item : text.split(separators, Qt::SkipEmptyParts))
        if (!item.trimmed().isEmpty())
            items << item.trimmed();
    return items;
}

std::optional<double> parseNumber(const QString &text)
{
    bool ok = false;
    const double value = QString(text.trimmed()).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok && std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

QString assign(TPlateLayout &layout, const std::vector<int> &wells, const TAssignment &assignment)
{
    const std::vector<int> ordered = inOrder(wells, assignment.order);
    const int replicates = std::max(1, assignment.replicates);
    const int groups = (int(ordered.size()) + replicates - 1) / replicates;
    TPlateLayout changed = layout;
    if (assignment.role == TWellRole::Standard) {
        if (assignment.values.size() < groups)
            return QStringLiteral("Выбрано калибраторов: %1 (лунок в каждом: %2), а концентраций задано %3. Введите "
                                  "концентрации через «;», по одной на калибратор.")
                .arg(groups)
                .arg(replicates)
                .arg(assignment.values.size());
    } else if (assignment.role == TWellRole::Sample && !assignment.values.isEmpty()
               && assignment.values.size() < groups) {
        return QStringLiteral("Выбрано образцов: %1 (лунок в каждом: %2), а ID в списке %3.")
            .arg(groups)
            .arg(replicates)
            .arg(assignment.values.size());
    }
    const int firstNumber = highestNumericId(layout) + 1;
    for (size_t i = 0; i < ordered.size(); ++i) {
        const int group = int(i) / replicates;
        TWell well;
        well.role = assignment.role;
        if (assignment.role == TWellRole::Standard) {
            const auto concentration = parseNumber(assignment.values[group]);
            if (!concentration || *concentration < 0)
                return QStringLiteral("Концентрация «%1» не число (или меньше нуля).").arg(assignment.values[group]);
            well.concentration = *concentration;
        } else if (assignment.role == TWellRole::Sample) {
            well.id = assignment.values.isEmpty() ? QString::number(firstNumber + group) : assignment.values[group];
            if (!(assignment.dilution > 0))
                return QStringLiteral("Разведение должно быть больше нуля.");
            well.dilution = assignment.dilution;
        }
        changed.wells[size_t(ordered[i])] = well;
    }
    layout = changed;
    return {};
}

int toggleMask(TPlateLayout &layout, const std::vector<int> &wells)
{
    std::vector<TWell *> standards;
    for (const int i : wells)
        if (i >= 0 && i < wellCount && layout.wells[size_t(i)].role == TWellRole::Standard)
            standards.push_back(&layout.wells[size_t(i)]);
    const bool allMasked = std::all_of(standards.begin(), standards.end(), [](const TWell *w) { return w->masked; });
    for (TWell *well : standards)
        well->masked = !allMasked;
    return int(standards.size());
}

QByteArray layoutToJson(const TPlateLayout &layout)
{
    QJsonArray wells;
    for (int i = 0; i < wellCount; ++i) {
        const TWell &well = layout.wells[size_t(i)];
        if (well.role == TWellRole::Empty)
            continue;
        QJsonObject entry{{QStringLiteral("well"), wellName(i)}};
        for (const TRoleText &text : roleTexts)
            if (text.role == well.role)
                entry[QStringLiteral("role")] = QLatin1String(text.file);
        if (well.role == TWellRole::Standard)
            entry[QStringLiteral("concentration")] = well.concentration;
        if (well.role == TWellRole::Standard && well.masked)
            entry[QStringLiteral("masked")] = true;
        if (well.role == TWellRole::Sample)
            entry[QStringLiteral("id")] = well.id;
        if (well.role == TWellRole::Sample && well.dilution != 1)
            entry[QStringLiteral("dilution")] = well.dilution;
        wells.append(entry);
    }
    const QJsonObject root{{QStringLiteral("format"), formatTag},
                           {QStringLiteral("version"), formatVersion},
                           {QStringLiteral("name"), layout.name},
                           {QStringLiteral("wells"), wells}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<TPlateLayout> layoutFromJson(const QByteArray &json, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return fail(QStringLiteral("это не файл раскладки (ошибка JSON: %1)").arg(parseError.errorString()));
    const QJsonObject root = document.object();
    if (root.value(QStringLiteral("format")).toString() != formatTag)
        return fail(QStringLiteral("это не файл раскладки планшета"));
    if (root.value(QStringLiteral("version")).toInt() > formatVersion)
        return fail(QStringLiteral("раскладка записана более новой версией программы"));
    TPlateLayout layout;
    layout.name = root.value(QStringLiteral("name")).toString();
    for (const QJsonValue &value : root.value(QStringLiteral("wells")).toArray()) {
        const QJsonObject entry = value.toObject();
        const QString name = entry.value(QStringLiteral("well")).toString();
        const auto index = wellIndex(name);
        if (!index)
            return fail(QStringLiteral("лунки «%1» на планшете 8 × 12 нет").arg(name));
        TWell well;
        const QString role = entry.value(QStringLiteral("role")).toString();
        for (const TRoleText &text : roleTexts)
            if (role == QLatin1String(text.file))
                well.role = text.role;
        if (well.role == TWellRole::Empty)
            return fail(QStringLiteral("у лунки %1 неизвестная роль «%2»").arg(name, role));
        if (well.role == TWellRole::Standard) {
            const QJsonValue concentration = entry.value(QStringLiteral("concentration"));
            if (!concentration.isDouble() || concentration.toDouble() < 0)
                return fail(QStringLiteral("у калибратора в лунке %1 нет концентрации").arg(name));
            well.concentration = concentration.toDouble();
            well.masked = entry.value(QStringLiteral("masked")).toBool(false);
        }
        if (well.role == TWellRole::Sample) {
            well.id = entry.value(QStringLiteral("id")).toString().trimmed();
            if (well.id.isEmpty())
                return fail(QStringLiteral("у образца в лунке %1 нет ID").arg(name));
            well.dilution = entry.value(QStringLiteral("dilution")).toDouble(1);
            if (!(well.dilution > 0))
                return fail(QStringLiteral("у образца в лунке %1 разведение не больше нуля").arg(name));
        }
        layout.wells[size_t(*index)] = well;
    }
    return layout;
}

} // namespace analysis
