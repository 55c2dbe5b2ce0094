#include "measure/PlateWorkbook.h"

#include "common/WholeFile.h"
#include "measure/MeasureData.h"
#include "measure/NarrowPath.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <xlsxwriter.h>

#include <clocale>
#include <string>

namespace plate {

namespace {
constexpr int headerFileRow = 0, headerTimeRow = 1; ///< rows above the plate (from 0)
constexpr int columnLabelRow = 3;                   ///< "1" … "12"; row A follows
constexpr int lastHandOverNumber = 1000;            ///< " (1000)" is the last name tried
const char *const sheetName = "Планшет";
const QString workbookSuffix = QStringLiteral(".xlsx");

/// The library prints its numbers with the C library's printf, which follows the
/// process locale; Qt sets that from the environment, and a Russian desktop would
/// write "0,123" into the sheet, which no spreadsheet reads. The point is the C
/// locale's while the workbook is written, and the previous one comes back after.
class TCNumericLocale
{
public:
    TCNumericLocale()
    {
        if (const char *current = std::setlocale(LC_NUMERIC, nullptr))
            m_previous = current;
        std::setlocale(LC_NUMERIC, "C");
    }
    ~TCNumericLocale()
    {
        if (!m_previous.empty())
            std::setlocale(LC_NUMERIC, m_previous.c_str());
    }
    TCNumericLocale(const TCNumericLocale &) = delete;
    TCNumericLocale &operator=(const TCNumericLocale &) = delete;

private:
    std::string m_previous;
};

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

QString writeFailure(const QString &path, const QString &reason)
{
    return QStringLiteral("Не удалось записать книгу \"%1\": %2").arg(shown(path), reason);
}

/// Remembers the first thing the library refused, so that one report names it.
struct TLibraryErrors
{
    lxw_error first = LXW_NO_ERROR;
    void note(lxw_error error)
    {
        if (first == LXW_NO_ERROR)
            first = error;
    }
};

/// Lays the sheet out: the facts, the column numbers, the row letters and the values.
void fillSheet(lxw_workbook *book, const QByteArray &table, const TPlateFacts &facts, TLibraryErrors &errors)
{
    lxw_worksheet *sheet = workbook_add_worksheet(book, sheetName);
    lxw_format *label = workbook_add_format(book);
    format_set_bold(label);
    lxw_format *columnLabel = workbook_add_format(book);
    format_set_bold(columnLabel);
    format_set_align(columnLabel, LXW_ALIGN_CENTER);
    lxw_format *density = workbook_add_format(book);
    format_set_num_format(density, "0.000");
    format_set_align(density, LXW_ALIGN_RIGHT);
    lxw_format *time = workbook_add_format(book);
    format_set_num_format(time, "dd.mm.yyyy hh:mm:ss");
    format_set_align(time, LXW_ALIGN_LEFT);

    errors.note(worksheet_set_column(sheet, 0, 0, 14, nullptr));
    errors.note(worksheet_set_column(sheet, 1, od::columnCount, 8, nullptr));

    if (!facts.fileName.isEmpty()) {
        errors.note(worksheet_write_string(sheet, headerFileRow, 0, "Файл:", label));
        errors.note(worksheet_write_string(sheet, headerFileRow, 1, facts.fileName.toUtf8().constData(), nullptr));
    }
    if (facts.readAt.isValid()) {
        errors.note(worksheet_write_string(sheet, headerTimeRow, 0, "Время чтения:", label));
        const QDate date = facts.readAt.date();
        const QTime clock = facts.readAt.time();
        // One value column is too narrow for a date and time: it spans three.
        errors.note(worksheet_merge_range(sheet, headerTimeRow, 1, headerTimeRow, 3, "", time));
        if (date.year() >= 1900 && date.year() <= 9999) { // the years a workbook can hold
            lxw_datetime when{date.year(), date.month(), date.day(), clock.hour(), clock.minute(), double(clock.second())};
            errors.note(worksheet_write_datetime(sheet, headerTimeRow, 1, &when, time));
        } else {
            const QByteArray text = facts.readAt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")).toUtf8();
            errors.note(worksheet_write_string(sheet, headerTimeRow, 1, text.constData(), time));
        }
    }

    for (int column = 1; column <= od::columnCount; ++column)
        errors.note(worksheet_write_number(sheet, columnLabelRow, lxw_col_t(column), column, columnLabel));
    const auto values = od::tableValues(table);
    for (int row = 1; row <= od::rowCount; ++row) {
        const auto sheetRow = lxw_row_t(columnLabelRow + row);
        const char letter[] = {char('A' + row - 1), '\0'};
        errors.note(worksheet_write_string(sheet, sheetRow, 0, letter, label));
        for (int column = 1; column <= od::columnCount; ++column) {
            const QByteArray &value = values[size_t((row - 1) * od::columnCount + column - 1)];
            if (const auto number = opticalDensity(value)) {
                errors.note(worksheet_write_number(sheet, sheetRow, lxw_col_t(column), *number, density));
                continue;
            }
            // What the instrument says instead of a number is kept, as text.
            const QString text = fromCp1251(value).trimmed();
            if (!text.isEmpty())
                errors.note(worksheet_write_string(sheet, sheetRow, lxw_col_t(column), text.toUtf8().constData(), density));
        }
    }
}
} // namespace

std::optional<double> opticalDensity(const QByteArray &value)
{
    static const QRegularExpression number(QStringLiteral("^[+-]?(\\d+([.,]\\d*)?|[.,]\\d+)$"));
    const QString text = QString::fromLatin1(value.trimmed());
    if (!number.match(text).hasMatch())
        return std::nullopt;
    // Both decimal marks are read the same way; no locale is asked.
    bool ok = false;
    const double parsed = QString(text).replace(QLatin1Char(','), QLatin1Char('.')).toDouble(&ok);
    return ok ? std::optional<double>(parsed) : std::nullopt;
}

QString writeWorkbook(const QString &path, const std::function<int(lxw_workbook *)> &fill)
{
    // The library writes straight into the file it is given: it writes into a scratch
    // folder, and the one writer puts the finished workbook in place.
    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/lorit-workbook-XXXXXX"));
    if (!scratch.isValid())
        return writeFailure(path, scratch.errorString());
    const QString scratchBook = scratch.filePath(QStringLiteral("plate.xlsx"));
    // The library opens the workbook and its scratch files with the C library's narrow
    // calls, also on Windows, where a user's Cyrillic name may not survive them (its
    // scratch files would then go to the current folder, often the program's, not
    // writable): both are reached through the scratch folder's narrow path.
    QByteArray scratchFolder = narrowPath(scratch.path());
    const QByteArray libraryBook = scratchFolder + "/plate.xlsx";

    TLibraryErrors errors;
    {
        const TCNumericLocale cLocale;
        lxw_workbook_options options{};
        options.tmpdir = scratchFolder.data();
        lxw_workbook *book = workbook_new_opt(libraryBook.constData(), &options);
        if (!book)
            return writeFailure(path, QStringLiteral("не хватает памяти"));
        errors.note(lxw_error(fill(book)));
        errors.note(workbook_close(book)); // frees the workbook in any case
    }
    if (errors.first != LXW_NO_ERROR)
        return writeFailure(path, QString::fromUtf8(lxw_strerror(errors.first)));

    QFile written(scratchBook);
    if (!written.open(QIODevice::ReadOnly))
        return writeFailure(path, written.errorString());
    const QByteArray bytes = written.readAll();
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return writeFailure(path, QStringLiteral("не удалось создать папку \"%1\"").arg(shown(folder)));
    const QString reason = writeFileWhole(path, bytes);
    return reason.isEmpty() ? QString() : writeFailure(path, reason);
}

QString writePlateWorkbook(const QString &path, const QByteArray &table, const TPlateFacts &facts)
{
    return writeWorkbook(path, [&](lxw_workbook *book) {
        TLibraryErrors errors;
        fillSheet(book, table, facts, errors);
        return int(errors.first);
    });
}

QString handOverFolder(const QString &programFolder, const QString &executableFolder,
                       const QString &documentsFolder)
{
    // Copies made on a stick stay on the stick; an installed program's go where the
    // user keeps documents, not into its hidden data folder.
    if (QDir(programFolder) == QDir(executableFolder) || documentsFolder.isEmpty())
        return programFolder;
    return documentsFolder;
}

QString handOverBaseName(const QByteArray &instrumentFileName, const QDateTime &readAt)
{
    if (!instrumentFileName.isEmpty() && unsafeNameReason(instrumentFileName).isEmpty()) {
        QString name = fileSystemName(instrumentFileName).trimmed();
        for (const QString &suffix : {QStringLiteral(".xlsx"), QStringLiteral(".xls"), QStringLiteral(".txt")}) {
            if (name.endsWith(suffix, Qt::CaseInsensitive)) {
                name.chop(suffix.size());
                break;
            }
        }
        name = name.trimmed();
        if (!name.isEmpty() && name != QLatin1String("."))
            return name;
    }
    if (readAt.isValid())
        return QStringLiteral("TavDat_") + readAt.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"));
    return QStringLiteral("TavDat");
}

QString lastingWorkbookPath(const QString &folder, const QString &baseName)
{
    const QDir dir(folder);
    for (int number = 1; number <= lastHandOverNumber; ++number) {
        const QString name = number == 1 ? baseName + workbookSuffix
                                         : QStringLiteral("%1 (%2)%3").arg(baseName).arg(number).arg(workbookSuffix);
        const QFileInfo candidate(dir.filePath(name));
        // A link that leads nowhere is taken too: writing would follow it.
        if (!candidate.exists() && !candidate.isSymLink())
            return candidate.filePath();
    }
    return {};
}

namespace {
TWorkbookResult writeLasting(const QString &folder, const QString &baseName, const QByteArray &table,
                             const TPlateFacts &facts)
{
    const QString path = lastingWorkbookPath(folder, baseName);
    if (path.isEmpty())
        return {{}, QStringLiteral("Не удалось записать книгу \"%1\": в папке \"%2\" заняты все имена до \"%3\".")
                        .arg(baseName + workbookSuffix, shown(folder),
                             QStringLiteral("%1 (%2)%3").arg(baseName).arg(lastHandOverNumber).arg(workbookSuffix))};
    const QString error = writePlateWorkbook(path, table, facts);
    return error.isEmpty() ? TWorkbookResult{path, {}} : TWorkbookResult{{}, error};
}
} // namespace

TWorkbookResult handOverWorkbook(const QString &folder, const QByteArray &table,
                                 const QByteArray &instrumentFileName, const QDateTime &readAt)
{
    return writeLasting(folder, handOverBaseName(instrumentFileName, readAt), table,
                        {fileSystemName(instrumentFileName), readAt});
}

TWorkbookResult workbookFromTableFile(const QString &tableFile, const QString &folder)
{
    const QFileInfo info(tableFile);
    // A pipe or a device would hold the window; a file of another length is no table.
    if (info.exists() && !info.isFile())
        return {{}, QStringLiteral("\"%1\" не файл.").arg(shown(tableFile))};
    QFile file(tableFile);
    if (!file.open(QIODevice::ReadOnly))
        return {{}, QStringLiteral("Не удалось прочитать файл \"%1\": %2").arg(shown(tableFile), file.errorString())};
    if (file.size() != od::tableLength)
        return {{}, QStringLiteral("Файл \"%1\" не таблица оптических плотностей: в нем %2 байт, а в таблице %3.")
                        .arg(shown(tableFile))
                        .arg(file.size())
                        .arg(od::tableLength)};
    const QByteArray table = file.read(od::tableLength);
    if (table.size() != od::tableLength)
        return {{}, QStringLiteral("Не удалось прочитать файл \"%1\": %2").arg(shown(tableFile), file.errorString())};
    const QString baseName = info.completeBaseName();
    return writeLasting(folder.isEmpty() ? info.absolutePath() : folder,
                        baseName.isEmpty() ? QStringLiteral("TavDat") : baseName, table, {info.fileName(), {}});
}

} // namespace plate
