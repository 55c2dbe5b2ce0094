#include "testdb/BDTSTransfer.h"

#include "link/ReceiveDispatcher.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSView.h"

#include <QStringList>
#include <QTimer>

namespace {
/// Pages named one by one in the report of a failed comparison; more are counted.
constexpr int namedPagesMax = 10;
} // namespace

TBDTSTransfer::TBDTSTransfer(TBDTSDatabase &database, std::unique_ptr<TBDTSHost> host, QObject *parent)
    : TExchange(TLineUser::Database, parent), m_database(database), m_host(std::move(host))
{
    TimeLimit_Timer = new QTimer(this);
    TimeLimit_Timer->setSingleShot(true);
    TimeLimit_Timer->setInterval(timeLimitMs);
    SettleQuiet_Timer = new QTimer(this);
    SettleQuiet_Timer->setSingleShot(true);
    SettleQuiet_Timer->setInterval(settleQuietMs);
    connect(TimeLimit_Timer, &QTimer::timeout, this,
            [this] { m_host->Guarded([this] { TimeLimit_TimerTimer(); }); });
    connect(SettleQuiet_Timer, &QTimer::timeout, this,
            [this] { m_host->Guarded([this] { SettleQuiet_TimerTimer(); }); });
    // The host carries the transfer's words to the window; the line that serves the
    // transfer sends its bytes.
    TBDTSHost *const to = m_host.get();
    connect(this, &TBDTSTransfer::statusText, this, [to](const QString &text) { to->ShowStatus(text); });
    connect(this, &TBDTSTransfer::progress, this, [to](int percent) { to->SetProgress(percent); });
}

TBDTSTransfer::~TBDTSTransfer() = default;

void TBDTSTransfer::begin(TTransferState state)
{
    const bool wasRunning = running();
    m_state = state;
    if (!wasRunning)
        Q_EMIT runningChanged(true);
}

void TBDTSTransfer::end()
{
    if (!running())
        return;
    m_state = TTransferState::Idle;
    TimeLimit_Timer->stop();
    SettleQuiet_Timer->stop();
    m_readImage.reset();
    m_written.reset();
    m_sending.clear();
    Q_EMIT runningChanged(false);
}

void TBDTSTransfer::request(const QByteArray &bytes, int limitMs)
{
    // The time limit counts from each request: only the instrument's answer earns the
    // next request, and with it more time; noise on the line never does.
    TimeLimit_Timer->start(limitMs);
    Q_EMIT bytesToSend(bytes);
}

void TBDTSTransfer::dropGatheredReply()
{
    m_host->ForgetGathered();
}

void TBDTSTransfer::lineLost()
{
    endWith(TTransferEnd::LinkLost);
}

void TBDTSTransfer::lineBack()
{
    // Nothing resumes: a transfer the line's loss ended is started again by the user.
}

void TBDTSTransfer::abandon()
{
    const bool reading = m_state == TTransferState::AwaitingCount || m_state == TTransferState::Reading
                         || m_state == TTransferState::Settling;
    // Once 'M' went out, the instrument may hold anything until a reading shows it.
    const bool unknown = m_state == TTransferState::Writing || verifying();
    end();
    // Whatever part of a reply was gathered belongs to the transfer that stopped.
    dropGatheredReply();
    Q_EMIT progress(0);
    if (reading)
        showDeviceTree();
    if (unknown)
        markDeviceListUnconfirmed();
}

void TBDTSTransfer::endWith(TTransferEnd why)
{
    if (!running())
        return;
    const bool writing = m_state == TTransferState::Writing;
    const bool checking = verifying();
    abandon();
    QString status;
    switch (why) {
    case TTransferEnd::TimeLimit:
        status = checking ? QStringLiteral("Прибор не отвечает! Записанная БД ТС не проверена.")
                          : QStringLiteral("Прибор не отвечает!");
        break;
    case TTransferEnd::Stopped:
        status = writing    ? QStringLiteral("Запись БД ТС в прибор остановлена.")
                : checking ? QStringLiteral("Проверка записанной БД ТС остановлена.")
                           : QStringLiteral("Чтение БД ТС из прибора остановлено.");
        break;
    case TTransferEnd::LinkLost:
        break; // the window says "Нет связи с прибором" itself
    }
    if (!status.isEmpty())
        Q_EMIT statusText(status);
    Q_EMIT finished(false, status.isEmpty() ? QStringLiteral("Нет связи с прибором") : status);
    if (!writing)
        return;
    const QString text = interruptedWriteText();
    if (why == TTransferEnd::LinkLost) {
        // The line's loss is still being handled; the box waits until that is done.
        QTimer::singleShot(0, this, [this, text] { m_host->ShowError(text); });
        return;
    }
    m_host->ShowError(text);
}

