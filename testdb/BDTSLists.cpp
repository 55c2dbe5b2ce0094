#include "testdb/BDTSLists.h"

#include "testdb/BDTSTreeNode.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/KeyTreeBuilder.h"
#include "testdb/BDTSView.h"
#include "testdb/ListFile.h"

#include <QDir>
#include <QSet>

namespace {

// The three key texts of a test-system node, length-prefixed into one comparable value.
QByteArray keyPath(const QTreeWidgetItem *entry)
{
    QByteArray path;
    for (const QTreeWidgetItem *item = entry; item; item = item->parent()) {
        const TBDTSNode *node = bdtsNode(item);
        const QByteArray key = node ? node->key() : QByteArray();
        path.append(QByteArray::number(key.size())).append(':').append(key);
    }
    return path;
}

const TBDTSNode *entryNode(const QTreeWidgetItem *item)
{
    return nodeLevel(item) == 2 ? bdtsNode(item) : nullptr;
}

// The scan of ParseImage: the records that enter the tree, in page order, each at the
// index its node refers to.
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

TBDTSLists::TBDTSLists(QObject *parent) : QObject(parent), finalPage(blankFinalPage()) {}

TBDTSLists::~TBDTSLists() = default;

void TBDTSLists::setView(TBDTSView *view)
{
    if (m_view)
        disconnect(&m_view->deviceTree(), nullptr, this, nullptr);
    m_view = view;
    if (!view)
        return;
    TBDTSTreeView &deviceTree = view->deviceTree();
    connect(&deviceTree, &TBDTSTreeView::Click, this, &TBDTSLists::TreeViewTavClick);
    // The tree goes with its view: from then on the operations leave the trees alone.
    connect(&deviceTree, &QObject::destroyed, this, [this] { m_view = nullptr; });
}

QTreeWidget *TBDTSLists::treeOf(TBDTSSide side) const
{
    if (!m_view)
        return nullptr;
    return side == TBDTSSide::Device ? &m_view->deviceTree() : &m_view->fileTree();
}

std::optional<QByteArray> &TBDTSLists::imageOf(TBDTSSide side)
{
    return side == TBDTSSide::Device ? deviceImage : fileImage;
}

std::vector<TTSRecordRef> &TBDTSLists::recordsOf(TBDTSSide side)
{
    return side == TBDTSSide::Device ? deviceRecords : fileRecords;
}

void TBDTSLists::storeCounts(TBDTSSide side, TListCounts counts)
{
    (side == TBDTSSide::Device ? devicePageCount : filePageCount) = counts.pageCount;
    (side == TBDTSSide::Device ? deviceTSCount : fileTSCount) = counts.tsCount;
}

TListCounts TBDTSLists::ParseImage(TBDTSSide side, int pageCount)
{
    QTreeWidget *tree = treeOf(side);
    if (!tree)
        return {};
    const QByteArray image = imageOf(side).value_or(QByteArray());
    std::vector<TTSRecordRef> &records = recordsOf(side);
    TKeyTreeBuilder builder;
    const TScanResult scan = gatherRecords(image, pageCount, builder, records);
    const TListCounts counts{scan.pagesVisited, builder.entryCount()};
    builder.installInto(*tree);
    if (scan.finalPage)
        finalPage = *scan.finalPage;
    storeCounts(side, counts);
    return counts;
}

bool TBDTSLists::NormalFormFits(const QByteArray &image, int pageCount)
{
    TKeyTreeBuilder builder;
    std::vector<TTSRecordRef> records;
    gatherRecords(image, pageCount, builder, records);
    qint64 pages = 1; // the final page
    for (const TTSRecordRef &ref : records)
        pages += ref.pageCount;
    return pages <= bdt::maxPageCount;
}

std::optional<TListCounts> TBDTSLists::RebuildImage(TBDTSSide side)
{
    QTreeWidget *tree = treeOf(side);
    std::optional<QByteArray> &image = imageOf(side);
    if (!tree || !image)
        return std::nullopt;
    std::vector<TTSRecordRef> &records = recordsOf(side);
    std::vector<TTSRecordRef *> order;
    walkDisplayOrder(*tree, [&](QTreeWidgetItem *item) {
        const TBDTSNode *node = entryNode(item);
        if (node && node->recordIndex() >= 0
            && node->recordIndex() < static_cast<int>(records.size()))
            order.push_back(&records[static_cast<size_t>(node->recordIndex())]);
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

void TBDTSLists::BuildAdditionalList()
{
    if (!m_view || !deviceImage || !fileImage)
        return;
    addImage = QByteArray();
    TBDTSTreeView &additional = m_view->addTree();
    additional.clear();
    addTSCount = 0;
    addPageCount = 0;

    QSet<QByteArray> inDevice;
    walkDisplayOrder(m_view->deviceTree(), [&inDevice](QTreeWidgetItem *item) {
        if (entryNode(item))
            inDevice.insert(keyPath(item));
    });
    TKeyTreeBuilder addTree;
    walkDisplayOrder(m_view->fileTree(), [&](QTreeWidgetItem *item) {
        if (const TBDTSNode *entry = entryNode(item); entry && !inDevice.contains(keyPath(item)))
            AddMissingEntry(addTree, *entry);
    });
    addTree.installInto(additional);

    m_view->showAddCount(addTSCount);
    m_view->setAddEnabled(deviceListLoaded && fileListLoaded && addTSCount > 0);

    addImage->append(finalPage);
    ++addPageCount;
    if (addImage->size() / bdt::pageSize != addPageCount)
        Q_EMIT statusText(QStringLiteral("Ошибка формирования доп.списка."));
}

void TBDTSLists::AddMissingEntry(TKeyTreeBuilder &addTree, const TBDTSNode &entry)
{
    const int index = entry.recordIndex();
    if (index < 0 || index >= static_cast<int>(fileRecords.size()))
        return;
    const TTSRecordRef ref = fileRecords[static_cast<size_t>(index)];
    if (!recordFits(*fileImage, ref))
        return;
    const QTreeWidgetItem *middle = entry.parent();
    const TBDTSNode *k2 = bdtsNode(middle);
    const TBDTSNode *k1 = bdtsNode(middle->parent());
    if (!k1 || !k2 || !addTree.addEntry(k1->key(), k2->key(), entry.key(), index))
        return;
    ++addTSCount;
    addImage->append(fileImage->constData() + ref.offset, qsizetype(ref.pageCount) * bdt::pageSize);
    addPageCount += ref.pageCount;
}

void TBDTSLists::DeleteSelectedNodes(QTreeWidget &tree)
{
    std::vector<QTreeWidgetItem *> selected;
    walkDisplayOrder(tree, [&selected](QTreeWidgetItem *item) {
        if (item->isSelected())
            selected.push_back(item);
    });
    // A node inside the subtree of another selected node goes with that node.
    const QSet<const QTreeWidgetItem *> chosen(selected.begin(), selected.end());
    std::vector<QTreeWidgetItem *> doomed;
    for (QTreeWidgetItem *item : selected) {
        bool inside = false;
        for (const QTreeWidgetItem *p = item->parent(); p && !inside; p = p->parent())
            inside = chosen.contains(p);
        if (!inside)
            doomed.push_back(item);
    }
    for (QTreeWidgetItem *item : doomed)
        delete item; // takes its subtree and leaves the tree
}

void TBDTSLists::TreeViewTavClick()
{
    if (!m_view)
        return;
    const qsizetype selected = m_view->deviceTree().selectedItems().size();
    m_view->setDeleteEnabled(selected > 0);
    if (selected > 0)
        Q_EMIT statusText(QStringLiteral("Выбрано  позиций:%1.").arg(selected));
}

bool TBDTSLists::WriteListFile(const QTreeWidget &tree, const QString &fileName, QString *problem)
{
    const QString path = m_programFolder + fileName;
    const QString reason = writeListFile(tree, path);
    if (reason.isEmpty())
        return true;
    const QString shownPath = QDir::toNativeSeparators(path);
    Q_EMIT statusText(QStringLiteral("Не удалось записать файл %1.").arg(shownPath));
    if (problem)
        *problem = QStringLiteral("Не удалось записать файл \"%1\": %2").arg(shownPath, reason);
    return false;
}

bool TBDTSLists::AcceptReading(const QByteArray &image, int pageCount, QString *listProblem)
{
    deviceImage = image;
    deviceRecords.assign(size_t(pageCount), TTSRecordRef{});
    ParseImage(TBDTSSide::Device, pageCount);
    if (m_view)
        WriteListFile(m_view->deviceTree(), QString::fromLatin1(deviceListFile), listProblem);
    const bool rebuilt = RebuildImage(TBDTSSide::Device).has_value();
    deviceListLoaded = true;
    if (m_view) {
        m_view->setDeviceListConfirmed(true);
        m_view->showDeviceCount(deviceTSCount);
        m_view->showDeviceTree(true);
        m_view->setSaveDeviceEnabled(true);
    }
    BuildAdditionalList();
    return rebuilt;
}
