#pragma once
// The byte image of a test-system database: a 10-byte header ("TavBDTS" and the page
// count as "%3d") followed by pages of 528 bytes. Every byte value is ordinary content;
// nothing here reads outside the array it is given.

#include <QByteArray>
#include <QtGlobal>

#include <array>
#include <functional>
#include <optional>
#include <vector>

namespace bdt {

constexpr int headerSize = 10;
constexpr int pageSize = 528;
constexpr int pageMarkOffset = 520;
constexpr int maxPageCount = 999;          ///< the header holds the count in three digits
/// bytes of the largest image: nothing of a file beyond them can belong to a database
constexpr qint64 maxImageSize = headerSize + qint64(pageSize) * maxPageCount;
constexpr quint32 recordPageMark = 123456789u;
constexpr quint32 finalPageMark = 987654321u;
constexpr char signature[] = "TavBDTS";
constexpr int signatureSize = 7;

/// Key fields of a record head: offset in the page and size.
constexpr int keyFieldCount = 3;
constexpr std::array<int, keyFieldCount> keyFieldOffset{4, 25, 46};
constexpr std::array<int, keyFieldCount> keyFieldSize{21, 21, 31};

} // namespace bdt

/// Locates one record inside one image.
struct TTSRecordRef
{
    qint32 offset = 0;    ///< byte offset of the record's first page, header included
    qint32 pageCount = 0; ///< pages of the record, at least 1
};

using TKeyTexts = std::array<QByteArray, bdt::keyFieldCount>;

/// The page count read from a count text: leading blanks, then decimal digits and
/// nothing else. Anything else (a sign or a trailing blank included) is invalid.
std::optional<int> parseCountText(const QByteArray &text);
/// The count of an image header (bytes 7 to 9); invalid when the image is shorter.
std::optional<int> headerCount(const QByteArray &image);
/// n in the format "%3d"; n must lie in 0..999.
QByteArray countField(int n);
/// "TavBDTS" followed by countField(n).
QByteArray headerBytes(int n);
/// Whether an image of that many pages can carry its count in the header.
bool pageCountFits(qint64 pages);

/// Number of whole pages after the header.
qint64 wholePageCount(const QByteArray &image);
/// The page mark of the page starting at pageOffset; nullopt when the page is not whole.
std::optional<quint32> pageMarkAt(const QByteArray &image, qint64 pageOffset);
/// A page with the final mark and every other byte zero.
QByteArray blankFinalPage();
/// Whether page pageCount (from 1), the last one, is whole and carries the final mark.
bool endsWithFinalPage(const QByteArray &image, int pageCount);
/// Pages among 1..pageCount whose mark is neither the record mark nor the final mark.
int unknownMarkPages(const QByteArray &image, int pageCount);
/// The pages (from 1) in which two images differ after their headers; a page that only
/// one of them holds whole differs too.
std::vector<int> differingPages(const QByteArray &a, const QByteArray &b);

/// The key text of a field: its bytes up to and including the first blank; empty
/// when the field has no blank.
QByteArray keyText(const char *field, int size);
/// The three key texts of the record head at the start of a page.
TKeyTexts recordKeys(const char *page);

enum class TFileCheck {
    Database,      ///< all three checks passed
    NoSignature,   ///< the first 7 bytes are not "TavBDTS"
    BadCount,      ///< bytes 7 to 9 are not a valid count
    NoFinalPage,   ///< N < 1, the file is too short, or page N lacks the final mark
};
/// The three checks that decide whether loaded file bytes are a database, in order.
TFileCheck checkDatabaseFile(const QByteArray &bytes);

/// One record start found by the scan.
struct TRecordStart
{
    TTSRecordRef ref; ///< pageCount is 1 when the head says 0 or less
    TKeyTexts keys;
};

struct TScanResult
{
    int pagesVisited = 0;                ///< the N asked for (0 when N < 0)
    std::optional<QByteArray> finalPage; ///< the last page with the final mark
};

/// Visits pages 1..pageCount and hands every record start, in page order, to onRecord.
/// Pages that are not wholly inside the image count as pages outside any record.
TScanResult scanRecords(const QByteArray &image, int pageCount,
                        const std::function<void(const TRecordStart &)> &onRecord);

/// Whether every page of the record lies inside the image.
bool recordFits(const QByteArray &image, const TTSRecordRef &ref);

struct TNormalForm
{
    QByteArray image;
    QByteArray finalPage;
    int pageCount = 0;
    int tsCount = 0;
};

/// Rewrites an image in normal form from its records, given in display order: the
/// records that fit, whole and contiguous, then one final page, under a fresh header.
/// The final page is the last whole page of the image (a blank final page when there
/// is none) and always carries the final mark, so that it is never read back as a record.
/// On success the locators of the copied records point at their new places; records
/// that do not fit are not written and their locators are left alone. When the result
/// would need more than 999 pages nothing is built, nothing changes, and nullopt returns.
std::optional<TNormalForm> rebuildNormalForm(const QByteArray &image,
                                             const std::vector<TTSRecordRef *> &records);
