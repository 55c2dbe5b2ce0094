#include "common/RememberingDialogs.h"

#include "common/Settings.h"

bool TRememberingDialogs::executeSave(QWidget *parent, TFileDialogState &state)
{
    return remember(m_dialogs.executeSave(parent, state), state);
}

bool TRememberingDialogs::executeOpen(QWidget *parent, TFileDialogState &state)
{
    return remember(m_dialogs.executeOpen(parent, state), state);
}

bool TRememberingDialogs::remember(bool chosen, const TFileDialogState &state)
{
    if (chosen)
        m_settings.rememberChoice(state);
    return chosen;
}
