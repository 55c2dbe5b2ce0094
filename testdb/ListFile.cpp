#include "testdb/ListFile.h"

#include "common/WholeFile.h"

QByteArray listFileText(const TKeyTree &tree)
{
    QByteArray text;
    walkKeyTree(tree, [&text](const TKeyNode &node, int level) {
        text.append(level, '\t').append(node.key).append("\r\n");
    });
    return text;
}

QString writeListFile(const TKeyTree &tree, const QString &path)
{
    return writeFileWhole(path, listFileText(tree));
}
