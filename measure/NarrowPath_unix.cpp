#include "measure/NarrowPath.h"

#include <QFile>

QByteArray narrowPath(const QString &path)
{
    return QFile::encodeName(path);
}
