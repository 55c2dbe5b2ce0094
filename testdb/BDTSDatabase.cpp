#include "testdb/BDTSDatabase.h"

#include "testdb/ListFile.h"

#include <QDir>
#include <QSet>

namespace {

// The keys of a test system, length-prefixed into one comparable value.
QByteArray joinedKeys(const TKeyPath &path)
{
    QByteArray joined;
    for (const QByteArray &key : path)
        joined.append(QByteArray::number(key.size())).append(':').append(key);
    return joined;
}

// The scan of ParseImage: the records that enter the tree, in page order, each at the
// index its test system refers to.
TScanResult gatherRecords(const QByteArray &image, int pageCount, TKeyTreeBuilder &builder,
                          std::vector<TTSRecordRef> &records)
{
    records.clear();
    return scanRecords(image, pageCount, [&](const TRecordStart &start) {
        // A record cut off by the end of the image would be dropped by the rebuild; kept
        // in the tree it would also hide a later whole copy of the same test system.
        if (!recordFits(image, start.ref))
            return;
        const int index = static_cast<int>(records.size());
        if (builder.addEntry(start.keys[0], start.keys[1], start.keys[2], index))
            records.push_back(start.ref);
    });
}

} // namespace

QString tooManyPagesText()
{
    return QStringLiteral("Слишком много страниц в БД ТС (больше 999).");
}

TBDTSDatabase::TBDTSDatabase(QObject *parent) : QObject(parent), finalPage(blankFinalPage()) {}

TBDTSDatabase::~TBDTSDatabase() = default;

const TKeyTree &TBDTSDatabase::treeOf(TBDTSSide side) const
{
    return side == TBDTSSide::Device ? deviceTree : side == TBDTSSide::File ? fileTree : addTree;
}

TKeyTree &TBDTSDatabase::mutableTreeOf(TBDTSSide side)
{
    return side == TBDTSSide::Device ? deviceTree : side == TBDTSSide::File ? fileTree : addTree;
}

std::optional<QByteArray> &TBDTSDatabase::imageOf(TBDTSSide side)
{
    return side == TBDTSSide::Device ? deviceImage : side == TBDTSSide::File ? fileImage : addImage;
}

std::vector<TTSRecordRef> &TBDTSDatabase::recordsOf(TBDTSSide side)
{
    // The additional list's test systems are the file's.
    return side == TBDTSSide::Device ? deviceRecords : fileRecords;
}

void TBDTSDatabase::storeCounts(TBDTSSide side, TListCounts counts)
{
    if (side == TBDTSSide::Add)
        return; // BuildAdditionalList counts its own
    (side == TBDTSSide::Device ? devicePageCount : filePageCount) = counts.pageCount;
    (side == TBDTSSide::Device ? deviceTSCount : fileTSCount) = counts.tsCount;
}

TListCounts TBDTSDatabase::ParseImage(TBDTSSide side, int pageCount)
{
    if (side == TBDTSSide::Add)
        return {};
    const QByteArray image = imageOf(side).value_or(QByteArray());
    TKeyTreeBuilder builder;
    const TScanResult scan = gatherRecords(image, pageCount, builder, recordsOf(side));
    const TListCounts counts{scan.pagesVisited, builder.entryCount()};
    mutableTreeOf(side) = builder.take();
    if (scan.finalPage)
        finalPage = *scan.finalPage;
    storeCounts(side, counts);
    return counts;
}

bool TBDTSDatabase::NormalFormFits(const QByteArray &image, int pageCount)
{
    TKeyTreeBuilder builder;
    std::vector<TTSRecordRef> records;
    gatherRecords(image, pageCount, builder, records);
    qint64 pages = 1; // the final page
    for (const TTSRecordRef &ref : records)
        pages += ref.pageCount;
    return pages <= bdt::maxPageCount;
}

