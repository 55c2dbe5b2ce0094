#include "common/ZipReader.h"

#include <array>

namespace zip {

namespace {

/// The bits of a deflate stream, least significant first; reading past the end fails.
class TBits
{
public:
    explicit TBits(const QByteArray &bytes) : m_data(bytes) {}
    /// `count` bits (0 … 16), or -1 when the stream has ended.
    int take(int count)
    {
        while (m_held < count) {
            if (m_at >= m_data.size())
                return -1;
            m_buffer |= quint32(quint8(m_data.at(m_at++))) << m_held;
            m_held += 8;
        }
        const int value = int(m_buffer & ((1u << count) - 1));
        m_buffer >>= count;
        m_held -= count;
        return value;
    }
    /// The rest of the current byte is skipped: a stored block starts on a byte.
    void toByte()
    {
        m_buffer >>= m_held % 8;
        m_held -= m_held % 8;
    }

private:
    const QByteArray &m_data;
    qsizetype m_at = 0;
    quint32 m_buffer = 0;
    int m_held = 0;
};

constexpr int maxBits = 15;

/// A canonical Huffman code: how many codes of each length, the symbols in code order.
struct THuffman
{
    std::array<int, maxBits + 1> count{};
    std::array<int, 288> symbol{};
};

/// The code of the given lengths; false when the lengths over-subscribe the code space.
bool build(THuffman &code, const int *lengths, int symbols)
{
    code.count.fill(0);
    for (int s = 0; s < symbols; ++s)
        ++code.count[size_t(lengths[s])];
    int left = 1;
    for (int length = 1; length <= maxBits; ++length) {
        left = 2 * left - code.count[size_t(length)];
        if (left < 0)
            return false;
    }
    std::array<int, maxBits + 2> offset{};
    for (int length = 1; length <= maxBits; ++length)
        offset[size_t(length + 1)] = offset[size_t(length)] + code.count[size_t(length)];
    for (int s = 0; s < symbols; ++s)
        if (lengths[s] != 0)
            code.symbol[size_t(offset[size_t(lengths[s])]++)] = s;
    return true;
}

/// The next symbol, or -1 when the stream ends or holds a code the table lacks.
int decode(TBits &bits, const THuffman &code)
{
    int value = 0, first = 0, index = 0;
    for (int length = 1; length <= maxBits; ++length) {
        const int bit = bits.take(1);
        if (bit < 0)
            return -1;
        value |= bit;
        const int count = code.count[size_t(length)];
        if (value - count < first)
            return code.symbol[size_t(index + value - first)];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

constexpr std::array<int, 29> lengthBase{3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                         31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<int, 29> lengthExtra{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<int, 30> distanceBase{1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
                                           193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<int, 30> distanceExtra{0, 0, 0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

/// The symbols of one compressed block into `out`, never past `size` bytes.
bool inflateBlock(TBits &bits, QByteArray &out, qsizetype size, const THuffman &literals, const THuffman &distances)
{
    for (;;) {
        int symbol = decode(bits, literals);
        if (symbol < 0)
            return false;
        if (symbol < 256) {
            if (out.size() >= size)
                return false;
            out.append(char(symbol));
            continue;
        }
        if (symbol == 256)
            return true;
        symbol -= 257;
        if (symbol >= int(lengthBase.size()))
            return false;
        const int extra = bits.take(lengthExtra[size_t(symbol)]);
        const int distanceSymbol = extra < 0 ? -1 : decode(bits, distances);
        if (distanceSymbol < 0 || distanceSymbol >= int(distanceBase.size()))
            return false;
        const int distanceBits = bits.take(distanceExtra[size_t(distanceSymbol)]);
        if (distanceBits < 0)
            return false;
        const int length = lengthBase[size_t(symbol)] + extra;
        const qsizetype distance = distanceBase[size_t(distanceSymbol)] + distanceBits;
        if (distance > out.size() || out.size() + length > size)
            return false;
        // Byte by byte: a copy may overlap what it is writing.
        for (int i = 0; i < length; ++i)
            out.append(out.at(out.size() - distance));
    }
}

bool fixedCodes(THuffman &literals, THuffman &distances)
{
    std::array<int, 288> lengths{};
    for (int s = 0; s < 288; ++s)
        lengths[size_t(s)] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    std::array<int, 30> distanceLengths{};
    distanceLengths.fill(5);
    return build(literals, lengths.data(), 288) && build(distances, distanceLengths.data(), 30);
}

bool dynamicCodes(TBits &bits, THuffman &literals, THuffman &distances)
{
    const int literalCount = bits.take(5) + 257, distanceCount = bits.take(5) + 1, lengthCount = bits.take(4) + 4;
    if (literalCount < 257 || distanceCount < 1 || lengthCount < 4 || literalCount > 286 || distanceCount > 30)
        return false;
    static constexpr std::array<int, 19> order{16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    std::array<int, 19> codeLengths{};
    for (int i = 0; i < lengthCount; ++i) {
        const int length = bits.take(3);
        if (length < 0)
            return false;
        codeLengths[size_t(order[size_t(i)])] = length;
    }
    THuffman lengthCode;
    if (!build(lengthCode, codeLengths.data(), 19))
        return false;
    std::array<int, 286 + 30> lengths{};
    for (int at = 0; at < literalCount + distanceCount;) {
        const int symbol = decode(bits, lengthCode);
        if (symbol < 0)
            return false;
        if (symbol < 16) {
            lengths[size_t(at++)] = symbol;
            continue;
        }
        if (symbol == 16 && at == 0)
            return false; // nothing to repeat
        const int value = symbol == 16 ? lengths[size_t(at - 1)] : 0;
        const int extra = bits.take(symbol == 16 ? 2 : symbol == 17 ? 3 : 7);
        int repeat = (symbol == 18 ? 11 : 3) + extra;
        if (extra < 0 || at + repeat > literalCount + distanceCount)
            return false;
        while (repeat-- > 0)
            lengths[size_t(at++)] = value;
    }
    // A block without its end code could never end.
    return lengths[256] != 0 && build(literals, lengths.data(), literalCount)
           && build(distances, lengths.data() + literalCount, distanceCount);
}

quint32 le(const QByteArray &bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

} // namespace

quint32 crc32(const QByteArray &bytes)
{
    static const auto table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 crc = 0xFFFFFFFFu;
    for (const char byte : bytes)
        crc = table[(crc ^ quint8(byte)) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

std::optional<QByteArray> inflate(const QByteArray &packed, qsizetype size)
{
    if (size < 0 || size > largestEntry)
        return std::nullopt;
    TBits bits(packed);
    QByteArray out;
    out.reserve(size);
    for (int last = 0; last == 0;) {
        last = bits.take(1);
        const int type = bits.take(2);
        if (last < 0 || type < 0)
            return std::nullopt;
        if (type == 0) {
            bits.toByte();
            const int length = bits.take(16), check = bits.take(16);
            if (length < 0 || check < 0 || (length ^ 0xFFFF) != check || out.size() + length > size)
                return std::nullopt;
            for (int i = 0; i < length; ++i) {
                const int byte = bits.take(8);
                if (byte < 0)
                    return std::nullopt;
                out.append(char(byte));
            }
            continue;
        }
        THuffman literals, distances;
        const bool codes = type == 1 ? fixedCodes(literals, distances) : type == 2 && dynamicCodes(bits, literals, distances);
        if (!codes || !inflateBlock(bits, out, size, literals, distances))
            return std::nullopt;
    }
    if (out.size() != size)
        return std::nullopt;
    return out;
}

std::optional<QByteArray> entry(const QByteArray &archive, const QString &name, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return std::nullopt;
    };
    // The end record is in the last 22 bytes, after a comment of at most 64 KB.
    constexpr qsizetype endLength = 22;
    const qsizetype from = qMax<qsizetype>(0, archive.size() - endLength - 0xFFFF);
    qsizetype end = -1;
    for (qsizetype at = archive.size() - endLength; at >= from && end < 0; --at)
        if (archive.at(at) == 'P' && le(archive, at, 4) == 0x06054b50)
            end = at;
    if (end < 0)
        return fail(QStringLiteral("это не архив книги"));
    const quint32 count = le(archive, end + 10, 2);
    qsizetype at = le(archive, end + 16, 4);
    for (quint32 i = 0; i < count; ++i) {
        if (at < 0 || at + 46 > archive.size() || le(archive, at, 4) != 0x02014b50)
            return fail(QStringLiteral("оглавление книги повреждено"));
        const quint32 flags = le(archive, at + 8, 2), method = le(archive, at + 10, 2), crc = le(archive, at + 16, 4);
        const qsizetype packedSize = le(archive, at + 20, 4), size = le(archive, at + 24, 4);
        const qsizetype nameLength = le(archive, at + 28, 2), extraLength = le(archive, at + 30, 2),
                        commentLength = le(archive, at + 32, 2);
        const qsizetype local = le(archive, at + 42, 4);
        if (at + 46 + nameLength > archive.size())
            return fail(QStringLiteral("оглавление книги повреждено"));
        if (QString::fromUtf8(archive.mid(at + 46, nameLength)) != name) {
            at += 46 + nameLength + extraLength + commentLength;
            continue;
        }
        if (flags & 1)
            return fail(QStringLiteral("книга зашифрована"));
        if (local + 30 > archive.size() || le(archive, local, 4) != 0x04034b50)
            return fail(QStringLiteral("часть «%1» книги повреждена").arg(name));
        const qsizetype data = local + 30 + le(archive, local + 26, 2) + le(archive, local + 28, 2);
        if (data + packedSize > archive.size())
            return fail(QStringLiteral("книга обрывается в части «%1»").arg(name));
        if (size > largestEntry)
            return fail(QStringLiteral("часть «%1» книги слишком велика").arg(name));
        const QByteArray packed = archive.mid(data, packedSize);
        std::optional<QByteArray> bytes;
        if (method == 0)
            bytes = packed.size() == size ? std::optional<QByteArray>(packed) : std::nullopt;
        else if (method == 8)
            bytes = inflate(packed, size);
        else
            return fail(QStringLiteral("часть «%1» книги сжата неизвестным способом").arg(name));
        if (!bytes || crc32(*bytes) != crc)
            return fail(QStringLiteral("часть «%1» книги повреждена").arg(name));
        return bytes;
    }
    return fail(QStringLiteral("в книге нет части «%1»").arg(name));
}

} // namespace zip
