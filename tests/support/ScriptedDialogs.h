#pragma once
// Dialogs for tests: file dialogs and questions answer from a script, and the error
// and information boxes only record what they would have shown.

#include "common/Dialogs.h"

#include <QDialog>

#include <QQueue>
#include <QStringList>

#include <functional>
#include <utility>

class TScriptedDialogs final : public TDialogs
{
    Q_OBJECT
public:
    using TDialogs::TDialogs;

    /// The next file dialog chooses this path (an empty text cancels it).
    void answerFile(const QString &path, int filterIndex = 0) { m_files.enqueue({path, filterIndex}); }
    void answerYesNo(bool yes) { m_answers.enqueue(yes); }
    /// The next page dialog is shown and this runs while it is open, as the user would
    /// look at it and press its buttons; a dialog nobody scripted is cancelled.
    void whenDialogOpens(std::function<void(QDialog &)> script) { m_dialogScripts.enqueue(std::move(script)); }

    QStringList errors;            ///< texts the error box showed, in order
    QStringList informations;      ///< title, then text, of each information box shown
    QStringList questions;         ///< texts of the questions asked, in order
    /// Runs while the next question is open, as the world goes on behind a modal box.
    std::function<void()> whileAsking;
    /// Runs while the next error box is open and unanswered.
    std::function<void()> whileErrorShown;
    int openErrorBoxes = 0; ///< error boxes open at once now
    int mostOpenErrorBoxes = 0; ///< the most that were ever open at once
    QList<TFileDialogState> shown; ///< each file dialog as it was opened

    bool executeSave(QWidget *, TFileDialogState &state) override { return execute(state); }
    bool executeOpen(QWidget *, TFileDialogState &state) override { return execute(state); }
    bool askYesNo(QWidget *, const QString &, const QString &text) override
    {
        questions << text;
        if (const auto meanwhile = std::exchange(whileAsking, nullptr))
            meanwhile();
        return m_answers.isEmpty() ? false : m_answers.dequeue();
    }
    void showError(QWidget *, const QString &text) override
    {
        errors << text;
        mostOpenErrorBoxes = qMax(mostOpenErrorBoxes, ++openErrorBoxes);
        if (const auto meanwhile = std::exchange(whileErrorShown, nullptr))
            meanwhile();
        --openErrorBoxes;
    }
    void showInformation(QWidget *, const QString &title, const QString &text) override
    {
        informations << title << text;
    }
    int runDialog(QDialog &dialog) override
    {
        dialog.setResult(QDialog::Rejected);
        dialog.show();
        if (!m_dialogScripts.isEmpty())
            m_dialogScripts.dequeue()(dialog);
        if (dialog.isVisible())
            dialog.reject();
        return dialog.result();
    }

private:
    bool execute(TFileDialogState &state)
    {
        shown << state;
        if (m_files.isEmpty())
            return false;
        const auto [path, filterIndex] = m_files.dequeue();
        if (path.isEmpty())
            return false;
        if (filterIndex > 0)
            state.filterIndex = filterIndex;
        // As the desktop's dialog does: a name without extension gets the chosen type's.
        const QStringList types = state.filter.split(QLatin1Char('|'));
        const int pattern = 2 * state.filterIndex - 1;
        const QString typePattern = pattern > 0 && pattern < types.size() ? types.at(pattern) : QString();
        const QString typeExt = typePattern.startsWith(QStringLiteral("*.")) && !typePattern.mid(1).contains(QLatin1Char('*'))
                                    ? typePattern.mid(1)
                                    : state.defaultExt;
        state.fileName = withDefaultExtension(path, typeExt);
        return true;
    }

    QQueue<QPair<QString, int>> m_files;
    QQueue<bool> m_answers;
    QQueue<std::function<void(QDialog &)>> m_dialogScripts;
};
