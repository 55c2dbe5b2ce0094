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

QString noFolderProblem(const QString &folder)
{
    return QStringLiteral("Не удалось создать папку для рабочих файлов \"%1\": "
                          "рабочие файлы программы записать не удастся.")
        .arg(QDir::toNativeSeparators(folder));
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
    return {withSeparator(executableFolder), noFolderProblem(userDataFolder)};
}

TProgramFolder chooseDemoFolder(const QString &executableFolder, const QString &userDataFolder)
{
    // Beside a program run from its own folder the demo's files stay with it (a stick
    // takes them away), but in a folder of their own: the real program there looks
    // into FilesInTavelon for the image it offers for the instrument.
    if (folderIsWritable(executableFolder)) {
        const QString beside = withSeparator(executableFolder) + QStringLiteral("demo/");
        if (QDir().mkpath(beside + QStringLiteral("FilesInTavelon")) && folderIsWritable(beside))
            return {beside, {}};
    }
    // Without a user's folder (no home) the system's temporary folder: never the real
    // program's folder, whatever happens.
    QString own = QDir::fromNativeSeparators(userDataFolder.isEmpty() ? QDir::tempPath() + QStringLiteral("/lorit-service")
                                                                      : userDataFolder);
    while (own.endsWith(QLatin1Char('/')))
        own.chop(1);
    const QString folder = withSeparator(own + QStringLiteral("-demo"));
    if (QDir().mkpath(folder + QStringLiteral("FilesInTavelon")) && folderIsWritable(folder))
        return {folder, {}};
    return {folder, noFolderProblem(folder)};
}
