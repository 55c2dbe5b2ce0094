#pragma once
// A path as a C library opens it with the narrow calls (open, stat, fopen): the file
// system's bytes on Unix; on Windows the system's 8-bit code page, in which a user's
// Cyrillic name may not exist. The platform files NarrowPath_unix.cpp and
// NarrowPath_win.cpp make it.

#include <QByteArray>
#include <QString>

/// `path` (of a file or folder that exists) as bytes the narrow calls open.
QByteArray narrowPath(const QString &path);
