#include "app/ProgramFolder.h"

#include <QDir>
#include <QTemporaryFile>

namespace {
QString withSeparator(const QString &folder)
{
    QString path = QDir::fromNativeSeparators(folder);
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}
} // namespace

bool folderIsWritable(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    // QTemporaryFile picks a name nobody uses and removes the file when it goes.
    QTemporaryFile probe(withSeparator(folder) + QStringLiteral(".lorit-probe-XXXXXX"));
    return probe.open();
}

TProgramFolder chooseProgramFolder(const QString &executableFolder, const QString &userDataFolder)
{
    if (folderIsWritable(executableFolder))
        return {withSeparator(executableFolder), {}};
    if (!userDataFolder.isEmpty()) {
        const QString folder = withSeparator(userDataFolder);
        if (QDir().mkpath(folder + QStringLiteral("FilesInTavelon")) && folderIsWritable(folder))
            return {folder, {}};
    }
    const QString shown = QDir::toNativeSeparators(userDataFolder);
    return {withSeparator(executableFolder),
            QStringLiteral("Не удалось создать папку для рабочих файлов \"%1\": "
                           "рабочие файлы программы записать не удастся.")
                .arg(shown)};
}
