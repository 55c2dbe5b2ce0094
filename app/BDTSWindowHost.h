#pragma once
// The main window as the database page sees it.

#include "testdb/BDTSHost.h"

class TFormMainLoritS_D7;

class TBDTSWindowHost final : public TBDTSHost
{
public:
    explicit TBDTSWindowHost(TFormMainLoritS_D7 &window) : m_window(window) {}

    bool PortOpen() const override;
    bool LinkPresent() const override;
    void SendToDevice(const QByteArray &bytes) override;
    QByteArray &ReplyBuffer() override;
    void ShowStatus(const QString &text) override;
    void SetProgress(int percent) override;
    void RequestDatabase() override;
    void Guarded(const std::function<void()> &handler) override;
    void ShowError(const QString &text) override;
    QString ExecuteFileDialog(TBdtFileDialog &dialog) override;
    void SetLastFile(const QString &folder, const QString &name) override;

private:
    TFormMainLoritS_D7 &m_window;
};
