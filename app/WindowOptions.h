#pragma once
// What the main window is started with, and the text of its clock pane.

#include <QString>

class QDateTime;
class QLocale;
class TDialogs;

/// The clock pane's text: the user's long date, then the long time.
QString clockText(const QLocale &locale, const QDateTime &moment);

/// Where the window keeps its working files, and how it asks the user.
struct TWindowOptions
{
    QString programFolder;       ///< empty: the executable's folder, or the user's when that is read-only
    TDialogs *dialogs = nullptr; ///< empty: the desktop's own dialogs
    QString documentsFolder;     ///< empty: the user's documents folder
    QString settingsFile;        ///< empty: the user's own settings; tests keep an INI file of theirs
    QString userGuide;           ///< empty: looked for beside the program and among its installed documents
    bool demo = false;           ///< the demo's window, on its virtual instrument
};
