// The desktop's programs on Linux: xdg-mime tells the type the desktop sees in the
// file (some desktops look at the name, some at the content) and which program it
// opens for that type.

#include "measure/DesktopAssociation.h"

#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>

namespace {
constexpr int queryTimeoutMs = 3000; ///< xdg-mime answers in a few ms; never hang the window

/// One xdg-mime query's answer, empty when it gives none.
QString askXdgMime(const QString &xdgMime, const QStringList &arguments)
{
    QProcess query;
    query.start(xdgMime, arguments);
    if (!query.waitForFinished(queryTimeoutMs)) {
        query.kill();
        query.waitForFinished();
        return {};
    }
    return query.exitCode() == 0 ? QString::fromLocal8Bit(query.readAllStandardOutput()).trimmed() : QString();
}

/// Whether xdg-mime names a default program for one of the types.
bool anyTypeHasProgram(const QString &xdgMime, const QStringList &types)
{
    for (const QString &type : types) {
        if (!type.isEmpty() && !askXdgMime(xdgMime, {QStringLiteral("query"), QStringLiteral("default"), type}).isEmpty())
            return true;
    }
    return false;
}
} // namespace

bool desktopHasProgramFor(const QString &path)
{
    // Without xdg-utils there is no xdg-open either: nothing would open the file.
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    if (xdgMime.isEmpty())
        return false;
    QStringList types;
    types << askXdgMime(xdgMime, {QStringLiteral("query"), QStringLiteral("filetype"), path});
    const QMimeType byName = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    if (byName.isValid() && !byName.isDefault())
        types << byName.name();
    return anyTypeHasProgram(xdgMime, types);
}

bool desktopHasProgramForType(const QString &mimeType)
{
    const QString xdgMime = QStandardPaths::findExecutable(QStringLiteral("xdg-mime"));
    return !xdgMime.isEmpty() && anyTypeHasProgram(xdgMime, {mimeType});
}
