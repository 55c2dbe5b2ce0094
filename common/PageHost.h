#pragma once
// What a page needs of the window that holds it: the status line and progress bar,
// the error box and the dialogs, the working folder and the settings kept between runs.
// The window implements it; no page knows the window itself. Who holds the line a page
// asks the line.

#include <QObject>
#include <QString>

#include <functional>

class QWidget;
class TDialogs;
class TSettings;
struct TFileDialogState;

class TPageHost
{
public:
    virtual ~TPageHost() = default;

    virtual void ShowStatus(const QString &text) = 0;
    virtual void SetProgress(int percent) = 0;
    /// Runs a handler; an error it does not catch goes to the error box and the program
    /// goes on with the state as the handler left it.
    virtual void Guarded(const std::function<void()> &handler) = 0;
    /// The error box.
    virtual void ReportError(const QString &text) = 0;
    virtual TDialogs *dialogs() const = 0;
    /// The window the dialogs belong to.
    virtual QWidget *dialogParent() = 0;
    /// The working files' folder, with its final separator.
    virtual QString programFolder() const = 0;
    /// Where copies for other programs go and the measurement dialogs start: the
    /// working folder when the program runs from its own, else the user's documents.
    virtual QString handOverFolder() const = 0;
    /// The folder (with its separator) and the name of the file chosen last; the
    /// firmware and database dialogs start there.
    virtual QString &lastFileFolder() = 0;
    virtual QString &lastFileName() = 0;
    /// The save dialog that the table and the protocol share.
    virtual TFileDialogState &sdlgSaveTavDat() = 0;
    /// What the program remembers between runs; a page keeps its own choices there too.
    virtual TSettings &settings() = 0;
    /// The demo on its virtual instrument: the only window that offers and sends the
    /// demo's own sample image.
    virtual bool isDemo() const = 0;
};

/// Connects a signal to a room's handler, run so that an error it does not catch
/// reaches the host's error box.
template <typename Sender, typename Signal, typename Room>
void connectGuarded(TPageHost &host, Sender *sender, Signal signal, Room *room, void (Room::*handler)())
{
    QObject::connect(sender, signal, room, [&host, room, handler] { host.Guarded([room, handler] { (room->*handler)(); }); });
}
