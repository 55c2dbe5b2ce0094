#pragma once
// Builds database images for the tests from the layout written out here again: a
// header "TavBDTS" with the count as "%3d", 528-byte pages, the page mark little-endian
// at offset 520, the record head P at 0 and key fields of 21, 21 and 31 bytes at 4, 25
// and 46. Every page gets a pattern of its own so that misplaced bytes show.

#include <QByteArray>
#include <QtEndian>

#include <optional>

namespace testimg {

constexpr int pageBytes = 528;
constexpr quint32 recordMark = 123456789u;
constexpr quint32 finalMark = 987654321u;

inline QByteArray page(quint32 mark, quint32 seed)
{
    QByteArray p(pageBytes, '\0');
    quint32 x = seed * 747796405u + 2891336453u;
    for (char &c : p) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    qToLittleEndian<quint32>(mark, p.data() + 520);
    return p;
}

inline void putField(QByteArray &p, int offset, int size, const QByteArray &text)
{
    p.replace(offset, size, text.leftJustified(size, ' ', true));
}

/// A record of `pages` pages whose head says P = headP (by default `pages`); key fields
/// padded with blanks.
inline QByteArray record(const QByteArray &k1, const QByteArray &k2, const QByteArray &k3,
                         int pages, quint32 seed, std::optional<qint32> headP = std::nullopt)
{
    QByteArray r;
    for (int i = 0; i < pages; ++i)
        r.append(page(recordMark, seed * 16 + quint32(i)));
    qToLittleEndian<qint32>(headP.value_or(pages), r.data());
    putField(r, 4, 21, k1);
    putField(r, 25, 21, k2);
    putField(r, 46, 31, k3);
    return r;
}

inline QByteArray finalPage(quint32 seed = 999)
{
    return page(finalMark, seed);
}

/// Header with the page count of `pages` (or the count text given) followed by the pages.
inline QByteArray image(const QByteArray &pages, const QByteArray &countText = {})
{
    const QByteArray count = countText.isNull()
            ? QByteArray::number(pages.size() / pageBytes).rightJustified(3, ' ')
            : countText;
    return "TavBDTS" + count + pages;
}

} // namespace testimg