std::optional<TListCounts> TBDTSDatabase::RebuildImage(TBDTSSide side)
{
    std::optional<QByteArray> &image = imageOf(side);
    if (side == TBDTSSide::Add || !image)
        return std::nullopt;
    std::vector<TTSRecordRef> &records = recordsOf(side);
    std::vector<TTSRecordRef *> order;
    walkEntries(treeOf(side), [&](const TKeyNode &entry, const TKeyPath &) {
        if (entry.recordIndex >= 0 && entry.recordIndex < static_cast<int>(records.size()))
            order.push_back(&records[static_cast<size_t>(entry.recordIndex)]);
    });
    std::optional<TNormalForm> form = rebuildNormalForm(*image, order);
    if (!form) {
        Q_EMIT statusText(tooManyPagesText());
        return std::nullopt;
    }
    *image = std::move(form->image);
    finalPage = std::move(form->finalPage);
    const TListCounts counts{form->pageCount, form->tsCount};
    storeCounts(side, counts);
    return counts;
}

bool TBDTSDatabase::AcceptReading(const QByteArray &image, int pageCount, QString *listProblem)
{
    deviceImage = image;
    deviceRecords.assign(size_t(pageCount), TTSRecordRef{});
    ParseImage(TBDTSSide::Device, pageCount);
    WriteListFile(TBDTSSide::Device, QString::fromLatin1(deviceListFile), listProblem);
    const bool rebuilt = RebuildImage(TBDTSSide::Device).has_value();
    deviceListLoaded = true;
    deviceListConfirmed = true;
    Q_EMIT changed(TBDTSSide::Device);
    BuildAdditionalList();
    return rebuilt;
}

bool TBDTSDatabase::LoadFile(const QByteArray &bytes, const QString &name)
{
    switch (checkDatabaseFile(bytes)) {
    case TFileCheck::Database:
        break;
    case TFileCheck::NoSignature:
        Q_EMIT statusText(QStringLiteral("Файл %1 не содержит БД ТС.").arg(name));
        return false;
    case TFileCheck::BadCount:
    case TFileCheck::NoFinalPage:
        Q_EMIT statusText(QStringLiteral("Неверный формат файла."));
        return false;
    }
    const int pageCount = headerCount(bytes).value_or(0);
    // A database whose normal form the header cannot count is refused like any other
    // file that is no database: it could never be written into the instrument.
    if (!NormalFormFits(bytes, pageCount)) {
        Q_EMIT statusText(tooManyPagesText());
        return false;
    }
    fileImage = bytes;
    fileRecords.assign(size_t(pageCount), TTSRecordRef{});
    ParseImage(TBDTSSide::File, pageCount);
    const bool rebuilt = RebuildImage(TBDTSSide::File).has_value();
    fileListLoaded = true;
    Q_EMIT changed(TBDTSSide::File);
    if (rebuilt)
        Q_EMIT statusText(QStringLiteral("Считано из файла %1 %2 ТС").arg(name).arg(fileTSCount));
    BuildAdditionalList();
    WriteListFile(TBDTSSide::File, QString::fromLatin1(fileListFile));
    return true;
}

void TBDTSDatabase::DropFileImage()
{
    fileImage.reset();
}

bool TBDTSDatabase::AppendMissing()
{
    const int added = addTSCount;
    Q_EMIT statusText(QStringLiteral("Включение в список прибора дополнительно %1 ТС").arg(added));
    if (!deviceImage || !addImage)
        return false;
    const int pageCount = devicePageCount + addPageCount - 1;
    if (!pageCountFits(pageCount)) {
        Q_EMIT statusText(tooManyPagesText()); // the header holds three digits
        return false;
    }
    // The additional pages overwrite the final page and end with one of their own.
    QByteArray &image = *deviceImage;
    image.truncate(std::max<qsizetype>(bdt::headerSize, image.size() - bdt::pageSize));
    image.append(*addImage);
    if (image.size() / bdt::pageSize != pageCount)
        Q_EMIT statusText(QStringLiteral("Ошибка добавления в список прибора."));
    image.replace(bdt::signatureSize, bdt::headerSize - bdt::signatureSize, countField(pageCount));
    Q_EMIT statusText(QStringLiteral("В список прибора добавлено %1 ТС").arg(added));
    devicePageCount = headerCount(image).value_or(0);
    deviceRecords.assign(size_t(devicePageCount), TTSRecordRef{});
    ParseImage(TBDTSSide::Device, devicePageCount);
    Q_EMIT changed(TBDTSSide::Device);
    BuildAdditionalList();
    return true;
}

