#include "testdb/BDTSTransfer.h"

#include "testdb/BDTSLists.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QGroupBox>
#include <QPushButton>
#include <QTimer>

TBDTSTransfer::TBDTSTransfer(TBDTSLists &lists, std::unique_ptr<TBDTSHost> host, QObject *parent)
    : QObject(parent), m_lists(lists), m_host(std::move(host))
{
    TimeLimit_Timer = new QTimer(this);
    TimeLimit_Timer->setSingleShot(true);
    TimeLimit_Timer->setInterval(timeLimitMs);
    CountQuiet_Timer = new QTimer(this);
    CountQuiet_Timer->setSingleShot(true);
    CountQuiet_Timer->setInterval(countQuietMs);
    connect(TimeLimit_Timer, &QTimer::timeout, this,
            [this] { m_host->Guarded([this] { TimeLimit_TimerTimer(); }); });
    connect(CountQuiet_Timer, &QTimer::timeout, this,
            [this] { m_host->Guarded([this] { CountQuiet_TimerTimer(); }); });
}

TBDTSTransfer::~TBDTSTransfer() = default;

void TBDTSTransfer::begin(TTransferState state)
{
    const bool wasRunning = running();
    m_state = state;
    TimeLimit_Timer->start();
    if (!wasRunning)
        Q_EMIT runningChanged(true);
}

void TBDTSTransfer::end()
{
    if (!running())
        return;
    m_state = TTransferState::Idle;
    TimeLimit_Timer->stop();
    CountQuiet_Timer->stop();
    m_readImage.reset();
    Q_EMIT runningChanged(false);
}

void TBDTSTransfer::abandon()
{
    const bool reading = m_state == TTransferState::AwaitingCount || m_state == TTransferState::Reading;
    end();
    // Whatever part of a reply was gathered belongs to the transfer that stopped.
    m_host->ReplyBuffer().clear();
    m_host->SetProgress(0);
    if (reading)
        showDeviceTree();
}

void TBDTSTransfer::showDeviceTree()
{
    if (TFrameBDTS *frame = m_lists.frame())
        frame->TreeViewTav->show();
}

