#pragma once
// Every byte from the instrument is gathered here and handed to the job that owns the
// reply's first byte. A reply of known length ends there; its handler takes exactly its
// bytes and leaves what follows, which is the next reply and is handed on at once. A
// handler that takes nothing is waiting for more bytes.

#include <QByteArray>
#include <QObject>

#include <array>
#include <functional>
#include <optional>

class TReceiveDispatcher : public QObject
{
    Q_OBJECT
public:
    /// The longest reply the instrument sends: a protocol whose five-digit length is
    /// 99999 bytes, its code and last byte included.
    static constexpr qsizetype maxReplyLength = 99999;

    using Handler = std::function<void()>;
    /// Runs a handler so that an error it throws reaches the error box.
    using Guard = std::function<void(const Handler &)>;

    explicit TReceiveDispatcher(Guard guard = {}, QObject *parent = nullptr);

    /// Bytes received and not yet consumed; byte 0 is the reply code.
    QByteArray replyBuffer;

    /// The handler of the replies that begin with code; it consumes from replyBuffer.
    void handle(char code, Handler handler);
    /// A notice or contact reply is its own byte: it is taken before the handler runs,
    /// so that what follows it is the next reply.
    void notice(char code, Handler handler);
    bool handles(char code) const { return bool(m_handlers[static_cast<unsigned char>(code)]); }

    void append(const QByteArray &bytes) { replyBuffer += bytes; }
    /// A reply of fixed length that a request awaits, taken from the buffer once it is
    /// complete; empty while it is not. The protocol has no checksums: a reply nobody
    /// awaits is line noise and is dropped with all that follows it, so that it can
    /// never replace a table or write a file.
    std::optional<QByteArray> TakeAwaitedReply(int &awaited, qsizetype length);
    /// Hands the gathered replies, one after another, to the handlers of their codes.
    void DispatchReplies();

Q_SIGNALS:
    /// A one-byte notice or contact reply was taken: it is no part of a longer reply.
    void noticeTaken(char code);

private:
    std::array<Handler, 256> m_handlers;
    std::array<bool, 256> m_isNotice{};
    Guard m_guard;
};
