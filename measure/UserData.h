#pragma once
// Where the user's data goes: tables and protocols saved automatically, beside the
// workbooks of "Данные в Excel", in a folder the user sees (the documents folder of
// an installed program, the program's own folder when it runs from there), never the
// hidden folder of the working files. The pages say where, and open it on request.

#include <QString>

class QPushButton;
class QWidget;
class TPageHost;

namespace userData {

/// The folder of automatic saves, made when missing, with its final separator.
QString autoSaveFolder(TPageHost &host);

/// The status text after an automatic save: `saved` (the design's text and the name)
/// and the folder it went to.
QString savedText(const QString &saved, const QString &folder);

/// The button "Открыть папку", which shows the folder of automatic saves in the
/// desktop's file manager.
QPushButton *openFolderButton(TPageHost &host, QWidget *parent);

} // namespace userData
