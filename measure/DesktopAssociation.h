#pragma once
// Whether the desktop has a program for a file's type. On Linux `xdg-open` reports
// success even when nothing takes the file, so the program asks first.

#include <QString>

/// The type of the workbooks the program writes for the spreadsheet program.
inline QString xlsxMimeType()
{
    return QStringLiteral("application/vnd.openxmlformats-officedocument.spreadsheetml.sheet");
}

/// True when the desktop would open the file (judged by its name's extension) in
/// some program.
bool desktopHasProgramFor(const QString &path);

/// True when the desktop has a program for files of this MIME type (xlsxMimeType()),
/// asked before any such file exists.
bool desktopHasProgramForType(const QString &mimeType);
