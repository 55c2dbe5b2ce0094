#pragma once
// A firmware image file (".tsk": a 16384-byte header, then the program) and what goes
// on the line for it: the start command, the length field, the data block with the
// payload moved to the front, and the checksum. Plain functions over bytes.

#include "link/ReplyTable.h"

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace tsk {

constexpr qint64 headerSize = 0x4000;      ///< bytes before the payload
constexpr int chunkSize = 10000;           ///< bytes handed to the serial control at most per tick
constexpr int tickMs = 100;                ///< ms between two chunks at the soonest
constexpr int lengthExtra = wire::uploadLengthExtra; ///< the length field counts the file and these bytes
/// The loader keeps the whole image in its 8192 KB of memory before it writes it: a
/// longer file cannot be taken, and is refused before it is read.
constexpr qint64 largestFile = 8192 * 1024;
inline constexpr char defaultFileName[] = "Tavelon_2008.tsk";
inline constexpr char defaultFolder[] = "FilesInTavelon";
constexpr qint64 demoImageLength = 300 * 1024; ///< bytes of the demo's image, the same in every version

} // namespace tsk

/// Everything one upload sends, in order: start, length, data (in chunks), checksum.
struct TFirmwarePacket
{
    QByteArray start;       ///< 'U' 0xAA
    QByteArray length;      ///< file length + 6, least significant byte first
    QByteArray data;        ///< payload, then the file's last 0x4000 bytes
    quint32 checksum = 0;   ///< sum of the data bytes, each 0..255
    QByteArray checksumBytes() const; ///< low byte, then high byte of the sum
};

/// Why a file cannot be sent; empty when it can. A file of 0x4000 bytes or less has no
/// program in it, and one longer than the loader's memory cannot be taken.
QString firmwareFileProblem(qint64 fileLength);

/// The packet for a file's bytes; the file must have passed firmwareFileProblem.
TFirmwarePacket firmwarePacket(const QByteArray &file);

/// Reads a whole image file and checks it; throws std::runtime_error naming the file
/// and the system's reason when it cannot be read or holds no program.
QByteArray readFirmwareFile(const QString &path);

/// Bytes the whole upload puts on the line: start, length, data and checksum.
qint64 lineBytes(const TFirmwarePacket &packet);
/// What the question before an upload tells: how many bytes, and how long they take
/// on the line at `baud` (ten bits a byte).
QString uploadSummary(const TFirmwarePacket &packet, qint32 baud);

/// The sum the instrument's loader checks: every byte as 0..255.
quint32 byteSum(const QByteArray &bytes);

/// A synthetic image of `length` bytes for the demonstration and the tests: a header
/// that names itself, then bytes that do not repeat within any chunk.
QByteArray sampleFirmwareImage(qint64 length = tsk::demoImageLength);
/// Writes the sample as folder/Tavelon_2008.tsk (folder created when missing).
bool writeSampleFirmware(const QString &folder);
/// Whether the bytes are the demo's image, the sample of demoImageLength bytes: bytes
/// for the virtual instrument that must never reach a real one. Earlier demos left it
/// among the real program's files as FilesInTavelon/Tavelon_2008.tsk.
bool isDemoFirmwareImage(const QByteArray &file);
/// The same for a file, from its length and first bytes; false when it cannot be read.
bool isDemoFirmwareFile(const QString &path);
