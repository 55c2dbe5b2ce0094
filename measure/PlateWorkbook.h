#pragma once
// The optical density table as a real workbook for the spreadsheet program: one sheet
// laid out as the plate, every value a number cell, so that no spreadsheet locale
// takes "0.123" for text. The hand-over copies get lasting names and never replace a
// file.

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <functional>
#include <optional>

struct lxw_workbook;

namespace plate {

/// What the table says of itself, written above the plate; each line only when known.
struct TPlateFacts
{
    QString fileName; ///< the name the instrument sent, or the saved table file's name
    QDateTime readAt; ///< when the table arrived; invalid when unknown
};

/// The outcome of making a workbook: its path, or the error for the error box.
struct TWorkbookResult
{
    QString path;  ///< the workbook written; empty on failure
    QString error; ///< empty on success
};

/// A six-byte value of the table as a number: blanks around it, an optional sign,
/// digits with a point or a comma. Anything else ("OVER", "*****", blanks) is none.
std::optional<double> opticalDensity(const QByteArray &value);

/// Writes the table as the program keeps it (873 bytes, or empty after a new request:
/// an empty plate) as an XLSX workbook at `path`, whole or not at all; a missing
/// folder is made. Returns an empty text, or "Не удалось записать книгу …: <reason>".
QString writePlateWorkbook(const QString &path, const QByteArray &table, const TPlateFacts &facts = {});

/// Writes the workbook that `fill` lays out (it returns the library's first error, 0
/// for none), whole or not at all, with numbers written with a point in any locale.
/// Returns an empty text, or "Не удалось записать книгу …: <reason>".
QString writeWorkbook(const QString &path, const std::function<int(lxw_workbook *)> &fill);

/// The folder for hand-over copies: beside the working files when the program runs
/// from its own folder, otherwise the user's documents (empty: the working files').
QString handOverFolder(const QString &programFolder, const QString &executableFolder,
                       const QString &documentsFolder);

/// The name of a hand-over copy, without extension: the instrument's file name (code
/// page 1251) without ".xls"/".txt", else "TavDat_" and the time of reading, else
/// "TavDat". A name that could leave the folder is not used.
QString handOverBaseName(const QByteArray &instrumentFileName, const QDateTime &readAt);

/// A path in `folder` that no file has yet: base + ".xlsx", then base + " (2).xlsx",
/// " (3)" …; empty when even the thousandth is taken.
QString lastingWorkbookPath(const QString &folder, const QString &baseName);

/// "Данные в Excel": the table under a lasting name in `folder` (see handOverFolder).
TWorkbookResult handOverWorkbook(const QString &folder, const QByteArray &table,
                                 const QByteArray &instrumentFileName, const QDateTime &readAt);

/// "Из файла в Excel": a saved table file (the instrument's 873 bytes) as a workbook
/// beside it, or in `folder` when given, under a lasting name; the file itself is only
/// read. A file that is no table is refused.
TWorkbookResult workbookFromTableFile(const QString &tableFile, const QString &folder = {});

} // namespace plate
