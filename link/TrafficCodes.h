#pragma once
// What the bytes on the line mean, for the traffic log: the program's commands by their
// code and length, the parts of a firmware upload, and the instrument's replies by
// their first byte and length. Nothing here decides anything for the program; a wrong
// name only misleads a reader, so a burst is named only where its shape fits.

#include <QByteArray>
#include <QString>

namespace traffic {

/// A name for a burst, and whether it is a command or a reply (and not data or noise).
struct TBurstName
{
    QString text;          ///< "'B' проба"; empty when the bytes mean nothing known
    bool command = false;
};

/// Names what the program sends, one write at a time. A firmware upload is followed
/// from its start command: its length field, its data and its checksum are named as
/// such, so that a chunk of the image is never taken for a command.
class TCommandReader
{
public:
    TBurstName name(const QByteArray &bytes);
    /// The upload ended (queue emptied, line lost, port closed).
    void reset() { m_upload = TUpload::None; }

private:
    enum class TUpload { None, AwaitingLength, Data, AwaitingChecksum };
    TUpload m_upload = TUpload::None;
    qint64 m_dataTotal = 0;
    qint64 m_dataSent = 0;
};

/// A reply of the instrument as its first byte announces it.
struct TReplyStart
{
    TBurstName name;
    qint64 length = 0; ///< the whole reply, code included; 0 when the code does not tell
};

/// Frames what the instrument sends: which reply a burst begins, how long it is, and
/// the protocol length that an 'N' reply announces for the 'd' behind it.
class TReplyReader
{
public:
    TReplyStart begin(char code) const;
    /// A whole reply of this code has been seen; `head` holds its first bytes when
    /// they are known (an 'N' needs six).
    void ended(char code, const QByteArray &head);
    void reset() { m_protocolLength = 0; }

private:
    qint64 m_protocolLength = 0; ///< of the next 'd', as the last 'N' announced it
};

/// The length an 'N' reply announces: five digits after the code, leading blanks
/// allowed; 0 when they are no number.
qint64 announcedProtocolLength(const QByteArray &reply);

} // namespace traffic
