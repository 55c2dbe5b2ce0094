#include "testdb/BdtImage.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

quint32 readMark(const char *page)
{
    return qFromLittleEndian<quint32>(page + bdt::pageMarkOffset);
}

// Pages whose start offset still fits a signed 32-bit locator.
constexpr qint64 maxLocatablePages =
        (std::numeric_limits<qint32>::max() - bdt::headerSize) / bdt::pageSize;

} // namespace

std::optional<int> parseCountText(const QByteArray &text)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    // Blanks and digits only: a sign is no part of a count.
    if (i == text.size())
        return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > std::numeric_limits<int>::max())
            return std::nullopt;
    }
    return static_cast<int>(value);
}

std::optional<int> headerCount(const QByteArray &image)
{
    if (image.size() < bdt::headerSize)
        return std::nullopt;
    return parseCountText(image.mid(bdt::signatureSize, bdt::headerSize - bdt::signatureSize));
}

QByteArray countField(int n)
{
    Q_ASSERT(n >= 0 && n <= bdt::maxPageCount);
    return QByteArray::number(n).rightJustified(3, ' ');
}

QByteArray headerBytes(int n)
{
    return QByteArray(bdt::signature, bdt::signatureSize) + countField(n);
}

bool pageCountFits(qint64 pages)
{
    return pages >= 1 && pages <= bdt::maxPageCount;
}

qint64 wholePageCount(const QByteArray &image)
{
    if (image.size() < bdt::headerSize)
        return 0;
    return (image.size() - bdt::headerSize) / bdt::pageSize;
}

std::optional<quint32> pageMarkAt(const QByteArray &image, qint64 pageOffset)
{
    if (pageOffset < 0 || pageOffset > image.size() - bdt::pageSize)
        return std::nullopt;
    return readMark(image.constData() + pageOffset);
}

QByteArray blankFinalPage()
{
    QByteArray page(bdt::pageSize, '\0');
    qToLittleEndian<quint32>(bdt::finalPageMark, page.data() + bdt::pageMarkOffset);
    return page;
}

bool endsWithFinalPage(const QByteArray &image, int pageCount)
{
    return pageCount >= 1
            && pageMarkAt(image, bdt::headerSize + qint64(bdt::pageSize) * (pageCount - 1)) == bdt::finalPageMark;
}

int unknownMarkPages(const QByteArray &image, int pageCount)
{
    const qint64 pages = std::min(qint64(std::max(pageCount, 0)), wholePageCount(image));
    int unknown = 0;
    for (qint64 k = 0; k < pages; ++k) {
        const quint32 mark = readMark(image.constData() + bdt::headerSize + k * bdt::pageSize);
        if (mark != bdt::recordPageMark && mark != bdt::finalPageMark)
            ++unknown;
    }
    return unknown;
}

std::vector<int> differingPages(const QByteArray &a, const QByteArray &b)
{
    const qint64 shared = std::min(wholePageCount(a), wholePageCount(b));
    const qint64 either = std::max(wholePageCount(a), wholePageCount(b));
    std::vector<int> pages;
    for (qint64 k = 0; k < either; ++k) {
        const qint64 offset = bdt::headerSize + k * bdt::pageSize;
        if (k >= shared || std::memcmp(a.constData() + offset, b.constData() + offset, bdt::pageSize) != 0)
            pages.push_back(static_cast<int>(k + 1));
    }
    return pages;
}

QByteArray keyText(const char *field, int size)
{
    const void *blank = std::memchr(field, ' ', static_cast<size_t>(size));
    if (!blank)
        return {};
    return QByteArray(field, static_cast<const char *>(blank) - field + 1);
}

TKeyTexts recordKeys(const char *page)
{
    TKeyTexts keys;
    for (int i = 0; i < bdt::keyFieldCount; ++i)
        keys[i] = keyText(page + bdt::keyFieldOffset[i], bdt::keyFieldSize[i]);
    return keys;
}

TFileCheck checkDatabaseFile(const QByteArray &bytes)
{
    if (!bytes.startsWith(QByteArray(bdt::signature, bdt::signatureSize)))
        return TFileCheck::NoSignature;
    const std::optional<int> n = headerCount(bytes);
    if (!n)
        return TFileCheck::BadCount;
    if (*n < 1)
        return TFileCheck::NoFinalPage;
    const qint64 lastPage = bdt::headerSize + qint64(bdt::pageSize) * (*n - 1);
    return pageMarkAt(bytes, lastPage) == bdt::finalPageMark ? TFileCheck::Database
                                                             : TFileCheck::NoFinalPage;
}

TScanResult scanRecords(const QByteArray &image, int pageCount,
                        const std::function<void(const TRecordStart &)> &onRecord)
{
    TScanResult result;
    result.pagesVisited = std::max(pageCount, 0);
    // Pages past the end of the image hold nothing, so the walk stops at the last whole one.
    const qint64 pages = std::min({qint64(result.pagesVisited), wholePageCount(image),
                                   maxLocatablePages});
    qint64 outstanding = 0;
    for (qint64 k = 0; k < pages; ++k) {
        const qint64 offset = bdt::headerSize + k * bdt::pageSize;
        const char *page = image.constData() + offset;
        const quint32 mark = readMark(page);
        if (mark == bdt::recordPageMark) {
            if (outstanding > 0) {
                --outstanding;
                continue;
            }
            const qint32 p = qFromLittleEndian<qint32>(page);
            TRecordStart start;
            start.ref = {static_cast<qint32>(offset), p < 1 ? 1 : p};
            start.keys = recordKeys(page);
            onRecord(start);
            // A rejected record is passed over exactly like an accepted one.
            outstanding = start.ref.pageCount - 1;
        } else if (mark == bdt::finalPageMark) {
            result.finalPage = QByteArray(page, bdt::pageSize);
            outstanding = 0;
        } else {
            outstanding = 0;
        }
    }
    return result;
}

bool recordFits(const QByteArray &image, const TTSRecordRef &ref)
{
    return ref.offset >= 0 && ref.pageCount >= 1
            && qint64(ref.pageCount) * bdt::pageSize <= image.size() - qint64(ref.offset);
}

std::optional<TNormalForm> rebuildNormalForm(const QByteArray &image,
                                             const std::vector<TTSRecordRef *> &records)
{
    qint64 pages = 1; // the final page
    for (const TTSRecordRef *ref : records) {
        if (recordFits(image, *ref))
            pages += ref->pageCount;
        if (pages > bdt::maxPageCount)
            return std::nullopt;
    }

    TNormalForm form;
    const qint64 lastPage = wholePageCount(image);
    form.finalPage = lastPage > 0
            ? image.mid(bdt::headerSize + (lastPage - 1) * bdt::pageSize, bdt::pageSize)
            : blankFinalPage();
    qToLittleEndian<quint32>(bdt::finalPageMark, form.finalPage.data() + bdt::pageMarkOffset);

    form.image = headerBytes(static_cast<int>(pages));
    form.image.reserve(bdt::headerSize + pages * bdt::pageSize);
    std::vector<std::pair<TTSRecordRef *, qint32>> moved;
    moved.reserve(records.size());
    for (TTSRecordRef *ref : records) {
        if (!recordFits(image, *ref))
            continue;
        moved.emplace_back(ref, static_cast<qint32>(form.image.size()));
        form.image.append(image.constData() + ref->offset, qsizetype(ref->pageCount) * bdt::pageSize);
        form.pageCount += ref->pageCount;
        ++form.tsCount;
    }
    form.image.append(form.finalPage);
    ++form.pageCount;
    for (const auto &[ref, offset] : moved)
        ref->offset = offset;
    return form;
}
