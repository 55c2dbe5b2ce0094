// libFuzzer target: arbitrary bytes as a database file and as an instrument's image,
// through the file check, ParseImage, RebuildImage, BuildAdditionalList and deletion.
// Whatever comes in, a rebuilt image is in normal form: 10 + 528 * N bytes, the header
// counts N, every test system's locator lies inside it, and rebuilding it again from the
// same tree gives the same bytes.

#include "testdb/BDTSDatabase.h"
#include "testdb/BdtImage.h"

#include <QCoreApplication>
#include <QtEndian>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char *what)
{
    if (!condition) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

TBDTSDatabase &database()
{
    static TBDTSDatabase db;
    return db;
}

// Every continuation page carries the record mark: such records read back unchanged.
bool wellFormed(const QByteArray &image, const std::vector<TTSRecordRef> &records)
{
    for (const TTSRecordRef &ref : records) {
        for (qint32 j = 1; j < ref.pageCount; ++j) {
            if (pageMarkAt(image, ref.offset + qint64(j) * bdt::pageSize) != bdt::recordPageMark)
                return false;
        }
    }
    return true;
}

void checkNormalForm(TBDTSDatabase &lists, TBDTSSide side, const TListCounts &counts)
{
    const QByteArray &image = side == TBDTSSide::Device ? *lists.deviceImage : *lists.fileImage;
    const std::vector<TTSRecordRef> &records =
            side == TBDTSSide::Device ? lists.deviceRecords : lists.fileRecords;
    require(image.size() == bdt::headerSize + qint64(bdt::pageSize) * counts.pageCount, "size");
    require(headerCount(image) == counts.pageCount, "header count");
    require(checkDatabaseFile(image) == TFileCheck::Database, "passes the file check");
    int entries = 0;
    qint64 pages = 1;
    walkEntries(lists.treeOf(side), [&](const TKeyNode &entry, const TKeyPath &) {
        ++entries;
        const int index = entry.recordIndex;
        require(index >= 0 && size_t(index) < records.size(), "locator index");
        const TTSRecordRef ref = records[size_t(index)];
        require(recordFits(image, ref), "locator inside the image");
        require(pageMarkAt(image, ref.offset) == bdt::recordPageMark, "record starts on a record page");
        pages += ref.pageCount;
    });
    require(entries == counts.tsCount, "test-system count");
    require(pages == counts.pageCount, "page count");
}

// Parse, rebuild, and rebuild once more; then read the normal form back.
void roundTrip(TBDTSDatabase &lists, TBDTSSide side, int pageCount)
{
    lists.ParseImage(side, pageCount);
    const std::optional<TListCounts> first = lists.RebuildImage(side);
    if (!first)
        return; // more than 999 pages: refused, nothing built
    checkNormalForm(lists, side, *first);
    std::optional<QByteArray> &image = side == TBDTSSide::Device ? lists.deviceImage : lists.fileImage;
    const QByteArray normal = *image;
    const std::optional<TListCounts> again = lists.RebuildImage(side);
    require(again && *image == normal, "rebuilding twice gives the same bytes");

    const bool stable = wellFormed(normal, side == TBDTSSide::Device ? lists.deviceRecords
                                                                     : lists.fileRecords);
    lists.ParseImage(side, first->pageCount);
    const std::optional<TListCounts> reread = lists.RebuildImage(side);
    require(reread.has_value(), "a normal form is never refused");
    checkNormalForm(lists, side, *reread);
    if (stable)
        require(*image == normal, "a well-formed normal form reads back unchanged");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    static QCoreApplication app(*argc, *argv);
    database();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    TBDTSDatabase &lists = database();
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));

    // As a file: only a file that passes the check is read.
    if (checkDatabaseFile(bytes) == TFileCheck::Database) {
        lists.fileImage = bytes;
        roundTrip(lists, TBDTSSide::File, *headerCount(bytes));
        lists.fileListLoaded = true;
    }

    // As an instrument's image: any bytes, with a count near the real number of pages.
    const int pageCount = int(wholePageCount(bytes)) - 1 + (size ? data[size - 1] % 4 : 0);
    lists.deviceImage = bytes;
    roundTrip(lists, TBDTSSide::Device, pageCount);
    lists.deviceListLoaded = true;

    lists.BuildAdditionalList();
    if (lists.addImage) {
        require(lists.addImage->size() == qint64(bdt::pageSize) * lists.addPageCount, "additional image size");
    }

    // Delete some nodes chosen by the input: groups, middle nodes and test systems.
    QList<TKeyPath> chosen;
    TKeyPath path;
    int n = 0;
    walkKeyTree(lists.deviceTree, [&](const TKeyNode &node, int level) {
        path.resize(level);
        path.append(node.key);
        if (size > 0 && (data[size_t(n++) % size] & 1))
            chosen.append(path);
    });
    if (lists.DeleteKeys(chosen)) {
        const std::optional<TListCounts> after = lists.RebuildImage(TBDTSSide::Device);
        require(after.has_value(), "a normal form is never refused");
        checkNormalForm(lists, TBDTSSide::Device, *after);
    }
    return 0;
}
