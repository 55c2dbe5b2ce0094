#include "app/BDTSWindowHost.h"

#include "common/Dialogs.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "link/Line.h"

#include <utility>

bool TBDTSWindowHost::PortOpen() const
{
    return m_link.PortOpen();
}

bool TBDTSWindowHost::LinkPresent() const
{
    return m_link.LinkPresent();
}

void TBDTSWindowHost::WhenLineFree(std::function<void()> request)
{
    m_link.WhenLineFree(std::move(request));
}

void TBDTSWindowHost::RequestTopSpeed()
{
    m_link.RequestTopSpeedUnlessExchanging();
}

void TBDTSWindowHost::ForgetGathered()
{
    m_link.ForgetGathered();
}

void TBDTSWindowHost::ShowStatus(const QString &text)
{
    m_host.ShowStatus(text);
}

void TBDTSWindowHost::SetProgress(int percent)
{
    m_host.SetProgress(percent);
}

void TBDTSWindowHost::Guarded(const std::function<void()> &handler)
{
    m_host.Guarded(handler);
}

void TBDTSWindowHost::ShowError(const QString &text)
{
    m_host.ReportError(text);
}

QString TBDTSWindowHost::ExecuteFileDialog(TBdtFileDialog &dialog)
{
    TFileDialogState state;
    state.filter = dialog.filter;
    state.defaultExt = dialog.defaultExt;
    state.initialDir = dialog.initialDir;
    state.memoryKey = dialog.save ? dialogKey::databaseSave : dialogKey::databaseOpen;
    TDialogs *dialogs = m_host.dialogs();
    QWidget *parent = m_host.dialogParent();
    const bool chosen = dialog.save ? dialogs->executeSave(parent, state) : dialogs->executeOpen(parent, state);
    return chosen ? state.fileName : QString();
}

void TBDTSWindowHost::SetLastFile(const QString &folder, const QString &name)
{
    m_host.lastFileFolder() = folder;
    m_host.lastFileName() = name;
}
