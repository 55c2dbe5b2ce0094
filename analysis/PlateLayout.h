#pragma once
// The plate layout: the role of each of the 96 wells (empty, blank, negative or
// positive control, calibrator with its concentration, sample with its ID), how roles
// are given to a group of wells, and the layout file, a small JSON document:
//
//   { "format": "lorit-plate-layout", "version": 1, "name": "<test system>",
//     "wells": [ { "well": "A1", "role": "blank" },
//                { "well": "B1", "role": "standard", "concentration": 6.25 },
//                { "well": "B2", "role": "standard", "concentration": 6.25, "masked": true },
//                { "well": "C3", "role": "sample", "id": "П-017", "dilution": 10 }, … ] }
//
// Roles: "blank", "negative", "positive", "standard", "sample"; wells not listed are
// empty. Concentrations are numbers in the kit's units; "masked" leaves a calibrator
// well out of the curve as an outlier; "dilution" (1 when absent) multiplies a
// sample's concentration.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

namespace analysis {

constexpr int plateRows = 8, plateColumns = 12, wellCount = plateRows * plateColumns;

enum class TWellRole { Empty, Blank, Negative, Positive, Standard, Sample };

struct TWell
{
    TWellRole role = TWellRole::Empty;
    QString id;               ///< a sample's ID; replicates share it
    double concentration = 0; ///< a calibrator's
    double dilution = 1;      ///< a sample's: its concentration is the curve's times this
    bool masked = false;      ///< a calibrator well left out of the fit as an outlier
};

struct TPlateLayout
{
    QString name; ///< the test system it is for
    std::array<TWell, wellCount> wells{};
};

/// "A1" … "H12" for a well index 0 … 95 (row A first); and back, nothing when no well.
QString wellName(int index);
std::optional<int> wellIndex(const QString &name);
/// The role as the page shows it ("бланк", "K−", "K+", "калибратор", "образец", "").
QString roleName(TWellRole role);
/// The short mark in a plate cell ("Б", "K−", "K+", "К" with the calibrator's
/// concentration after it, "")
QString roleMark(TWellRole role);

enum class TWellOrder { ByColumns, ByRows }; ///< A1, B1 … H1, A2 …  or  A1, A2 … A12, B1 …
/// The wells in the order numbering walks them.
std::vector<int> inOrder(std::vector<int> wells, TWellOrder order);

/// What a group of wells becomes: the role; the number of replicates (neighbours in
/// the order that share an ID or a concentration); for calibrators the
/// concentrations in turn, for samples the IDs in turn (none: numbers go on from the
/// highest numeric ID on the plate).
struct TAssignment
{
    TWellRole role = TWellRole::Empty;
    TWellOrder order = TWellOrder::ByColumns;
    int replicates = 1;
    QStringList values; ///< IDs, or concentrations as typed ("6,25" or "6.25")
    double dilution = 1; ///< for samples: how many times they were diluted
};

/// Gives the wells their role. Nothing changes and the reason comes back when the
/// values do not suffice for the groups or a concentration is no number.
QString assign(TPlateLayout &layout, const std::vector<int> &wells, const TAssignment &assignment);
/// Leaves the calibrator wells among `wells` out of the curve as outliers, or takes
/// them back when all of them were left out; other wells are not touched. The number
/// of calibrator wells changed comes back.
int toggleMask(TPlateLayout &layout, const std::vector<int> &wells);

/// A list pasted or typed: one item per line, or separated by ';' or tabs.
QStringList splitList(const QString &text);
/// A number typed with a point or a comma.
std::optional<double> parseNumber(const QString &text);

QByteArray layoutToJson(const TPlateLayout &layout);
/// The layout from a file's bytes; on failure nothing and the reason in `error`.
std::optional<TPlateLayout> layoutFromJson(const QByteArray &json, QString *error);

} // namespace analysis
