#pragma once
// What the database page needs of the program around it: the serial line, the
// received reply, the status line and progress bar, the file dialogs and the error box
// (through Guarded or ShowError). The program gives an implementation; this library
// needs nothing else of it.

#include <QByteArray>
#include <QString>

#include <functional>

/// One file dialog of the database frame, kept between its uses within a run.
struct TBdtFileDialog
{
    explicit TBdtFileDialog(bool isSave) : save(isSave) {}

    bool save = false;
    QString filter = QStringLiteral("Файлы данных (*.bdt)|*.bdt");
    QString defaultExt = QStringLiteral(".bdt");
    QString initialDir;
};

class TBDTSHost
{
public:
    virtual ~TBDTSHost() = default;

    virtual bool PortOpen() const = 0;
    /// The instrument's line is up (the link indicator is enabled).
    virtual bool LinkPresent() const = 0;
    /// Runs a request that needs the line now, or once the contact search under way has
    /// found the instrument; under another exchange it is refused with a status text.
    virtual void WhenLineFree(std::function<void()> request) = 0;
    /// Asks for 115200 through the contact search, unless an exchange holds the line.
    virtual void RequestTopSpeed() = 0;
    /// Drops what was gathered of a reply: it belongs to an exchange that stopped.
    virtual void ForgetGathered() = 0;
    virtual void ShowStatus(const QString &text) = 0;
    virtual void SetProgress(int percent) = 0;
    /// Runs a handler; an error it does not catch goes to the error box.
    virtual void Guarded(const std::function<void()> &handler) = 0;
    /// The error box: what the user must not miss, e.g. an instrument left half-written.
    virtual void ShowError(const QString &text) = 0;
    /// Shows the dialog; the chosen path, or an empty text when the user cancels.
    virtual QString ExecuteFileDialog(TBdtFileDialog &dialog) = 0;
    /// The folder part (with its separator) and the name part of the path last chosen.
    virtual void SetLastFile(const QString &folder, const QString &name) = 0;
};
