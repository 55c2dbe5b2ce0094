#pragma once
// What the measurement pages know about the instrument's bytes: the layout of the
// optical density table, the automatic protocol file name, and which names from the
// instrument may become files in the program folder.

#include "common/Cp1251.h"
#include "link/ReplyTable.h"

#include <QByteArray>
#include <QString>

#include <array>

namespace od {
constexpr int tableLength = wire::odTableReplyLength; ///< 'D', then eight row blocks
constexpr int rowCount = 8, columnCount = 12;
constexpr int rowBlockLength = 109, cellPitch = 9, valueLength = 6;
constexpr int fileNameReplyLength = wire::fileNameReplyLength; ///< '2' and 18 more bytes: all of it is the name
constexpr int gridColumnWidth = 35;     ///< px: a six-character value in the grid

/// Offset (from 0) of the value of row 1..8 (A..H) and column 1..12 in a table reply.
constexpr int valueOffset(int row, int column)
{
    return 1 + rowBlockLength * (row - 1) + cellPitch * (column - 1);
}

/// The file name in a '2' reply: a name shorter than the field is padded, with NUL
/// bytes (which end a name) or blanks, so it ends at its first NUL and loses its
/// trailing blanks.
QByteArray fileNameOfReply(const QByteArray &reply);

/// The 96 values of a complete table reply, row A first, each exactly six bytes, not
/// trimmed; separators and row ends are skipped.
std::array<QByteArray, rowCount * columnCount> tableValues(const QByteArray &reply);

/// Where a table reply leaves its fixed layout: 873 bytes, 'D', then for each row
/// twelve values at their places (blanks, then one word without blanks or control
/// bytes: a number as the instrument prints it), and the same last byte in every row.
/// What stands between the values and what ends a row are the instrument's own (" | ",
/// CR LF…) and may be anything. One byte of line noise inside the table shifts
/// everything behind it, so a value takes in the byte before it (the next row's first
/// value takes in a line end) or a row ends on another byte. Empty when it fits;
/// otherwise the place, in the user's words ("строка C, столбец 5").
QString tableLayoutProblem(const QByteArray &reply);
/// The status line for a table refused for its layout: it says to read it again.
QString refusedTableText(const QString &problem);
} // namespace od

namespace protocol {
constexpr int nameFieldOffset = 92, nameFieldLength = 20;
/// 'N' and the protocol's length in five digits, its code and last byte included.
constexpr int lengthReplyLength = wire::protocolLengthReplyLength, lengthDigits = wire::protocolLengthDigits;
/// The automatic file name of a protocol, as code page 1251 bytes, built from its
/// number and date: "2011_12_25 Pr №15" for a name field "15 от 25.12.11".
QByteArray autoFileName(const QByteArray &protocolText);
} // namespace protocol

/// Why a name the instrument or a protocol supplies may not become a file in the
/// program folder (a separator, "..", a drive colon, a control byte); empty when the
/// name is safe.
QString unsafeNameReason(const QByteArray &name);

/// A file name sent as code page 1251 bytes, as the file system should show it
/// (0xB9 becomes "№").
inline QString fileSystemName(const QByteArray &cp1251Name) { return fromCp1251(cp1251Name); }

/// Writes the bytes into `folder` under a name sent as code page 1251 bytes and returns
/// the name as shown. A name that could lead outside the folder is refused: the error
/// names it after `refusal` ("Прибор прислал недопустимое имя файла") and nothing is
/// written.
QString writeIntoFolder(const QString &folder, const QByteArray &cp1251Name, const QByteArray &bytes,
                        const QString &refusal, const QString &consequence);

/// Writes the bytes to the file, replacing it; a failure throws with the file's name
/// and the system's reason, for the error box.
void writeWholeFile(const QString &path, const QByteArray &bytes);
QByteArray readWholeFile(const QString &path);
