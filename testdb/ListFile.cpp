#include "testdb/ListFile.h"

#include "common/WholeFile.h"
#include "testdb/BDTSTreeNode.h"

#include <QTreeWidget>

QByteArray listFileText(const QTreeWidget &tree)
{
    QByteArray text;
    walkDisplayOrder(tree, [&text](QTreeWidgetItem *item) {
        text.append(nodeLevel(item), '\t');
        if (const TBDTSNode *node = bdtsNode(item))
            text.append(node->key());
        text.append("\r\n");
    });
    return text;
}

QString writeListFile(const QTreeWidget &tree, const QString &path)
{
    return writeFileWhole(path, listFileText(tree));
}
