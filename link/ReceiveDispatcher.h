#pragma once
// Every byte from the instrument is gathered here, framed by the protocol's table of
// replies, and handed as one whole reply to the owner of its first byte. A reply ends
// at its length (fixed, or announced by an earlier reply), a notice is its own byte,
// and the page count is whatever came before a pause; what follows a reply is the next
// one and is handed on at once. Nobody else reads or empties what was gathered.

#include <QByteArray>
#include <QObject>
#include <QTimer>

#include <array>
#include <functional>

class TReceiveDispatcher : public QObject
{
    Q_OBJECT
public:
    /// The longest reply the instrument sends: a protocol whose five-digit length is
    /// 99999 bytes, its code and last byte included.
    static constexpr qsizetype maxReplyLength = 99999;
    /// A reply that ends with a pause ('R') is whole once the line has been quiet this long.
    static constexpr int quietMs = 30;

    using Handler = std::function<void()>;
    /// Runs a handler so that an error it throws reaches the error box.
    using Guard = std::function<void(const Handler &)>;

    /// Who takes the replies of one code.
    struct TOwner
    {
        /// One whole reply, its code first.
        std::function<void(const QByteArray &reply)> reply;
        /// Whether a reply of this code is awaited now. The protocol has no checksums:
        /// a reply nobody awaits is line noise and is dropped with all that follows
        /// it, so that it can never replace a table or write a file. Unset: always.
        std::function<bool()> awaited;
        /// How much of a reply has come while it is still arriving.
        std::function<void(qsizetype gathered)> arriving;
        /// The whole length of a reply whose length an earlier reply announced; below
        /// 1 when none is announced.
        std::function<qsizetype()> announcedLength;
    };

    explicit TReceiveDispatcher(Guard guard = {}, QObject *parent = nullptr);

    void own(char code, TOwner owner);
    /// A notice: the code alone.
    void own(char code, std::function<void()> notice);
    bool owns(char code) const { return bool(m_owners[static_cast<unsigned char>(code)].reply); }

    void append(const QByteArray &bytes);
    /// Hands the gathered replies, one after another, to the owners of their codes.
    void DispatchReplies();
    /// Drops what was gathered: a reply begun now can never end (a new request, a
    /// probe, the line lost).
    void clear();
    /// Nothing is gathered.
    bool idle() const { return replyBuffer.isEmpty(); }
    /// How many bytes are gathered and not yet handed on: while an owner takes its
    /// reply, those that came behind it.
    qsizetype gathered() const { return replyBuffer.size(); }
    /// A reply that ends with a pause is arriving.
    bool awaitingPause() const { return m_quiet.isActive(); }

Q_SIGNALS:
    /// A one-byte notice or contact reply was taken: it is no part of a longer reply.
    void noticeTaken(char code);

private:
    /// The length of the reply at the front, 0 while it cannot be told yet; -1 when
    /// it is noise.
    qsizetype frontLength(const TOwner &owner, char code);

    /// Bytes received and not yet handed on; byte 0 is the reply code. Only the
    /// dispatcher reads or empties it.
    QByteArray replyBuffer;
    std::array<TOwner, 256> m_owners;
    Guard m_guard;
    QTimer m_quiet;       ///< runs while a reply that ends with a pause is arriving
    bool m_quietEnded = false;
};
