#pragma once
// The dialogs the pages get: the desktop's (or a test's) own, and every file chosen in
// a dialog that has a memory key leaves its folder in the settings, for the next run.

#include "common/Dialogs.h"

class TSettings;

class TRememberingDialogs final : public TDialogs
{
    Q_OBJECT
public:
    TRememberingDialogs(TDialogs &dialogs, TSettings &settings, QObject *parent = nullptr)
        : TDialogs(parent), m_dialogs(dialogs), m_settings(settings)
    {
    }

    bool executeSave(QWidget *parent, TFileDialogState &state) override;
    bool executeOpen(QWidget *parent, TFileDialogState &state) override;
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
    bool remember(bool chosen, const TFileDialogState &state);

    TDialogs &m_dialogs;
    TSettings &m_settings;
};
