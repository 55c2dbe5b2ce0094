#pragma once
// Database files on disk: read no further than the largest image, written whole or not at all, and the split of a
// chosen path into the folder and the name that the status line shows.

#include <QByteArray>
#include <QString>

/// The file's bytes, no further than the largest image, and only its first 7 bytes when
/// they are not the signature. Throws with the file's name and the system's words when it
/// cannot be read or is not a regular file.
QByteArray readBdtFile(const QString &path);
/// Creates or replaces the file with exactly these bytes; an old file stays untouched
/// when the new one cannot be written whole. Throws with the file's name and the
/// system's words.
void writeBdtFile(const QString &path, const QByteArray &bytes);

struct TPathParts
{
    QString folder; ///< up to and including the last separator; empty without one
    QString name;   ///< the rest
};
/// Splits at the last separator ('/' or '\'); a separator in first place does not count.
TPathParts splitChosenPath(const QString &path);
