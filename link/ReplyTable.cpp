#include "link/ReplyTable.h"

namespace wire {

std::optional<qint32> announcedProtocolLength(const QByteArray &reply)
{
    if (reply.size() < protocolLengthReplyLength)
        return std::nullopt;
    const QByteArray digits = reply.mid(1, protocolLengthDigits);
    qsizetype at = 0;
    while (at < digits.size() && digits.at(at) == ' ')
        ++at;
    const bool negative = at < digits.size() && digits.at(at) == '-';
    if (at < digits.size() && (digits.at(at) == '-' || digits.at(at) == '+'))
        ++at;
    // The instrument prints the number into its five places, right- or left-aligned:
    // blanks may stand on either side of it, never inside.
    qsizetype end = digits.size();
    while (end > at && digits.at(end - 1) == ' ')
        --end;
    if (at == end)
        return std::nullopt;
    qint32 value = 0;
    for (; at < end; ++at) {
        const char digit = digits.at(at);
        if (digit < '0' || digit > '9')
            return std::nullopt;
        value = value * 10 + (digit - '0');
    }
    return negative ? -value : value;
}

} // namespace wire
