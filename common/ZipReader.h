#pragma once
// Reads one entry of a small zip archive, as a workbook is: the central directory names
// the entries, each is stored or deflated, and its CRC-32 must match. Enough to read
// back what the program wrote, nothing more: no ZIP64, no encryption, no archive
// larger than a table's workbook can be. The deflate decoder is the program's own:
// Qt offers none for raw deflate, and its zlib-wrapped one checks a sum that only
// the unpacked bytes give.

#include <QByteArray>
#include <QString>

#include <optional>

namespace zip {

constexpr qsizetype largestEntry = 32 << 20; ///< bytes an entry may unpack to; more is refused

/// The CRC-32 of zip and PNG.
quint32 crc32(const QByteArray &bytes);

/// Raw deflate data unpacked into exactly `size` bytes; none when the data is damaged,
/// ends early, or gives more or fewer bytes.
std::optional<QByteArray> inflate(const QByteArray &packed, qsizetype size);

/// The entry `name` of `archive`, unpacked and checked; none with `error` saying why
/// (in words for the user): no zip, damaged, no such entry.
std::optional<QByteArray> entry(const QByteArray &archive, const QString &name, QString *error = nullptr);

} // namespace zip
