#include "common/ReplaceAskingDialogs.h"

#include <QFileInfo>

bool TReplaceAskingDialogs::executeSave(QWidget *parent, TFileDialogState &state)
{
    for (;;) {
        if (!m_dialogs.executeSave(parent, state))
            return false;
        if (!QFileInfo::exists(state.fileName) || m_dialogs.askReplace(parent, state.fileName))
            return true;
    }
}
