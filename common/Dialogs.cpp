#include "common/Dialogs.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

QStringList dialogFilters(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList result;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        result << parts.at(i);
    return result;
}

QString withDefaultExtension(const QString &path, const QString &defaultExt)
{
    if (path.isEmpty() || defaultExt.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + (defaultExt.startsWith(QLatin1Char('.')) ? defaultExt : QLatin1Char('.') + defaultExt);
}

namespace {
bool runFileDialog(QWidget *parent, TFileDialogState &state, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, state.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The program replaces existing files without asking.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = dialogFilters(state.filter);
    dialog.setNameFilters(filters);
    if (state.filterIndex >= 1 && state.filterIndex <= filters.size())
        dialog.selectNameFilter(filters.at(state.filterIndex - 1));
    QString ext = state.defaultExt;
    if (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    dialog.setDefaultSuffix(ext);
    const QFileInfo proposed(state.fileName);
    dialog.setDirectory(proposed.isAbsolute() ? proposed.absolutePath() : state.initialDir);
    dialog.selectFile(proposed.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    state.fileName = withDefaultExtension(dialog.selectedFiles().constFirst(), state.defaultExt);
    state.filterIndex = int(filters.indexOf(dialog.selectedNameFilter())) + 1;
    return true;
}
} // namespace

bool TQtDialogs::executeSave(QWidget *parent, TFileDialogState &state)
{
    return runFileDialog(parent, state, QFileDialog::AcceptSave);
}

bool TQtDialogs::executeOpen(QWidget *parent, TFileDialogState &state)
{
    return runFileDialog(parent, state, QFileDialog::AcceptOpen);
}

bool TQtDialogs::askYesNo(QWidget *parent, const QString &title, const QString &text)
{
    // A warning: the question asks the user to check the instrument before going on.
    return QMessageBox::warning(parent, title, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes)
           == QMessageBox::Yes;
}

void TQtDialogs::showError(QWidget *parent, const QString &text)
{
    QMessageBox::critical(parent, applicationTitle(), text);
}

void TQtDialogs::showInformation(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::about(parent, title, text);
}
