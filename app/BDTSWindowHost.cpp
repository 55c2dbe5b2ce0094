#include "app/BDTSWindowHost.h"

#include "app/MainLoritS_TreeTS.h"
#include "link/TMSComm.h"
#include "testdb/BDTSTransfer.h"

#include <QToolButton>

bool TBDTSWindowHost::PortOpen() const
{
    return m_window.MSComm1->PortOpen();
}

bool TBDTSWindowHost::LinkPresent() const
{
    return m_window.sbtnCommON->isEnabled();
}

void TBDTSWindowHost::SendToDevice(const QByteArray &bytes)
{
    m_window.SendToDevice(bytes);
}

QByteArray &TBDTSWindowHost::ReplyBuffer()
{
    return m_window.replyBuffer;
}

void TBDTSWindowHost::ShowStatus(const QString &text)
{
    m_window.ShowStatus(text);
}

void TBDTSWindowHost::SetProgress(int percent)
{
    m_window.SetProgress(percent);
}

void TBDTSWindowHost::RequestDatabase()
{
    m_window.RequestDatabase();
}

void TBDTSWindowHost::Guarded(const std::function<void()> &handler)
{
    m_window.Guarded(handler);
}

void TBDTSWindowHost::ShowError(const QString &text)
{
    m_window.ReportError(text);
}

QString TBDTSWindowHost::ExecuteFileDialog(TBdtFileDialog &dialog)
{
    TFileDialogState state;
    state.filter = dialog.filter;
    state.defaultExt = dialog.defaultExt;
    state.initialDir = dialog.initialDir;
    TDialogs *dialogs = m_window.dialogs();
    const bool chosen = dialog.save ? dialogs->executeSave(&m_window, state) : dialogs->executeOpen(&m_window, state);
    return chosen ? state.fileName : QString();
}

void TBDTSWindowHost::SetLastFile(const QString &folder, const QString &name)
{
    m_window.lastFileFolder = folder;
    m_window.lastFileName = name;
}

void TFormMainLoritS_D7::RequestDatabase()
{
    bdtsTransfer->RequestDatabase();
}
