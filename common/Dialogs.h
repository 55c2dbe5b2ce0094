#pragma once
// The one seam through which the program asks the user: file dialogs, yes/no
// questions, the error box and boxes that only tell something. Tests put a scripted
// version in its place.

#include <QObject>
#include <QString>

class QDialog;
class QWidget;

/// State of one file dialog of the window, kept between its uses within a run.
struct TFileDialogState
{
    QString title;
    QString filter;        ///< "Описание (*.ext)|*.ext|…" as the dialogs list their types
    QString defaultExt;    ///< ".xls": appended when the name typed has no extension
    QString fileName;      ///< proposed name; after a choice, the chosen full path
    QString initialDir;
    int filterIndex = 1;   ///< 1-based, the type chosen last
    QString memoryKey;     ///< the name its folder is remembered under between runs; empty: not remembered
};

class TDialogs : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    /// Shows a save (or open) dialog; true and the chosen path in state.fileName,
    /// or false when the user cancels.
    virtual bool executeSave(QWidget *parent, TFileDialogState &state) = 0;
    virtual bool executeOpen(QWidget *parent, TFileDialogState &state) = 0;
    virtual bool askYesNo(QWidget *parent, const QString &title, const QString &text) = 0;
    /// Whether a file that exists may be replaced; the desktop's answer defaults to "No".
    virtual bool askReplace(QWidget *parent, const QString &path);
    /// The application's error box.
    virtual void showError(QWidget *parent, const QString &text) = 0;
    /// A box that only tells something ("О программе").
    virtual void showInformation(QWidget *parent, const QString &title, const QString &text) = 0;
    /// A page's own modal dialog, shown until the user closes it; its result
    /// (QDialog::Accepted or Rejected) comes back.
    virtual int runDialog(QDialog &dialog);
};

/// The desktop's own dialogs.
class TQtDialogs final : public TDialogs
{
    Q_OBJECT
public:
    using TDialogs::TDialogs;
    bool executeSave(QWidget *parent, TFileDialogState &state) override;
    bool executeOpen(QWidget *parent, TFileDialogState &state) override;
    bool askYesNo(QWidget *parent, const QString &title, const QString &text) override;
    bool askReplace(QWidget *parent, const QString &path) override;
    void showError(QWidget *parent, const QString &text) override;
    void showInformation(QWidget *parent, const QString &title, const QString &text) override;
};

/// The question before a file is replaced.
QString replaceQuestion(const QString &path);

/// The program's title, "ЛОРИТ-сервис 2008_06_06": the caption of its message boxes.
inline QString applicationTitle() { return QStringLiteral("ЛОРИТ-сервис 2008_06_06"); }

/// "A (*.a)|*.a|B (*.b)|*.b" → the filter list Qt's dialogs take.
QStringList dialogFilters(const QString &filter);
/// Appends the default extension to a chosen name that has none.
QString withDefaultExtension(const QString &path, const QString &defaultExt);