QString TBDTSTransfer::interruptedWriteText() const
{
    const QString acknowledged = m_acknowledged > 0
            ? QStringLiteral("Последняя страница, принятая прибором: %1 из %2.").arg(m_acknowledged).arg(writePageCount)
            : QStringLiteral("Прибор не принял ни одной страницы из %1.").arg(writePageCount);
    return QStringLiteral("Запись БД ТС в прибор прервана. ") + acknowledged
            + QStringLiteral("\nБД ТС в приборе может быть записана не полностью: запишите её в прибор заново.");
}

void TBDTSTransfer::showDeviceTree()
{
    if (m_view)
        m_view->showDeviceTree(true);
}

void TBDTSTransfer::markDeviceListUnconfirmed()
{
    m_database.setDeviceListConfirmed(false);
}

void TBDTSTransfer::RequestDatabase()
{
    if (!m_host->PortOpen()) {
        Q_EMIT statusText(QStringLiteral("Порт отключен."));
        return;
    }
    if (running())
        return; // one transfer at a time: pageIndex serves both directions
    // Made while the instrument is being looked for, the request waits for it.
    m_host->WhenLineFree([this] {
        if (!running())
            requestCount();
    });
}

void TBDTSTransfer::requestCount()
{
    deviceHeaderText = QByteArrayLiteral("TavBDTS");
    begin(TTransferState::AwaitingCount);
    request(QByteArrayLiteral("R"));
    if (m_view)
        m_view->showDeviceTree(false);
}

void TBDTSTransfer::cancel()
{
    endWith(TTransferEnd::Stopped);
}

void TBDTSTransfer::OwnReplies(TReceiveDispatcher &replies)
{
    // The count has no fixed length: the dispatcher hands it on once the line has been
    // quiet a moment, so that a count split over two receive events is read whole.
    // The time limit still counts from the request.
    m_replies = &replies;
    TReceiveDispatcher::TOwner count;
    count.awaited = [this] { return m_state == TTransferState::AwaitingCount; };
    count.reply = [this](const QByteArray &bytes) { reply('R', bytes); };
    replies.own('R', std::move(count));

    TReceiveDispatcher::TOwner page;
    page.awaited = [this] { return m_state == TTransferState::Reading; }; // else a page nobody asked for
    page.reply = [this](const QByteArray &bytes) { reply('r', bytes); };
    replies.own('r', std::move(page));

    replies.own('m', [this] { reply('m', {}); });
}

void TBDTSTransfer::SettleQuiet_TimerTimer()
{
    if (m_state == TTransferState::Settling)
        judgeReading();
}

void TBDTSTransfer::CountReceived(const QByteArray &reply)
{
    if (m_state != TTransferState::AwaitingCount)
        return;
    Q_EMIT statusText(QStringLiteral("Чтение БД ТС из прибора."));
    const QByteArray countText = reply.mid(2);
    const std::optional<int> count = parseCountText(countText);
    if (!count) {
        abandon();
        // Noise can be long: the status line quotes its beginning only.
        constexpr qsizetype quoted = 24;
        QString shown = QString::fromLatin1(countText.left(quoted).toPercentEncoding(" "));
        if (countText.size() > quoted)
            shown += QStringLiteral("…");
        finish(false, QStringLiteral("Прибор прислал вместо числа страниц БД ТС: \"%1\".").arg(shown));
        return;
    }
    if (*count > bdt::maxPageCount) {
        abandon();
        finish(false, tooManyPagesText());
        return;
    }
    if (*count < 1) {
        abandon(); // an empty database: nothing to read, the old list stays
        Q_EMIT finished(false, QString());
        return;
    }
    deviceHeaderText += countText;
    pageIndex = 1;
    m_readPageCount = *count;
    // Provisional header; the rebuild at the end of the reading writes the real one.
    m_readImage = deviceHeaderText.left(bdt::headerSize).leftJustified(bdt::headerSize, '\0');
    m_readImage->reserve(bdt::headerSize + qsizetype(*count) * bdt::pageSize);
    m_pageBytes = 0;
    m_lastPageMarkUnknown = false;
    begin(TTransferState::Reading);
    request(QByteArrayLiteral("r"));
}