bool TBDTSDatabase::DeleteKeys(const QList<TKeyPath> &keys)
{
    for (const TKeyPath &path : keys)
        removeKeyPath(deviceTree, path);
    const int before = deviceTSCount;
    const bool rebuilt = RebuildImage(TBDTSSide::Device).has_value();
    // A refused rebuild leaves the image as it was, and the parse brings its list back.
    ParseImage(TBDTSSide::Device, devicePageCount);
    Q_EMIT changed(TBDTSSide::Device);
    BuildAdditionalList();
    if (rebuilt)
        Q_EMIT statusText(QStringLiteral("Из списка прибора удалено %1 ТС").arg(before - deviceTSCount));
    return rebuilt;
}

void TBDTSDatabase::BuildAdditionalList()
{
    if (!deviceImage || !fileImage) {
        // Without both images nothing is known to be missing; a list kept from before
        // may offer what the instrument holds by now, and appending it would write
        // those test systems twice.
        if (addImage || addTSCount > 0) {
            addImage.reset();
            addTree = {};
            addTSCount = 0;
            addPageCount = 0;
            Q_EMIT changed(TBDTSSide::Add);
        }
        return;
    }
    addImage = QByteArray();
    addTSCount = 0;
    addPageCount = 0;

    QSet<QByteArray> inDevice;
    walkEntries(deviceTree, [&inDevice](const TKeyNode &, const TKeyPath &path) {
        inDevice.insert(joinedKeys(path));
    });
    TKeyTreeBuilder additional;
    walkEntries(fileTree, [&](const TKeyNode &entry, const TKeyPath &path) {
        if (!inDevice.contains(joinedKeys(path)))
            AddMissingEntry(additional, entry, path);
    });
    addTree = additional.take();

    addImage->append(finalPage);
    ++addPageCount;
    Q_EMIT changed(TBDTSSide::Add);
    if (addImage->size() / bdt::pageSize != addPageCount)
        Q_EMIT statusText(QStringLiteral("Ошибка формирования доп.списка."));
}

void TBDTSDatabase::AddMissingEntry(TKeyTreeBuilder &additional, const TKeyNode &entry,
                                    const TKeyPath &path)
{
    const int index = entry.recordIndex;
    if (index < 0 || index >= static_cast<int>(fileRecords.size()))
        return;
    const TTSRecordRef ref = fileRecords[static_cast<size_t>(index)];
    if (!recordFits(*fileImage, ref) || !additional.addEntry(path[0], path[1], path[2], index))
        return;
    ++addTSCount;
    addImage->append(fileImage->constData() + ref.offset, qsizetype(ref.pageCount) * bdt::pageSize);
    addPageCount += ref.pageCount;
}

bool TBDTSDatabase::WriteListFile(TBDTSSide side, const QString &fileName, QString *problem)
{
    const QString path = m_programFolder + fileName;
    const QString reason = writeListFile(treeOf(side), path);
    if (reason.isEmpty())
        return true;
    const QString shownPath = QDir::toNativeSeparators(path);
    Q_EMIT statusText(QStringLiteral("Не удалось записать файл %1.").arg(shownPath));
    if (problem)
        *problem = QStringLiteral("Не удалось записать файл \"%1\": %2").arg(shownPath, reason);
    return false;
}

void TBDTSDatabase::setDeviceListConfirmed(bool confirmed)
{
    if (deviceListConfirmed == confirmed)
        return;
    deviceListConfirmed = confirmed;
    Q_EMIT confirmedChanged(confirmed);
}

void TBDTSDatabase::DropImages()
{
    fileImage.reset();
    deviceImage.reset();
    addImage.reset();
    sendImage.reset();
}
