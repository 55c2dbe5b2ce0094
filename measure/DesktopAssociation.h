#pragma once
// Whether the desktop has a program for a file's type. On Linux `xdg-open` reports
// success even when nothing takes the file, so the program asks first.

#include <QString>

/// True when the desktop would open the file (judged by its name's extension) in
/// some program.
bool desktopHasProgramFor(const QString &path);
