#pragma once
// The program as the database page sees it: the line and the window's host services.

#include "testdb/BDTSHost.h"

class TLine;
class TPageHost;

class TBDTSWindowHost final : public TBDTSHost
{
public:
    TBDTSWindowHost(TPageHost &host, TLine &link) : m_host(host), m_link(link) {}

    bool PortOpen() const override;
    bool LinkPresent() const override;
    void WhenLineFree(std::function<void()> request) override;
    void RequestTopSpeed() override;
    void ForgetGathered() override;
    void ShowStatus(const QString &text) override;
    void SetProgress(int percent) override;
    void Guarded(const std::function<void()> &handler) override;
    void ShowError(const QString &text) override;
    QString ExecuteFileDialog(TBdtFileDialog &dialog) override;
    void SetLastFile(const QString &folder, const QString &name) override;

private:
    TPageHost &m_host;
    TLine &m_link;
};
