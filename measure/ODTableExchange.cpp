#include "measure/ODTableExchange.h"

#include "link/ReplyTable.h"

#include <QScopeGuard>

TODTableExchange::TODTableExchange(QObject *parent) : TTimedExchange(TLineUser::ODTable, parent) {}

void TODTableExchange::setState(TState state)
{
    const bool wasRunning = running();
    m_state = state;
    if (state == TState::Idle)
        stopWaiting();
    else
        awaitReply();
    if (wasRunning != running())
        Q_EMIT runningChanged(running());
}

void TODTableExchange::start()
{
    setState(TState::AwaitingTable);
    Q_EMIT bytesToSend(QByteArrayLiteral("G"));
}

void TODTableExchange::requestName()
{
    if (m_state != TState::AwaitingTable)
        return;
    setState(TState::AwaitingName);
    Q_EMIT bytesToSend(QByteArrayLiteral("D"));
}

void TODTableExchange::finish(bool ok, const QString &why)
{
    if (!running())
        return;
    setState(TState::Idle);
    Q_EMIT finished(ok, why);
}

void TODTableExchange::cancel()
{
    Q_EMIT progress(0);
    finish(false, {});
}

TAwaited TODTableExchange::awaits(char code) const
{
    // While the name is awaited, a second table may still come: the first was then the
    // late answer to a press before, and this one answers the press that asked.
    const bool awaited = (code == 'D' && m_state != TState::Idle) || (code == '2' && m_state == TState::AwaitingName);
    return awaited ? TAwaited::yes() : TAwaited::no();
}

void TODTableExchange::replyArriving(char code, qsizetype gathered)
{
    // The instrument sends the table in pieces: how much has come is shown meanwhile.
    if (code != 'D')
        return;
    Q_EMIT statusText(QString::number(gathered));
    Q_EMIT progress(int(gathered * 100 / wire::odTableReplyLength));
}

void TODTableExchange::lineLost()
{
    const QString why = m_state == TState::AwaitingName
                            ? QStringLiteral("Оптические плотности не записаны в файл: нет связи с прибором.")
                            : QStringLiteral("Нет связи с прибором: оптические плотности не приняты. Повторите чтение.");
    Q_EMIT progress(0);
    finish(false, why);
}

void TODTableExchange::reply(char code, const QByteArray &bytes, qsizetype)
{
    switch (code) {
    case 'D': {
        if (m_state == TState::AwaitingName) {
            // The table shown was late for an earlier press; this one replaces it, and the
            // name asked for still comes for it.
            awaitReply();
            Q_EMIT tableReceived(bytes);
            return;
        }
        if (m_state != TState::AwaitingTable)
            return;
        // The page asks for the name while it takes the table, or the exchange ends
        // here; so it does when the page fails on the table, and the line is free again.
        const auto ended = qScopeGuard([this] {
            if (m_state == TState::AwaitingTable)
                finish(true, {});
        });
        Q_EMIT tableReceived(bytes);
        return;
    }
    case '2':
        if (m_state != TState::AwaitingName)
            return;
        // The line is free before the file is written: a disk that fails has its error
        // box, and the line does not wait for it.
        finish(true, {});
        Q_EMIT nameReceived(bytes);
        return;
    default:
        return;
    }
}

void TODTableExchange::replyOverdue()
{
    const QString why = m_state == TState::AwaitingTable
                            ? QStringLiteral("Прибор не прислал таблицу оптических плотностей. Повторите чтение.")
                            : QStringLiteral("Прибор не прислал имя файла: оптические плотности не записаны в файл.");
    Q_EMIT progress(0);
    Q_EMIT statusText(why);
    finish(false, {}); // the status line has said why
}