void TBDTSTransfer::PageReceived(const QByteArray &page, qsizetype following)
{
    if (m_state != TTransferState::Reading || page.size() != pageReplySize)
        return;
    // A page is judged by its own bytes: the pages asked for so far account for every
    // byte up to its end. Anything more came from elsewhere, and may sit inside it; what
    // followed it is the next reply, and is judged when it is handed on.
    if (m_pageBytes - following != qint64(pageIndex) * pageReplySize) {
        refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
        return;
    }
    const qsizetype offset = m_readImage->size();
    m_readImage->append(page.constData() + 1, bdt::pageSize);
    const std::optional<quint32> mark = pageMarkAt(*m_readImage, offset);
    m_lastPageMarkUnknown = !mark || (*mark != bdt::recordPageMark && *mark != bdt::finalPageMark);
    if (pageIndex == m_readPageCount - 2)
        Q_EMIT statusText(QStringLiteral("Принято из прибора страниц: %1").arg(pageIndex));
    if (pageIndex == m_readPageCount) {
        // Nothing is asked for any more, so nothing may come but a notice: noise inside
        // the final page pushes its last bytes out behind it, and they are heard first.
        m_state = TTransferState::Settling;
        TimeLimit_Timer->stop();
        SettleQuiet_Timer->start();
        return;
    }
    ++pageIndex;
    Q_EMIT progress(pageIndex * 100 / m_readPageCount);
    request(QByteArrayLiteral("r"));
}

void TBDTSTransfer::judgeReading()
{
    if (m_pageBytes != qint64(m_readPageCount) * pageReplySize) {
        refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
        return;
    }
    completeReading();
}

void TBDTSTransfer::BytesArrived(qsizetype count)
{
    if (m_state == TTransferState::Reading || m_state == TTransferState::Settling)
        m_pageBytes += count;
}

void TBDTSTransfer::NoticeTaken(char code)
{
    if (m_state != TTransferState::Reading && m_state != TTransferState::Settling)
        return;
    // The instrument tells of a measurement whenever it has one; it says 'L' only when
    // it has restarted and 'B' only to a probe, and neither happens in a reading.
    if (code != 'G' && code != 'g')
        return; // counted with the pages: the reading is refused
    if (m_lastPageMarkUnknown) {
        refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
        return;
    }
    --m_pageBytes;
}

void TBDTSTransfer::refuseDisturbedReading(const QString &why)
{
    const bool checking = verifying();
    abandon();
    const QString disturbed = QStringLiteral("Чтение БД ТС из прибора нарушено (%1). ").arg(why);
    finish(false, disturbed + (checking ? QStringLiteral("Записанная БД ТС не проверена: повторите чтение.")
                                        : QStringLiteral("Повторите чтение.")));
}

void TBDTSTransfer::completeReading()
{
    const QByteArray image = *m_readImage;
    const int pageCount = m_readPageCount;
    // Noise can pass for a page, and a count cut short by a pause asks for too few: the
    // instrument's database always ends with its final page, so a reading without it
    // is no database and replaces nothing.
    if (!endsWithFinalPage(image, pageCount)) {
        refuseDisturbedReading(QStringLiteral("нет последней страницы"));
        return;
    }
    if (!TBDTSDatabase::NormalFormFits(image, pageCount)) {
        abandon();
        finish(false, tooManyPagesText());
        return;
    }
    const std::optional<QByteArray> written = std::exchange(m_written, std::nullopt);
    const int unknownPages = unknownMarkPages(image, pageCount);
    end();
    QString listProblem;
    const bool rebuilt = m_database.AcceptReading(image, pageCount, &listProblem);
    showDeviceTree();
    Q_EMIT progress(0);
    dropGatheredReply();
    if (written) {
        Q_EMIT finished(reportVerification(*written, image), QString());
    } else if (rebuilt) { // a refused rebuild has said why on the status line; that stays
        QString status = QStringLiteral("Принято из прибора страниц: %1").arg(m_database.devicePageCount);
        // The scan passes over such pages and the rebuild drops them; the user should
        // know that the instrument held them.
        if (unknownPages > 0)
            status += QStringLiteral(". Пропущено страниц с неизвестной меткой: %1.").arg(unknownPages);
        finish(true, status);
    } else {
        Q_EMIT finished(false, QString());
    }
    // The status line moves on at once; a list file that failed must not go unseen.
    if (!listProblem.isEmpty())
        m_host->ShowError(listProblem);
}