void TBDTSTransfer::RequestDatabase()
{
    if (!m_host->PortOpen()) {
        m_host->ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (running())
        return; // one transfer at a time: pageIndex serves both directions
    deviceHeaderText = QByteArrayLiteral("TavBDTS");
    begin(TTransferState::AwaitingCount);
    m_host->SendToDevice(QByteArrayLiteral("R"));
    if (TFrameBDTS *frame = m_lists.frame())
        frame->TreeViewTav->hide();
}

void TBDTSTransfer::ReplyPageCount()
{
    if (m_state != TTransferState::AwaitingCount) {
        m_host->ReplyBuffer().clear(); // nobody asked for it
        return;
    }
    // The count has no fixed length: it is read once the line has been quiet a moment,
    // so that a count split over two receive events is read whole.
    TimeLimit_Timer->start();
    CountQuiet_Timer->start();
}

void TBDTSTransfer::CountQuiet_TimerTimer()
{
    QByteArray &reply = m_host->ReplyBuffer();
    if (m_state != TTransferState::AwaitingCount || !reply.startsWith('R'))
        return;
    m_host->ShowStatus(QStringLiteral("Чтение БД ТС из прибора."));
    const QByteArray countText = reply.mid(2);
    const std::optional<int> count = parseCountText(countText);
    reply.clear();
    if (!count) {
        abandon();
        m_host->ShowStatus(QStringLiteral("Прибор прислал вместо числа страниц БД ТС: \"%1\".")
                                   .arg(QString::fromLatin1(countText.toPercentEncoding(" "))));
        return;
    }
    if (*count > bdt::maxPageCount) {
        abandon();
        m_host->ShowStatus(tooManyPagesText());
        return;
    }
    if (*count < 1) {
        abandon(); // an empty database: nothing to read, the old list stays
        return;
    }
    deviceHeaderText += countText;
    pageIndex = 1;
    m_readPageCount = *count;
    // Provisional header; the rebuild at the end of the reading writes the real one.
    m_readImage = deviceHeaderText.left(bdt::headerSize).leftJustified(bdt::headerSize, '\0');
    m_readImage->reserve(bdt::headerSize + qsizetype(*count) * bdt::pageSize);
    begin(TTransferState::Reading);
    m_host->SendToDevice(QByteArrayLiteral("r"));
}

void TBDTSTransfer::ReplyPage()
{
    QByteArray &reply = m_host->ReplyBuffer();
    if (m_state != TTransferState::Reading) {
        reply.clear(); // a page nobody asked for
        return;
    }
    TimeLimit_Timer->start();
    if (reply.size() < pageReplySize)
        return; // the page is still arriving
    // Two replies run together: the first 529 bytes are this page, the rest waits as
    // the next reply.
    m_readImage->append(reply.constData() + 1, bdt::pageSize);
    reply.remove(0, pageReplySize);
    if (pageIndex == m_readPageCount - 2)
        m_host->ShowStatus(QStringLiteral("Принято из прибора страниц: %1").arg(pageIndex));
    if (pageIndex == m_readPageCount) {
        completeReading();
        return;
    }
    ++pageIndex;
    m_host->SetProgress(pageIndex * 100 / m_readPageCount);
    m_host->SendToDevice(QByteArrayLiteral("r"));
}

void TBDTSTransfer::completeReading()
{
    std::optional<QByteArray> image = std::exchange(m_readImage, std::nullopt);
    end();
    m_lists.deviceImage = std::move(image);
    m_lists.deviceRecords.assign(size_t(m_readPageCount), TTSRecordRef{});
    m_lists.ParseImage(TBDTSSide::Device, m_readPageCount);
    TFrameBDTS *frame = m_lists.frame();
    if (frame)
        m_lists.WriteListFile(*frame->TreeViewTav, QString::fromLatin1(deviceListFile));
    const bool rebuilt = m_lists.RebuildImage(TBDTSSide::Device).has_value();
    m_lists.deviceListLoaded = true;
    if (frame) {
        frame->showDeviceCount(m_lists.deviceTSCount);
        frame->TreeViewTav->show();
        frame->btnSaveBDTSinFile->setEnabled(true);
    }
    m_lists.BuildAdditionalList();
    m_host->SetProgress(0);
    // A refused rebuild has said why on the status line; that stays.
    if (rebuilt)
        m_host->ShowStatus(QStringLiteral("Принято из прибора страниц: %1").arg(m_lists.devicePageCount));
    m_host->ReplyBuffer().clear();
}

void TBDTSTransfer::StartWriting(const std::optional<QByteArray> &source, int expectedPageCount)
{
    if (!source) {
        m_host->ShowStatus(QStringLiteral("Список не считан из файла."));
        return;
    }
    if (!m_host->PortOpen()) {
        m_host->ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (running())
        return;
    m_host->ShowStatus(QStringLiteral("Запись БД ТС в прибор."));
    m_lists.sendImage = *source;
    const std::optional<int> count = headerCount(*m_lists.sendImage);
    // Every page announced must be there: a short page would shift every later byte
    // of the instrument's database.
    if (!count
        || m_lists.sendImage->size() < bdt::headerSize + qint64(*count) * bdt::pageSize) {
        m_host->ShowStatus(QStringLiteral("Неверный формат файла."));
        return;
    }
    writePageCount = *count;
    if (writePageCount != expectedPageCount) {
        m_host->ShowStatus(QStringLiteral("Ошибка в создании списка."));
        return;
    }
    m_sendOffset = bdt::headerSize;
    pageIndex = 1;
    begin(TTransferState::Writing);
    QByteArray announce("M");
    announce.append(char(writePageCount / 256)).append(char(writePageCount % 256));
    m_host->SendToDevice(announce);
}

void TBDTSTransfer::ReplyPageWritten()
{
    QByteArray &reply = m_host->ReplyBuffer();
    reply.clear();
    if (m_state != TTransferState::Writing)
        return; // not ours: a stray 'm' must not start a reading
    TimeLimit_Timer->start();
    if (pageIndex <= writePageCount) {
        // 'm' and the page in one write: the same bytes on the line as byte by byte.
        QByteArray page("m");
        page.append(m_lists.sendImage->constData() + m_sendOffset, bdt::pageSize);
        m_sendOffset += bdt::pageSize;
        m_host->SendToDevice(page);
        m_host->SetProgress(pageIndex * 100 / writePageCount);
        ++pageIndex;
        return;
    }
    end();
    m_host->SetProgress(0);
    m_host->ShowStatus(QStringLiteral("Отправлено в прибор страниц: %1").arg(writePageCount));
    // Read back at once, so that the tree shows what the instrument now holds.
    m_host->RequestDatabase();
}

void TBDTSTransfer::TimeLimit_TimerTimer()
{
    if (!running())
        return;
    abandon();
    m_host->ShowStatus(QStringLiteral("Прибор не отвечает!"));
}

void TBDTSTransfer::LinkLost()
{
    // The window says "Нет связи с прибором" itself.
    if (running())
        abandon();
}
