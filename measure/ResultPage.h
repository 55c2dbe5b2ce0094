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
class TReceiveDispatcher;
class QTimer;

class TResultPage : public QWidget, public TWorkPage
{
    Q_OBJECT
public:
    TResultPage(TPageHost &host, TLine &link, QWidget *parent = nullptr);

    static const QString protocolWorkFile; ///< "MSTempProtokol.txt" in the program folder
    /// ms the line is heard after a protocol before it is taken
    static constexpr int protocolQuietMs = 30;

    // ---- State ------------------------------------------------------------------------
    qint32 protocolLength = 0;      ///< length of the awaited 'd' reply, code and last byte included; 0: none awaited
    int protocolLengthsAwaited = 0; ///< 'N' after 'g'; a lost link forgets them
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
    /// The page takes 'N', 'd' and 'g'.
    void OwnReplies(TReceiveDispatcher &replies);
    void ReplyResultsReady();                         // 'g'
    void ReplyProtocolLength(const QByteArray &reply); // 'N', whole
    void ReplyProtocolText(const QByteArray &reply);   // 'd', whole
    /// The whole 'd' reply, its code and last byte included; `following` bytes came
    /// behind it and are the line's next reply.
    void ProtocolReceived(const QByteArray &reply, qsizetype following);
    /// A protocol is in and the line is being heard before it is taken.
    bool protocolSettling() const { return !m_settlingProtocol.isEmpty(); }

    /// Arriving here asks for 115200.
    void Enter() override;
    QPushButton *ReadButton() const override { return btnReadProtokol; }
    QPushButton *SaveButton() const override { return btnSaveProtokol; }
    /// The automatic request after a 'g' notice.
    void RequestProtocol();
    /// The instrument went away: what it had been asked for will never come.
    void ForgetAwaitedReplies();
    /// The line has become free: an automatic request that waited for it goes now.
    void LineFreed();

Q_SIGNALS:
    /// A 'g' notice was shown: the reader page's request button is enabled too.
    void noticeShown();

private:
    void CreateLayout();
    void ConnectHandlers();
    void SaveProtocolAutomatically();
    void BytesArrived(qsizetype count);
    void NoticeTaken(char code);
    /// The line was quiet behind the protocol, or it was not.
    void ProtocolQuiet();
    TPrintService &Printing();

    TPageHost &m_host;
    TLine &m_link;
    TPrintService *m_printService = nullptr; ///< made at the first print
    bool m_autoProtocolDeferred = false; ///< a 'g' notice came while the line was busy
    QTimer *m_protocolQuiet = nullptr;
    QByteArray m_settlingProtocol;       ///< the 'd' reply being judged
    qint64 m_bytesBehindProtocol = 0;    ///< what came behind it that was no notice
};
