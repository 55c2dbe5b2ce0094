#include "measure/ResultPage.h"

#include "common/Dialogs.h"
#include "common/FontScale.h"
#include "common/PageHost.h"
#include "link/Line.h"
#include "link/ReceiveDispatcher.h"
#include "link/ReplyTable.h"
#include "measure/MeasureData.h"
#include "measure/MeasurementNotice.h"
#include "measure/PrintService.h"
#include "measure/SaveChoices.h"
#include "measure/UserData.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <optional>
#include <stdexcept>
#include <utility>

const QString TResultPage::protocolWorkFile = QStringLiteral("MSTempProtokol.txt");

namespace {
QString memoText(const QByteArray &bytes)
{
    // Lines break at CR, LF or CR LF.
    QString text = fromCp1251(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
} // namespace

TResultPage::TResultPage(TPageHost &host, TLine &link, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(link)
{
    CreateLayout();
    ConnectHandlers();
    m_protocolQuiet = new QTimer(this);
    m_protocolQuiet->setSingleShot(true);
    m_protocolQuiet->setInterval(protocolQuietMs);
    connectGuarded(m_host, m_protocolQuiet, &QTimer::timeout, this, &TResultPage::ProtocolQuiet);
    // Today's line tells the page what it brings; the dispatcher which notice it took.
    connect(&m_link, &TLine::bytesArrived, this, &TResultPage::BytesArrived);
    connect(&m_link.dispatcher, &TReceiveDispatcher::noticeTaken, this, &TResultPage::NoticeTaken);
    connectGuarded(m_host, &m_link.lineClaim, &TLineClaim::freed, this, &TResultPage::LineFreed);
}

void TResultPage::CreateLayout()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->setSpacing(4);
    auto *title = new QLabel(QStringLiteral("Чтение протокола результатов из ТАВЕЛОНа."), this);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setTabChangesFocus(false);
    QFont courier = fontScale::scaled(Memo1->font(), 12.0 / 11);
    courier.setFamily(QStringLiteral("Courier New"));
    courier.setStyleHint(QFont::TypeWriter);
    courier.setFixedPitch(true);
    Memo1->setFont(courier);
    layout->addWidget(Memo1, 1);

    chckAutoReadRes = new QCheckBox(QStringLiteral("автоприем данных"), this);
    chckAutoSaveRes = new QCheckBox(QStringLiteral("автосохранение данных"), this);
    btnReadProtokol = new QPushButton(QStringLiteral("Принять данные"), this);
    btnSaveProtokol = new QPushButton(QStringLiteral("Данные в файл"), this);
    btnSaveProtokol->setEnabled(false);
    btnClrMemo1 = new QPushButton(QStringLiteral("Очистить экран"), this);
    btnPrintProtokol = new QPushButton(QStringLiteral("Печать…"), this);
    btnPrintProtokol->setToolTip(QStringLiteral("Просмотр и печать протокола (Ctrl+P: сразу к принтеру)"));
    btnPrintProtokol->setEnabled(false);
    auto *row = new QHBoxLayout;
    row->addWidget(chckAutoReadRes);
    row->addWidget(chckAutoSaveRes);
    row->addStretch();
    // Beside the check boxes, so that the page needs no more width than it always has.
    btnOpenFolder = userData::openFolderButton(m_host, this);
    row->addWidget(btnOpenFolder);
    layout->addLayout(row);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(btnReadProtokol);
    buttons->addWidget(btnSaveProtokol);
    buttons->addWidget(btnClrMemo1);
    buttons->addWidget(btnPrintProtokol);
    layout->addLayout(buttons);
}

void TResultPage::ConnectHandlers()
{
    const auto on = [this](QPushButton *button, auto handler) {
        connectGuarded(m_host, button, &QPushButton::clicked, this, handler);
    };
    on(btnReadProtokol, &TResultPage::btnReadProtokolClick);
    on(btnSaveProtokol, &TResultPage::btnSaveProtokolClick);
    on(btnClrMemo1, &TResultPage::btnClrMemo1Click);
    on(btnPrintProtokol, &TResultPage::btnPrintProtokolClick);
    auto *print = new QShortcut(QKeySequence::Print, this, nullptr, nullptr, Qt::WidgetWithChildrenShortcut);
    connectGuarded(m_host, print, &QShortcut::activated, this, &TResultPage::PrintProtocol);
}

void TResultPage::Enter()
{
    m_link.RequestTopSpeedUnlessExchanging();
}

void TResultPage::btnReadProtokolClick()
{
    if (!m_link.PortOpen()) {
        m_host.ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    // Made while the instrument is being looked for, the request waits for it.
    m_link.WhenLineFree([this] {
        m_link.ForgetGathered();
        protocolFileName.clear();
        m_protocolQuiet->stop(); // a protocol still being heard is no longer wanted
        m_settlingProtocol.clear();
        m_link.SendToDevice(QByteArrayLiteral("g"));
        ++protocolLengthsAwaited;
    });
}

void TResultPage::RequestProtocol()
{
    protocolLength = 0;
    m_link.SendToDevice(QByteArrayLiteral("g"));
    ++protocolLengthsAwaited;
}

void TResultPage::ReplyResultsReady()
{
    if (TakeMeasurementNotice(m_host, m_link, QStringLiteral("Результаты измерений готовы"), chckAutoReadRes->isChecked(),
                              m_autoProtocolDeferred, [this] { RequestProtocol(); }))
        Q_EMIT noticeShown();
}

void TResultPage::LineFreed()
{
    if (std::exchange(m_autoProtocolDeferred, false) && m_link.LinkPresent() && chckAutoReadRes->isChecked())
        RequestProtocol();
}

void TResultPage::ForgetAwaitedReplies()
{
    protocolLengthsAwaited = 0;
    protocolLength = 0;
    m_protocolQuiet->stop();
    m_settlingProtocol.clear();
}

void TResultPage::OwnReplies(TReceiveDispatcher &replies)
{
    TReceiveDispatcher::TOwner length;
    length.awaited = [this] { return protocolLengthsAwaited > 0; };
    length.reply = [this](const QByteArray &reply) { ReplyProtocolLength(reply); };
    replies.own('N', std::move(length));

    TReceiveDispatcher::TOwner text;
    // The text ends at the length 'N' announced; with none announced, no protocol is
    // awaited.
    text.announcedLength = [this] { return qsizetype(protocolLength); };
    text.reply = [this](const QByteArray &reply) { ReplyProtocolText(reply); };
    replies.own('d', std::move(text));

    replies.own('g', [this] { ReplyResultsReady(); });
}

void TResultPage::ReplyProtocolLength(const QByteArray &reply)
{
    --protocolLengthsAwaited;
    // A length that is no number came from the line: the status line says so (line
    // noise must not raise one error box after another), and nothing is requested.
    const std::optional<qint32> length = wire::announcedProtocolLength(reply);
    if (!length) {
        protocolLength = 0;
        const QByteArray digits = reply.mid(1, wire::protocolLengthDigits);
        m_host.ShowStatus(QStringLiteral("Прибор прислал вместо длины протокола \"%1\". Повторите чтение.")
                                  .arg(QString::fromLatin1(digits.toPercentEncoding(" "))));
        return;
    }
    protocolLength = *length;
    if (protocolLength < 1)
        return;
    protocolFileName.clear();
    m_link.SendToDevice(QByteArrayLiteral("d"));
}

void TResultPage::ReplyProtocolText(const QByteArray &reply)
{
    // Bytes still gathered behind the protocol came with it.
    ProtocolReceived(reply, m_link.dispatcher.gathered());
}

void TResultPage::ProtocolReceived(const QByteArray &reply, qsizetype following)
{
    protocolLength = 0;
    // The protocol has no checksum and its length is all its format fixes: one byte of
    // line noise inside it pushes its last bytes out behind it. Nothing is asked for
    // after it, so the line is heard a moment before the protocol is taken; only a
    // measurement notice may come.
    m_settlingProtocol = reply;
    m_bytesBehindProtocol = following;
    m_protocolQuiet->start();
}

void TResultPage::BytesArrived(qsizetype count)
{
    if (m_protocolQuiet->isActive())
        m_bytesBehindProtocol += count;
}

void TResultPage::NoticeTaken(char code)
{
    if (m_protocolQuiet->isActive() && (code == 'G' || code == 'g'))
        --m_bytesBehindProtocol;
}

void TResultPage::ProtocolQuiet()
{
    const QByteArray reply = std::exchange(m_settlingProtocol, QByteArray());
    if (m_bytesBehindProtocol > 0) {
        m_host.ShowStatus(QStringLiteral("Протокол принят с искажением (лишние байты на линии). Повторите чтение."));
        return;
    }
    // The code byte and the last byte are not part of the text. The protocol is kept
    // in memory and shown from there: a working file that cannot be written (a full
    // disk, a read-only folder) must not lose or falsify it.
    protocolBuffer = reply.mid(1, qMax<qsizetype>(0, reply.size() - 2));
    Memo1->setPlainText(memoText(protocolBuffer));
    btnSaveProtokol->setEnabled(true);
    btnPrintProtokol->setEnabled(true);
    // A working file that fails has its message; the automatic save does not depend
    // on it, since it works from the protocol in memory.
    try {
        writeWholeFile(m_host.programFolder() + protocolWorkFile, protocolBuffer);
    } catch (const std::exception &error) {
        m_host.ReportError(QString::fromUtf8(error.what()));
    }
    if (chckAutoSaveRes->isChecked())
        SaveProtocolAutomatically();
}

void TResultPage::SaveProtocolAutomatically()
{
    const QString folder = userData::autoSaveFolder(m_host);
    const QString shownName = writeIntoFolder(folder, protocol::autoFileName(protocolBuffer),
                                              protocolBuffer,
                                              QStringLiteral("Из протокола получено недопустимое имя файла"),
                                              QStringLiteral("протокол не записан."));
    protocolFileName = shownName;
    m_host.ShowStatus(userData::savedText(QStringLiteral("Протокол записан в файл: ") + shownName, folder));
}

void TResultPage::btnSaveProtokolClick()
{
    TFileDialogState &dialog = m_host.sdlgSaveTavDat();
    // The protocol's own name (as the automatic save names it), never a table's.
    const QByteArray ownName = protocol::autoFileName(protocolBuffer);
    saving::proposeProtocolSave(dialog, unsafeNameReason(ownName).isEmpty() ? fileSystemName(ownName)
                                                                            : QStringLiteral("Протокол"));
    if (!m_host.dialogs()->executeSave(m_host.dialogParent(), dialog))
        return;
    // The protocol received last, whatever the memo shows now.
    writeWholeFile(dialog.fileName, protocolBuffer);
    m_host.ShowStatus(QStringLiteral("Данные записаны в файл."));
}

TPrintService &TResultPage::Printing()
{
    if (!m_printService)
        m_printService = new TPrintService(m_host.dialogParent(), m_host.dialogs());
    // A PDF of the protocol is proposed under the protocol's own name.
    const QByteArray ownName = protocol::autoFileName(protocolBuffer);
    m_printService->setDocumentName(unsafeNameReason(ownName).isEmpty() ? fileSystemName(ownName)
                                                                        : QStringLiteral("Протокол"));
    return *m_printService;
}

void TResultPage::btnPrintProtokolClick()
{
    // The protocol received last, whatever the memo shows now: first on screen, and
    // from the preview to the printer or a PDF file.
    Printing().previewProtocol(protocolBuffer);
}

void TResultPage::PrintProtocol()
{
    if (btnPrintProtokol->isEnabled())
        Printing().printProtocol(protocolBuffer);
}

void TResultPage::btnClrMemo1Click()
{
    Memo1->clear();
}
