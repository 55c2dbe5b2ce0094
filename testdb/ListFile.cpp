#include "testdb/ListFile.h"

#include "testdb/BDTSTreeNode.h"

#include <QSaveFile>
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

bool writeListFile(const QTreeWidget &tree, const QString &path)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const QByteArray text = listFileText(tree);
    if (file.write(text) != text.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
