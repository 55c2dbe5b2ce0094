#pragma once
// Where the working files go: next to the executable when the program may write there
// (a copy run from its build folder or a USB stick), otherwise in the user's own data
// folder, as for a program installed into read-only system folders.

#include <QString>

/// Whether a new file can be made in the folder. Tried for real with a probe file
/// that is removed again: permission bits say nothing when the user is root, nor on
/// a read-only medium.
bool folderIsWritable(const QString &folder);

/// The folder chosen for the working files.
struct TProgramFolder
{
    QString folder;  ///< with its final separator
    QString problem; ///< empty, or the text for the error box when no folder can take files
};

/// The executable's folder when it takes files; otherwise the user's data folder,
/// created with its "FilesInTavelon". When that cannot be made either, the executable's
/// folder stays (the dialogs still open somewhere real) and the problem is named.
TProgramFolder chooseProgramFolder(const QString &executableFolder, const QString &userDataFolder);

/// The demo's folder, never the real program's nor inside its "FilesInTavelon": "demo"
/// beside the executable when the program may write there, otherwise `userDataFolder`
/// followed by "-demo" (~/.local/share/lorit-service-demo; the system's temporary
/// folder's "lorit-service-demo" when there is no user's folder). When neither can be
/// made the second is named with the problem: the demo then has no files, never the
/// real ones.
TProgramFolder chooseDemoFolder(const QString &executableFolder, const QString &userDataFolder);
