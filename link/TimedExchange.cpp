#include "link/TimedExchange.h"

#include <QTimer>

TTimedExchange::TTimedExchange(TLineUser user, QObject *parent) : TExchange(user, parent)
{
    m_limit = new QTimer(this);
    m_limit->setSingleShot(true);
    m_limit->setInterval(replyLimitMs);
    connect(m_limit, &QTimer::timeout, this, &TTimedExchange::ReplyLimit_TimerTimer);
}

void TTimedExchange::ReplyLimit_TimerTimer()
{
    m_limit->stop();
    if (running())
        replyOverdue();
}

void TTimedExchange::arriving(char code, qsizetype gathered)
{
    if (!running())
        return;
    m_limit->start();
    replyArriving(code, gathered);
}

void TTimedExchange::awaitReply()
{
    m_limit->start();
}

void TTimedExchange::stopWaiting()
{
    m_limit->stop();
}
