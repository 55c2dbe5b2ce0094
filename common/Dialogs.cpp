#include "common/Dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QRegularExpression>

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
/// "Книга Excel (*.xlsx)" → "xlsx"; empty for a pattern such as "*".
QString filterSuffix(const QString &nameFilter)
{
    const int star = int(nameFilter.indexOf(QStringLiteral("*.")));
    if (star < 0)
        return {};
    QString suffix = nameFilter.mid(star + 2);
    suffix.truncate(int(suffix.indexOf(QRegularExpression(QStringLiteral("[ );]")))));
    return suffix.contains(QLatin1Char('*')) ? QString() : suffix;
}

bool runFileDialog(QWidget *parent, TFileDialogState &state, QFileDialog::AcceptMode mode)
{
    QFileDialog dialog(parent, state.title);
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    // The question before replacing a file is asked through the seam, once, whatever
    // the dialog (TReplaceAskingDialogs).
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    const QStringList filters = dialogFilters(state.filter);
    dialog.setNameFilters(filters);
    if (state.filterIndex >= 1 && state.filterIndex <= filters.size())
        dialog.selectNameFilter(filters.at(state.filterIndex - 1));
    QString ext = state.defaultExt;
    if (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    dialog.setDefaultSuffix(ext);
    // A name typed without extension gets the one of the type chosen in the list.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, ext](const QString &chosen) {
        const QString suffix = filterSuffix(chosen);
        dialog.setDefaultSuffix(suffix.isEmpty() ? ext : suffix);
    });
    const QFileInfo proposed(state.fileName);
    dialog.setDirectory(proposed.isAbsolute() ? proposed.absolutePath() : state.initialDir);
    dialog.selectFile(proposed.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    const QString suffix = filterSuffix(dialog.selectedNameFilter());
    state.fileName = withDefaultExtension(dialog.selectedFiles().constFirst(),
                                          suffix.isEmpty() ? state.defaultExt : QLatin1Char('.') + suffix);
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

int TDialogs::runDialog(QDialog &dialog)
{
    return dialog.exec();
}

bool TDialogs::askReplace(QWidget *parent, const QString &path)
{
    return askYesNo(parent, QStringLiteral("Подтверждение сохранения"), replaceQuestion(path));
}

bool TQtDialogs::askReplace(QWidget *parent, const QString &path)
{
    // "Нет" is the default: Enter twice must not replace a file saved a minute ago.
    return QMessageBox::warning(parent, QStringLiteral("Подтверждение сохранения"), replaceQuestion(path),
                                QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
           == QMessageBox::Yes;
}

QString replaceQuestion(const QString &path)
{
    return QStringLiteral("Файл \"%1\" уже существует.\nЗаменить его?").arg(QDir::toNativeSeparators(path));
}
