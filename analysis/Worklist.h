#pragma once
// The worklist: the lab's order of samples for a plate, from a CSV file (sample ID and,
// optionally, dilution; ';', ',' or a tab between them; a header row or none) or from
// the list a barcode reader typed (one ID per line). Each row goes to one sample
// position of the layout in plate order; the replicates of a position share its ID.
// Rows that cannot be used are told by their line number, and while any is told the
// list is not applied: one row left out would move every later sample onto the wrong
// wells.

#include "analysis/PlateLayout.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace analysis {

enum class TWorklistKind { Csv, Barcodes };

struct TWorklistRow
{
    int line = 0; ///< 1-based line of the file
    QString id;
    std::optional<double> dilution; ///< none: the position keeps its own
};

struct TWorklistComplaint
{
    int line = 0; ///< 0: the file as a whole
    QString text; ///< in the lab's words, without the line number
};

struct TWorklist
{
    std::vector<TWorklistRow> rows; ///< the usable rows, in the file's order
    std::vector<TWorklistComplaint> complaints;
    bool hasHeader = false;
    QChar separator; ///< null for one column
};

/// The list from a file's bytes: UTF-8 with or without its mark, UTF-16 with its mark,
/// else code page 1251. A CSV's first row is its header when it names a column
/// ("ID", "Образец", "Разведение", …), unless `header` says otherwise.
TWorklist parseWorklist(const QByteArray &bytes, TWorklistKind kind, std::optional<bool> header = std::nullopt);

/// One sample position of the layout: the wells that share an ID, in plate order.
struct TSamplePosition
{
    QString id;
    std::vector<int> wells;
    double dilution = 1;
};
/// The layout's sample positions, ordered by their first well in `order`.
std::vector<TSamplePosition> samplePositions(const TPlateLayout &layout, TWellOrder order);
/// The order in which the layout's own numbers ascend (the order it was numbered in),
/// by columns when its IDs are not all numbers or ascend both ways.
TWellOrder numberingOrder(const TPlateLayout &layout);

struct TWorklistMapping
{
    std::vector<TSamplePosition> positions; ///< every position of the layout, in order
    /// For each position the row it gets; none: the position keeps its ID.
    std::vector<std::optional<TWorklistRow>> rows;
    std::vector<TWorklistComplaint> complaints; ///< the list's own and the mapping's
    bool applicable() const;
};

/// Row n to position n. Told besides the list's own complaints: more rows than
/// positions, a layout without samples, and an ID that a position the list does not
/// reach keeps (the two would become one sample).
TWorklistMapping mapWorklist(const TWorklist &list, const TPlateLayout &layout, TWellOrder order);
/// The layout with the mapping's IDs and dilutions; the layout as it was when the
/// mapping cannot be applied.
TPlateLayout applyWorklist(const TPlateLayout &layout, const TWorklistMapping &mapping);

/// "Строка 4: пустой ID." as the complaints are shown.
QString complaintText(const TWorklistComplaint &complaint);

} // namespace analysis
