#pragma once
// A file's bytes as a test compares them; a file that cannot be read shows as
// "<missing>", which no expected content equals.

#include <QByteArray>
#include <QFile>
#include <QString>

inline QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}
