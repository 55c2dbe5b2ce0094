#include "measure/ResultPage.h"

#include "common/Dialogs.h"
#include "common/FontScale.h"
#include "common/PageHost.h"
#include "link/LinkControl.h"
#include "link/TMSComm.h"
#include "measure/MeasureData.h"
#include "measure/MeasurementNotice.h"
#include "measure/PrintService.h"

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
/// Five announced digits as the length: leading blanks and a sign are allowed, as
/// the instrument's firmware prints numbers; nothing when they are no number.
std::optional<qint32> announcedLength(const QByteArray &digits)
{
    qsizetype at = 0;
    while (at < digits.size() && digits.at(at) == ' ')
        ++at;
    const bool negative = at < digits.size() && digits.at(at) == '-';
    if (at < digits.size() && (digits.at(at) == '-' || digits.at(at) == '+'))
        ++at;
    if (at == digits.size())
        return std::nullopt;
    qint32 value = 0;
    for (; at < digits.size(); ++at) {
        const char digit = digits.at(at);
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + (digit - '0');
    }
    return negative ? -value : value;
}

QString memoText(const QByteArray &bytes)
{
    // Lines break at CR, LF or CR LF.
    QString text = fromCp1251(bytes);
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}
} // namespace

TResultPage::TResultPage(TPageHost &host, TLinkControl &link, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(link)
{
    CreateLayout();
    ConnectHandlers();
    m_protocolQuiet = new QTimer(this);
    m_protocolQuiet->setSingleShot(true);
    m_protocolQuiet->setInterval(protocolQuietMs);
    connectGuarded(m_host, m_protocolQuiet, &QTimer::timeout, this, &TResultPage::ProtocolQuiet);
    // Today's line tells the page what it brings; the dispatcher which notice it took.
    connect(&m_link, &TLinkControl::bytesArrived, this, &TResultPage::BytesArrived);
    connect(&m_link.dispatcher, &TReceiveDispatcher::noticeTaken, this, &TResultPage::NoticeTaken);
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

void TResultPage::btnReadProtokolClick()
{
    if (!m_link.MSComm1->PortOpen()) {
        m_host.ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (m_host.LineBusy()) {
        m_host.ShowStatus(m_host.LineBusyText());
        return;
    }
    m_link.replyBuffer.clear();
    protocolFileName.clear();
    m_protocolQuiet->stop(); // a protocol still being heard is no longer wanted
    m_settlingProtocol.clear();
    m_link.SendToDevice(QByteArrayLiteral("g"));
    ++protocolLengthsAwaited;
}

void TResultPage::RequestProtocol()
{
    protocolLength = 0;
    m_link.SendToDevice(QByteArrayLiteral("g"));
    ++protocolLengthsAwaited;
}

void TResultPage::ReplyResultsReady()
{
    if (TakeMeasurementNotice(m_host, QStringLiteral("Результаты измерений готовы"), chckAutoReadRes->isChecked(),
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

void TResultPage::ReplyProtocolLength()
{
    // Consumed before it is read: a length that is no number reaches the error box
    // and does not hold up the replies behind it.
    const auto reply = m_link.dispatcher.TakeAwaitedReply(protocolLengthsAwaited, protocol::lengthReplyLength);
    if (!reply)
        return;
    // A length that is no number came from the line: the status line says so (line
    // noise must not raise one error box after another), and nothing is requested.
    const QByteArray digits = reply->mid(1, protocol::lengthDigits);
    const std::optional<qint32> length = announcedLength(digits);
    if (!length) {
        protocolLength = 0;
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

void TResultPage::ReplyProtocolText()
{
    // The text comes in pieces; only the announced length tells it is complete.
    if (protocolLength < 1) {
        m_link.replyBuffer.clear(); // no protocol is awaited
        return;
    }
    QByteArray &replyBuffer = m_link.replyBuffer;
    if (replyBuffer.size() < protocolLength)
        return;
    // The reply is consumed before anything is written, so that a failed write does
    // not swallow the replies that follow.
    const QByteArray reply = replyBuffer.left(protocolLength);
    replyBuffer.remove(0, protocolLength);
    ProtocolReceived(reply, replyBuffer.size());
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
    const QString shownName = writeIntoFolder(m_host.programFolder(), protocol::autoFileName(protocolBuffer),
                                              protocolBuffer,
                                              QStringLiteral("Из протокола получено недопустимое имя файла"),
                                              QStringLiteral("протокол не записан."));
    protocolFileName = shownName;
    m_host.ShowStatus(QStringLiteral("Протокол записан в файл: ") + shownName);
}

void TResultPage::btnSaveProtokolClick()
{
    TFileDialogState &dialog = m_host.sdlgSaveTavDat();
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
