#pragma once
// The instrument's side of the protocol in one place: the speeds the speed command
// chooses by index, the replies by their first byte with how each one ends, and the
// framing of a firmware upload. The dispatcher's owners, the pages and the traffic log
// all take their lengths from here.

#include <QtGlobal>

#include <array>

namespace wire {

/// The speeds by index, as 'b' sends the index and the speed box lists them.
constexpr std::array<qint32, 6> speeds{4800, 9600, 19200, 38400, 57600, 115200};

constexpr int odTableReplyLength = 873;      ///< 'D', then eight row blocks
constexpr int fileNameReplyLength = 19;      ///< '2' and the 18 bytes of the name
constexpr int protocolLengthReplyLength = 6; ///< 'N' and five digits
constexpr int protocolLengthDigits = 5;
constexpr int databasePageSize = 528;
constexpr int databasePageReplyLength = 1 + databasePageSize; ///< 'r', then the page

/// An upload: 'U' 0xAA, the length field (the file's length and this much more, least
/// significant byte first), the data, the checksum.
constexpr int uploadLengthFieldSize = 4;
constexpr int uploadLengthExtra = 6;
constexpr int uploadChecksumSize = 2;

/// How a reply ends.
enum class TFraming {
    NotAReply, ///< no reply begins with this byte
    Notice,    ///< the code alone
    Fixed,     ///< a fixed length, code included
    Announced, ///< the length an earlier 'N' announced ('d', the protocol)
    Quiet,     ///< whatever came before a pause ('R', the page count)
};

struct TReplyKind
{
    TFraming framing = TFraming::NotAReply;
    int length = 0; ///< of a Fixed reply, code included; 1 for a notice
};

constexpr TReplyKind replyKind(char code)
{
    switch (code) {
    case 'B': case 'L': case 'G': case 'g': case 'm':
        return {TFraming::Notice, 1};
    case 'D': return {TFraming::Fixed, odTableReplyLength};
    case '2': return {TFraming::Fixed, fileNameReplyLength};
    case 'N': return {TFraming::Fixed, protocolLengthReplyLength};
    case 'r': return {TFraming::Fixed, databasePageReplyLength};
    case 'd': return {TFraming::Announced, 0};
    case 'R': return {TFraming::Quiet, 0};
    default: return {};
    }
}

} // namespace wire

#include <QByteArray>

#include <optional>

namespace wire {
/// The protocol length an 'N' reply announces: five characters after the code, blanks
/// before an optional sign, then digits, then blanks ("   12", "12   "). Nothing when
/// they are no number or the reply is short.
std::optional<qint32> announcedProtocolLength(const QByteArray &reply);
} // namespace wire
