#include "measure/ResultPage.h"

#include "common/Dialogs.h"
#include "common/FontScale.h"
#include "common/PageHost.h"
#include "link/Line.h"
#include "link/ContactSearch.h"
#include "link/ReplyTable.h"
#include "measure/MeasureData.h"
#include "measure/MeasurementNotice.h"
#include "measure/PrintService.h"
#include "measure/ProtocolExchange.h"
#include "measure/SaveChoices.h"
#include "measure/UserData.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>

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
const QString protocolActivity = QStringLiteral("прием протокола результатов");
} // namespace

TResultPage::TResultPage(TPageHost &host, TLine &link, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(link)
{
    CreateLayout();
    ConnectHandlers();
    ConnectExchange();
}

void TResultPage::ConnectExchange()
{
    m_exchange = new TProtocolExchange(this);
    m_link.Serve(*m_exchange);
    // Replies and notices come from the line, which runs its handlers guarded already.
    connect(&m_link, &TLine::notice, this, [this](char code) {
        if (code == 'g')
            ReplyResultsReady();
    });
    connect(m_exchange, &TProtocolExchange::protocolReceived, this, &TResultPage::ReplyProtocolText);
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
    m_link.search->RequestTopSpeed();
}

void TResultPage::btnReadProtokolClick()
{
    RequestProtocol();
}

void TResultPage::RequestProtocol()
{
    // Made while the instrument is being looked for or another exchange runs, the
    // request waits for the line.
    m_link.Submit(*m_exchange, protocolActivity, [this] { BeginProtocol(); });
}

void TResultPage::BeginProtocol()
{
    protocolFileName.clear();
    m_exchange->start();
}

void TResultPage::ReplyResultsReady()
{
    if (TakeMeasurementNotice(m_host, m_link, *m_exchange, QStringLiteral("Результаты измерений готовы"),
                              chckAutoReadRes->isChecked(), protocolActivity, [this] { BeginProtocol(); }))
        Q_EMIT noticeShown();
}

void TResultPage::ReplyProtocolText(const QByteArray &reply)
{
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
    Q_EMIT protocolReceived(protocolBuffer);
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
    m_printService->setDocumentName(unsafeNameReason(ownName).isEmpty() ? fileSystemName(ownName) : QStringLiteral("Протокол"),
                                    m_host.handOverFolder());
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
