#pragma once
// The plate's optical densities read back from any file the program writes that holds
// a whole plate: the instrument's table text, the wells' CSV of the reader page and
// the analysis's CSV (each for a spreadsheet and for a LIS), and the two workbooks
// (the table's sheet "Планшет", the analysis's sheet "ОП"). Known by their content,
// whatever the extension. A file that is none of them, or holds no whole plate, is
// refused in words.

#include "analysis/PlateAnalysis.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace plateFiles {

constexpr qint64 largestFile = 16 << 20; ///< bytes: a plate's file is far smaller; larger is refused unread

/// A plate read from a file, or why not.
struct TPlateRead
{
    std::optional<analysis::TPlateOd> od; ///< the 96 wells, row A first; none where the file has no number
    QString kind;                         ///< what the file was, for the status line
    QString error;                        ///< why no plate, in words for the user; empty with a plate
};

/// Reads the plate from a file's bytes.
TPlateRead readPlate(const QByteArray &bytes);

} // namespace plateFiles
