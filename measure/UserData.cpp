#include "measure/UserData.h"

#include "common/PageHost.h"
#include "measure/DesktopAssociation.h"

#include <QDesktopServices>
#include <QDir>
#include <QPushButton>
#include <QUrl>

namespace userData {

QString autoSaveFolder(TPageHost &host)
{
    QString folder = host.handOverFolder();
    if (folder.isEmpty())
        folder = host.programFolder();
    // A new user's documents folder may not be there yet; a failure to make it shows
    // in the write's own error.
    QDir().mkpath(folder);
    if (!folder.endsWith(QLatin1Char('/')) && !folder.endsWith(QDir::separator()))
        folder += QLatin1Char('/');
    return folder;
}

QString savedText(const QString &saved, const QString &folder)
{
    return QStringLiteral("%1 (папка %2)").arg(saved, QDir::toNativeSeparators(QDir::cleanPath(folder)));
}

QPushButton *openFolderButton(TPageHost &host, QWidget *parent)
{
    auto *button = new QPushButton(QStringLiteral("Открыть папку"), parent);
    button->setToolTip(QStringLiteral("Папка, куда записываются данные автоматически и книги Excel"));
    QObject::connect(button, &QPushButton::clicked, button, [&host] {
        const QString folder = autoSaveFolder(host);
        // The desktop is asked first: on Linux the launch succeeds even when no program
        // shows folders, and the click would do nothing without a word.
        if (!desktopHasProgramForType(QStringLiteral("inode/directory"))
            || !QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
            host.ShowStatus(QStringLiteral("Не удалось открыть папку %1: на компьютере нет программы для "
                                           "просмотра папок. Файлы лежат в этой папке.")
                                .arg(QDir::toNativeSeparators(QDir::cleanPath(folder))));
    });
    return button;
}

} // namespace userData
