#include "testdb/BDTSTransfer.h"

#include "common/PageHost.h"
#include "link/ContactSearch.h"
#include "link/Line.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/BDTSView.h"

#include <QStringList>
#include <QTimer>

namespace {
/// Pages named one by one in the report of a failed comparison; more are counted.
constexpr int namedPagesMax = 10;
} // namespace

TBDTSTransfer::TBDTSTransfer(TBDTSDatabase &database, TLine &line, TPageHost &host, QObject *parent)
    : TExchange(TLineUser::Database, parent), m_database(database), m_line(line), m_host(host)
{
    TimeLimit_Timer = new QTimer(this);
    TimeLimit_Timer->setSingleShot(true);
    TimeLimit_Timer->setInterval(timeLimitMs);
    connect(TimeLimit_Timer, &QTimer::timeout, this, [this] { m_host.Guarded([this] { TimeLimit_TimerTimer(); }); });
    // The line sends its bytes and puts its words on the status line.
    m_line.Serve(*this);
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
    const bool reading = m_state == TTransferState::AwaitingCount || m_state == TTransferState::Reading;
    // Once 'M' went out, the instrument may hold anything until a reading shows it.
    const bool unknown = m_state == TTransferState::Writing || verifying();
    end(); // and the line drops whatever part of a reply it had gathered
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
        status = writing    ? QStringLiteral("Нет связи с прибором: запись БД ТС в прибор прервана.")
                : checking ? QStringLiteral("Нет связи с прибором: записанная БД ТС не проверена.")
                           : QStringLiteral("Нет связи с прибором: чтение БД ТС из прибора прервано. Повторите чтение.");
        break;
    }
    Q_EMIT finished(false, status);
    if (!writing)
        return;
    const QString text = interruptedWriteText();
    if (why == TTransferEnd::LinkLost) {
        // The line's loss is still being handled; the box waits until that is done.
        QTimer::singleShot(0, this, [this, text] { m_host.ReportError(text); });
        return;
    }
    m_host.ReportError(text);
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
    // One transfer at a time (pageIndex serves both directions): a second request is
    // refused by the line. Made while the instrument is being looked for or another
    // exchange runs, it waits for the line.
    m_line.Submit(*this, QStringLiteral("чтение БД ТС из прибора"), [this] { requestCount(); });
}

void TBDTSTransfer::RequestTopSpeed()
{
    m_line.search->RequestTopSpeed();
}

bool TBDTSTransfer::waiting() const
{
    return m_line.Waiting(*this);
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

TAwaited TBDTSTransfer::awaits(char code) const
{
    switch (code) {
    case 'R':
        // The count has no fixed length: the line hands it on once it has been quiet a
        // moment, so that a count split over two receive events is read whole. The time
        // limit still counts from the request.
        return m_state == TTransferState::AwaitingCount ? TAwaited::yes() : TAwaited::no();
    case 'r': {
        if (m_state != TTransferState::Reading)
            return TAwaited::no(); // a page nobody asked for
        // Nothing is asked for after the final page, so nothing may come behind it but a
        // notice: noise inside it pushes its last bytes out behind it, and they are heard.
        TAwaited page = TAwaited::yes();
        page.settled = pageIndex == m_readPageCount;
        return page;
    }
    case 'm':
        return m_state == TTransferState::Writing ? TAwaited::yes() : TAwaited::no();
    default:
        return TAwaited::no();
    }
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
    m_noticeBehindFinal = false;
    begin(TTransferState::Reading);
    request(QByteArrayLiteral("r"));
}

void TBDTSTransfer::PageReceived(const QByteArray &page, qsizetype behind)
{
    if (m_state != TTransferState::Reading || page.size() != pageReplySize)
        return;
    const bool final = pageIndex == m_readPageCount;
    // The instrument sends one page for each request and nothing with it: what came with
    // a page may be its own last bytes, pushed out by noise inside it. Only a final page
    // that is its mark and zeros alone is the same whatever was pushed out of it.
    const bool somethingBehind = behind > 0 || std::exchange(m_noticeBehindFinal, false);
    if (somethingBehind && !(final && page.mid(1) == blankFinalPage())) {
        ownWhatCameBehind(); // a notice among it is no notice
        refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
        return;
    }
    m_readImage->append(page.constData() + 1, bdt::pageSize);
    if (pageIndex == m_readPageCount - 2)
        Q_EMIT statusText(QStringLiteral("Принято из прибора страниц: %1").arg(pageIndex));
    if (final) {
        TimeLimit_Timer->stop();
        completeReading();
        return;
    }
    ++pageIndex;
    Q_EMIT progress(pageIndex * 100 / m_readPageCount);
    request(QByteArrayLiteral("r"));
}

void TBDTSTransfer::disturbed(qsizetype)
{
    if (m_state == TTransferState::Reading)
        refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
}

bool TBDTSTransfer::noticeHeard(char code, bool behindReply)
{
    if (m_state != TTransferState::Reading)
        return false;
    // The instrument says 'L' only when it has restarted and 'B' only to a probe, and
    // neither happens in a reading: such a byte is noise, or pushed out of a page.
    if (code != 'G' && code != 'g') {
        refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
        return true;
    }
    if (!behindReply)
        return false;
    // Behind the final page, still being heard out, it is judged with the page: a final
    // page of its mark and zeros alone lets it be the instrument's own notice.
    if (pageIndex == m_readPageCount) {
        m_noticeBehindFinal = true;
        return false;
    }
    refuseDisturbedReading(QStringLiteral("лишние байты на линии"));
    return true;
}

void TBDTSTransfer::refuseDisturbedReading(const QString &why)
{
    // A page was asked for and may still be on its way: its bytes must be no one's.
    if (m_state == TTransferState::Reading)
        answerInFlight();
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
        m_host.ReportError(listProblem);
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
    m_host.ReportError(text);
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
    m_line.Submit(*this, QStringLiteral("запись БД ТС в прибор"),
                  [this, image = *source, expectedPageCount] { WriteImage(image, expectedPageCount); });
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


void TBDTSTransfer::reply(char code, const QByteArray &bytes, qsizetype behind)
{
    switch (code) {
    case 'R':
        CountReceived(bytes);
        break;
    case 'r':
        PageReceived(bytes, behind);
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
