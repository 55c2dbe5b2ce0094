#include "link/PortNames.h"

#include <QRegularExpression>

#include <algorithm>
#include <tuple>
#include <vector>

namespace PortNames {

namespace {

/// A device name split into what decides its COM position.
struct TRankedDevice
{
    int group;      ///< 0 ttyUSB, 1 ttyACM, 2 ttyS, 3 anything else
    QString stem;   ///< the name without its trailing number
    qint64 number;  ///< the trailing number, -1 when there is none
    QString device; ///< the name as given
};

TRankedDevice rank(const QString &device)
{
    static const QRegularExpression numbered(QStringLiteral("^(.*?)(\\d+)$"));
    const QString base = device.section(QLatin1Char('/'), -1);

    TRankedDevice ranked{3, base, -1, device};
    const QRegularExpressionMatch match = numbered.match(base);
    if (match.hasMatch()) {
        bool ok = false;
        const qint64 number = match.captured(2).toLongLong(&ok);
        if (ok) {
            ranked.stem = match.captured(1);
            ranked.number = number;
        }
    }
    if (ranked.number >= 0) {
        if (ranked.stem == QLatin1String("ttyUSB"))
            ranked.group = 0;
        else if (ranked.stem == QLatin1String("ttyACM"))
            ranked.group = 1;
        else if (ranked.stem == QLatin1String("ttyS"))
            ranked.group = 2;
    }
    return ranked;
}

} // namespace

QStringList comPortOrder(const QStringList &devices)
{
    std::vector<TRankedDevice> ranked;
    ranked.reserve(size_t(devices.size()));
    for (const QString &device : devices) {
        if (device.isEmpty())
            continue;
        const bool seen = std::any_of(ranked.begin(), ranked.end(), [&](const TRankedDevice &r) {
            return r.device == device;
        });
        if (!seen)
            ranked.push_back(rank(device));
    }
    std::sort(ranked.begin(), ranked.end(), [](const TRankedDevice &a, const TRankedDevice &b) {
        return std::tie(a.group, a.stem, a.number, a.device)
             < std::tie(b.group, b.stem, b.number, b.device);
    });

    QStringList ordered;
    for (const TRankedDevice &r : ranked) {
        if (ordered.size() == comPortCount)
            break;
        ordered.append(r.device);
    }
    return ordered;
}

QStringList keepComNumbers(const QStringList &before, const QStringList &now, const QString &open)
{
    QStringList kept(comPortCount);
    for (int i = 0; i < before.size() && i < comPortCount; ++i) {
        if (!before.at(i).isEmpty() && (now.contains(before.at(i)) || before.at(i) == open))
            kept[i] = before.at(i);
    }
    for (const QString &device : now) {
        if (kept.contains(device))
            continue;
        const qsizetype free = kept.indexOf(QString());
        if (free < 0)
            break;
        kept[free] = device;
    }
    while (!kept.isEmpty() && kept.constLast().isEmpty())
        kept.removeLast();
    return kept;
}

} // namespace PortNames
