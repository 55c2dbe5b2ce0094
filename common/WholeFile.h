#pragma once
// The one way the program writes a file: whole or not at all. The bytes go to a
// temporary file beside the target, which replaces the target only once every byte is
// on disk; a failure leaves the earlier file as it was.

#include <QByteArray>
#include <QString>

/// Writes the bytes as the file's whole content. Returns an empty text on success,
/// otherwise the system's reason; the target is then untouched.
QString writeFileWhole(const QString &path, const QByteArray &bytes);