bool TBDTSTransfer::reportVerification(const QByteArray &written, const QByteArray &read)
{
    const std::vector<int> differing = differingPages(written, read);
    if (differing.empty()) {
        Q_EMIT statusText(QStringLiteral("БД ТС записана в прибор и проверена: страниц %1.")
                                   .arg(wholePageCount(written)));
        return true;
    }
    Q_EMIT statusText(QStringLiteral("БД ТС в приборе отличается от записанной!"));
    QString text = QStringLiteral("БД ТС в приборе отличается от записанной.");
    if (wholePageCount(read) != wholePageCount(written))
        text += QStringLiteral(" Записано страниц: %1, прочитано: %2.")
                        .arg(wholePageCount(written))
                        .arg(wholePageCount(read));
    QStringList named;
    for (size_t i = 0; i < differing.size() && i < size_t(namedPagesMax); ++i)
        named << QString::number(differing[i]);
    text += QStringLiteral(" Не совпадают страницы: %1").arg(named.join(QStringLiteral(", ")));
    if (differing.size() > size_t(namedPagesMax))
        text += QStringLiteral(" и ещё %1").arg(differing.size() - size_t(namedPagesMax));
    text += QStringLiteral(".\nЗапишите БД ТС в прибор заново.");
    m_host->ShowError(text);
    return false;
}

void TBDTSTransfer::finish(bool ok, const QString &why)
{
    Q_EMIT statusText(why);
    Q_EMIT finished(ok, why);
}

void TBDTSTransfer::StartWriting(const std::optional<QByteArray> &source, int expectedPageCount)
{
    if (!source) {
        Q_EMIT statusText(QStringLiteral("Список не считан из файла."));
        return;
    }
    if (!m_host->PortOpen()) {
        Q_EMIT statusText(QStringLiteral("Порт отключен."));
        return;
    }
    if (running())
        return;
    m_host->WhenLineFree([this, image = *source, expectedPageCount] {
        if (!running())
            WriteImage(image, expectedPageCount);
    });
}

void TBDTSTransfer::WriteImage(const QByteArray &source, int expectedPageCount)
{
    Q_EMIT statusText(QStringLiteral("Запись БД ТС в прибор."));
    m_database.sendImage = source;
    const std::optional<int> count = headerCount(*m_database.sendImage);
    // Every page announced must be there, the last of them the final page: a short page
    // would shift every later byte of the instrument's database, and an image without
    // its final page is none.
    if (!count || m_database.sendImage->size() < bdt::headerSize + qint64(*count) * bdt::pageSize
        || !endsWithFinalPage(*m_database.sendImage, *count)) {
        Q_EMIT statusText(QStringLiteral("Неверный формат файла."));
        return;
    }
    writePageCount = *count;
    if (writePageCount != expectedPageCount) {
        Q_EMIT statusText(QStringLiteral("Ошибка в создании списка."));
        return;
    }
    // The transfer's own copy: whatever happens to sendImage, the pages still to be sent
    // stay where they are.
    m_sending = m_database.sendImage->left(bdt::headerSize + qsizetype(writePageCount) * bdt::pageSize);
    m_sendOffset = bdt::headerSize;
    m_acknowledged = 0;
    pageIndex = 1;
    begin(TTransferState::Writing);
    QByteArray announce("M");
    announce.append(char(writePageCount / 256)).append(char(writePageCount % 256));
    // The instrument erases its database before it answers: that takes longer than a
    // page, and the user can stop the wait.
    request(announce, eraseLimitMs);
}


void TBDTSTransfer::reply(char code, const QByteArray &bytes)
{
    switch (code) {
    case 'R':
        CountReceived(bytes);
        break;
    case 'r':
        // Bytes still gathered behind the page came with it: they are the next reply.
        PageReceived(bytes, m_replies ? m_replies->gathered() : 0);
        break;
    case 'm':
        PageAcknowledged();
        break;
    default:
        break;
    }
}

void TBDTSTransfer::PageAcknowledged()
{
    if (m_state != TTransferState::Writing)
        return; // not ours: a stray 'm' must not start a reading
    // The instrument answers 'm' to the announcement and after every page it took.
    m_acknowledged = pageIndex - 1;
    if (pageIndex <= writePageCount) {
        // 'm' and the page in one write: the same bytes on the line as byte by byte.
        QByteArray page("m");
        page.append(m_sending.constData() + m_sendOffset, bdt::pageSize);
        m_sendOffset += bdt::pageSize;
        Q_EMIT progress(pageIndex * 100 / writePageCount);
        ++pageIndex;
        request(page);
        return;
    }
    Q_EMIT progress(0);
    Q_EMIT statusText(QStringLiteral("Отправлено в прибор страниц: %1").arg(writePageCount));
    // Read back at once, within the same transfer: the tree then shows what the
    // instrument now holds, and the pages are compared with what was sent.
    m_written = std::exchange(m_sending, QByteArray());
    requestCount();
}

void TBDTSTransfer::TimeLimit_TimerTimer()
{
    endWith(TTransferEnd::TimeLimit);
}
