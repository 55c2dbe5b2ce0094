#include "testdb/BdtFile.h"

#include "common/WholeFile.h"
#include "testdb/BdtImage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

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
    const QString what = QStringLiteral("Не удалось прочитать файл");
    // A pipe or a device would hold the window until something writes to it, and might
    // never end: only a regular file (or a link to one) is opened.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile())
        fail(what, path, QStringLiteral("это не обычный файл"));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        fail(what, path, file.errorString());
    // The signature first: a file without it is no database, however long it is.
    QByteArray bytes = file.read(bdt::signatureSize);
    if (bytes == QByteArray(bdt::signature, bdt::signatureSize))
        bytes += file.read(bdt::maxImageSize - bytes.size());
    if (file.error() != QFileDevice::NoError)
        fail(what, path, file.errorString());
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
