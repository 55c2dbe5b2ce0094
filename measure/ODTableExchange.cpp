#include "measure/ODTableExchange.h"

#include "link/ReceiveDispatcher.h"
#include "link/ReplyTable.h"

#include <QScopeGuard>
#include <QTimer>

TODTableExchange::TODTableExchange(QObject *parent) : TExchange(TLineUser::ODTable, parent)
{
    m_limit = new QTimer(this);
    m_limit->setSingleShot(true);
    m_limit->setInterval(replyLimitMs);
    connect(m_limit, &QTimer::timeout, this, &TODTableExchange::replyOverdue);
}

void TODTableExchange::OwnReplies(TReceiveDispatcher &replies)
{
    m_replies = &replies;
    TReceiveDispatcher::TOwner table;
    table.awaited = [this] { return m_state == TState::AwaitingTable; };
    // The instrument sends the table in pieces: how much has come is shown meanwhile,
    // and each piece gives the rest its time again.
    table.arriving = [this](qsizetype gathered) {
        m_limit->start();
        Q_EMIT statusText(QString::number(gathered));
        Q_EMIT progress(int(gathered * 100 / wire::odTableReplyLength));
    };
    table.reply = [this](const QByteArray &bytes) { reply('D', bytes); };
    replies.own('D', std::move(table));

    TReceiveDispatcher::TOwner name;
    name.awaited = [this] { return m_state == TState::AwaitingName; };
    name.arriving = [this](qsizetype) { m_limit->start(); };
    name.reply = [this](const QByteArray &bytes) { reply('2', bytes); };
    replies.own('2', std::move(name));

    replies.own('G', [this] { reply('G', QByteArrayLiteral("G")); });
}

void TODTableExchange::setState(TState state)
{
    const bool wasRunning = running();
    m_state = state;
    if (state == TState::Idle)
        m_limit->stop();
    else
        m_limit->start();
    if (wasRunning != running())
        Q_EMIT runningChanged(running());
}

void TODTableExchange::start()
{
    m_requestDue = false;
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
    m_requestDue = false;
    finish(false, {});
}

void TODTableExchange::lineLost()
{
    if (m_state == TState::AwaitingTable)
        Q_EMIT progress(0);
    cancel();
}

void TODTableExchange::reply(char code, const QByteArray &bytes)
{
    switch (code) {
    case 'G':
        Q_EMIT measured();
        return;
    case 'D': {
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
        // The line is free before the file is written: a disk that fails has its
        // error box, and the line does not wait for it.
        finish(true, {});
        Q_EMIT nameReceived(bytes);
        return;
    default:
        return;
    }
}

void TODTableExchange::replyOverdue()
{
    // The part of a reply that came will never end: it would swallow the next notice.
    if (m_replies)
        m_replies->clear();
    const QString why = m_state == TState::AwaitingTable
                            ? QStringLiteral("Прибор не прислал таблицу оптических плотностей. Повторите чтение.")
                            : QStringLiteral("Прибор не прислал имя файла: оптические плотности не записаны в файл.");
    Q_EMIT progress(0);
    Q_EMIT statusText(why);
    finish(false, {}); // the status line has said why
}
