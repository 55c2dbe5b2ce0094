#pragma once
// Reads the entries of a small zip file (a workbook is one): the central directory
// names them, each is stored or deflated. Enough to look inside what the program
// wrote, nothing more: no ZIP64, no encryption.

#include <QByteArray>
#include <QMap>
#include <QString>

#include <zlib.h>

namespace ziptest {

inline quint32 le(const QByteArray &bytes, qsizetype at, int size)
{
    quint32 value = 0;
    for (int i = size - 1; i >= 0; --i)
        value = (value << 8) | quint8(bytes.at(at + i));
    return value;
}

inline QByteArray inflateRaw(const QByteArray &packed, qsizetype unpackedSize)
{
    QByteArray out(unpackedSize, '\0');
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return {};
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(packed.constData()));
    stream.avail_in = uInt(packed.size());
    stream.next_out = reinterpret_cast<Bytef *>(out.data());
    stream.avail_out = uInt(out.size());
    const int result = inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return result == Z_STREAM_END && stream.total_out == uLong(unpackedSize) ? out : QByteArray();
}

/// Every entry by name, unpacked; empty when the file is no zip this reader knows.
inline QMap<QString, QByteArray> entries(const QByteArray &zip)
{
    QMap<QString, QByteArray> result;
    const qsizetype end = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (end < 0 || end + 22 > zip.size())
        return {};
    const quint32 count = le(zip, end + 10, 2);
    qsizetype at = le(zip, end + 16, 4);
    for (quint32 i = 0; i < count; ++i) {
        if (at + 46 > zip.size() || le(zip, at, 4) != 0x02014b50)
            return {};
        const quint32 method = le(zip, at + 10, 2);
        const quint32 packedSize = le(zip, at + 20, 4), size = le(zip, at + 24, 4);
        const quint32 nameLength = le(zip, at + 28, 2), extraLength = le(zip, at + 30, 2),
                      commentLength = le(zip, at + 32, 2);
        const qsizetype local = le(zip, at + 42, 4);
        const QString name = QString::fromUtf8(zip.mid(at + 46, nameLength));
        if (local + 30 > zip.size() || le(zip, local, 4) != 0x04034b50)
            return {};
        const qsizetype data = local + 30 + le(zip, local + 26, 2) + le(zip, local + 28, 2);
        const QByteArray packed = zip.mid(data, packedSize);
        if (method == 0)
            result[name] = packed;
        else if (method == 8)
            result[name] = inflateRaw(packed, size);
        else
            return {};
        at += 46 + nameLength + extraLength + commentLength;
    }
    return result;
}

} // namespace ziptest
