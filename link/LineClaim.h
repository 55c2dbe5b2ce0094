#pragma once
// Who owns the line now. One exchange at a time: from its start until its end nothing
// else may send, probe, change the port or its speed. The contact search owns it too,
// so that a request made while the search runs waits for it instead of being sent at a
// search speed and leaving the port there.

#include <QObject>
#include <QString>

/// The reader page's table and the results page's protocol hold the line from their
/// request until their whole reply, or until the reply's time limit has passed.
enum class TLineUser { None, Contact, Database, Upload, ODTable, Protocol };

class TLineClaim : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    /// Takes the line; false while another user holds it.
    bool claim(TLineUser user);
    /// The holder lets go; a call by anyone else changes nothing.
    void release(TLineUser user);

    TLineUser holder() const { return m_holder; }
    bool isFree() const { return m_holder == TLineUser::None; }
    /// An exchange holds the line (the contact search is no exchange: it may be
    /// restarted or stopped).
    bool heldByExchange() const { return m_holder != TLineUser::None && m_holder != TLineUser::Contact; }
    /// Why another request must wait, for the status line; empty while the line is free.
    QString busyText() const;

Q_SIGNALS:
    void changed(TLineUser holder);
    /// The line has become free, and is still free once the handler that released it is
    /// over: a write that ends and starts its read-back in one handler does not free it.
    /// What waits for the line goes now.
    void freed();

private:
    TLineUser m_holder = TLineUser::None;
    bool m_freedDue = false;
};
