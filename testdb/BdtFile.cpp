#include "testdb/BdtFile.h"

#include "app/WholeFile.h"

#include <QDir>
#include <QFile>

#include <stdexcept>

namespace {
[[noreturn]] void fail(const QString &what, const QString &path, const QString &reason)
{
    throw std::runtime_error(
            QStringLiteral("%1 \"%2\": %3").arg(what, QDir::toNativeSeparators(path), reason).toStdString());
}
} // namespace

QByteArray readBdtFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("Не удалось прочитать файл"), path, file.errorString());
    QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        fail(QStringLiteral("Не удалось прочитать файл"), path, file.errorString());
    return bytes;
}

void writeBdtFile(const QString &path, const QByteArray &bytes)
{
    const QString reason = writeFileWhole(path, bytes);
    if (!reason.isEmpty())
        fail(QStringLiteral("Не удалось записать файл"), path, reason);
}

TPathParts splitChosenPath(const QString &path)
{
    qsizetype cut = -1;
    for (qsizetype i = path.size() - 1; i >= 1 && cut < 0; --i)
        if (path[i] == QLatin1Char('/') || path[i] == QLatin1Char('\\'))
            cut = i;
    if (cut < 0)
        return {QString(), path};
    return {path.left(cut + 1), path.mid(cut + 1)};
}
