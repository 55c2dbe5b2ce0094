#pragma once
// Save dialogs that ask before a file is replaced, as desktop programs do: "Нет" shows
// the dialog again with the name chosen, so that another name can be typed.

#include "common/Dialogs.h"

class TReplaceAskingDialogs final : public TDialogs
{
    Q_OBJECT
public:
    explicit TReplaceAskingDialogs(TDialogs &dialogs, QObject *parent = nullptr) : TDialogs(parent), m_dialogs(dialogs) {}

    bool executeSave(QWidget *parent, TFileDialogState &state) override;
    bool executeOpen(QWidget *parent, TFileDialogState &state) override { return m_dialogs.executeOpen(parent, state); }
    bool askYesNo(QWidget *parent, const QString &title, const QString &text) override
    {
        return m_dialogs.askYesNo(parent, title, text);
    }
    bool askReplace(QWidget *parent, const QString &path) override { return m_dialogs.askReplace(parent, path); }
    void showError(QWidget *parent, const QString &text) override { m_dialogs.showError(parent, text); }
    void showInformation(QWidget *parent, const QString &title, const QString &text) override
    {
        m_dialogs.showInformation(parent, title, text);
    }
    int runDialog(QDialog &dialog) override { return m_dialogs.runDialog(dialog); }

private:
    TDialogs &m_dialogs;
};
