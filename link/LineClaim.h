#pragma once
// Who holds the line now: the exchange that runs, the contact search included. The line
// keeps it; the port group follows it, and its words tell a request why it waits.

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
    QString busyText() const { return busyText(m_holder); }
    /// What a request of this user is refused with while it runs or waits already.
    static QString busyText(TLineUser user);
    /// What a request that waits for the holder is told.
    QString waitText() const;

Q_SIGNALS:
    void changed(TLineUser holder);

private:
    TLineUser m_holder = TLineUser::None;
};
