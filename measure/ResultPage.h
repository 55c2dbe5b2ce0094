#pragma once
// The results page "Результаты": the protocol of results, fetched by its announced
// length, shown in the memo, kept in the working file and saved under a chosen or
// automatic name.

#include "common/WorkPage.h"

#include <QByteArray>
#include <QWidget>

class QCheckBox;
class QPlainTextEdit;
class QPushButton;
class TLine;
class TPageHost;
class TPrintService;
class TProtocolExchange;

class TResultPage : public QWidget, public TWorkPage
{
    Q_OBJECT
public:
    TResultPage(TPageHost &host, TLine &link, QWidget *parent = nullptr);

    static const QString protocolWorkFile; ///< "MSTempProtokol.txt" in the program folder

    // ---- State ------------------------------------------------------------------------
    QByteArray protocolBuffer;      ///< the protocol received last, code page 1251 bytes
    QString protocolFileName;       ///< name of the last automatic protocol save

    // ---- Components -------------------------------------------------------------------
    QPlainTextEdit *Memo1 = nullptr;
    QCheckBox *chckAutoReadRes = nullptr, *chckAutoSaveRes = nullptr;
    QPushButton *btnReadProtokol = nullptr, *btnSaveProtokol = nullptr, *btnClrMemo1 = nullptr;
    QPushButton *btnPrintProtokol = nullptr; ///< "Печать…": the protocol received last, on paper
    QPushButton *btnOpenFolder = nullptr;    ///< "Открыть папку": where the automatic saves go

    // ---- Handlers ---------------------------------------------------------------------
    void btnReadProtokolClick();
    void btnSaveProtokolClick();
    void btnClrMemo1Click();
    void btnPrintProtokolClick(); // the preview, with its way to the printer
    void PrintProtocol();         // Ctrl+P on this page: the print dialog at once
    void ReplyResultsReady();                        // 'g', a notice the line heard
    /// The whole 'd' reply, its code and last byte included, heard out.
    void ReplyProtocolText(const QByteArray &reply);

    /// Arriving here asks for 115200.
    void Enter() override;
    QPushButton *ReadButton() const override { return btnReadProtokol; }
    QPushButton *SaveButton() const override { return btnSaveProtokol; }
    /// The request of the button and of automatic reception: it goes to the line.
    void RequestProtocol();
    /// The line's turn has come: 'g' is sent.
    void BeginProtocol();
    /// The protocol's exchange, which the line serves.
    const TProtocolExchange &exchange() const { return *m_exchange; }

Q_SIGNALS:
    /// A 'g' notice was shown: the reader page's request button is enabled too.
    void noticeShown();
    /// A whole protocol was received (code page 1251 bytes, as kept).
    void protocolReceived(const QByteArray &protocol);

private:
    void CreateLayout();
    void ConnectHandlers();
    void ConnectExchange();
    void SaveProtocolAutomatically();
    TPrintService &Printing();

    TPageHost &m_host;
    TLine &m_link;
    TPrintService *m_printService = nullptr; ///< made at the first print
    TProtocolExchange *m_exchange = nullptr; ///< the length and the protocol, one request at a time
};
