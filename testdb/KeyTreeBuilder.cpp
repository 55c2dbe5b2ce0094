#include "testdb/KeyTreeBuilder.h"

#include "testdb/KeyOrder.h"

#include <algorithm>

namespace {

TKeyNode makeNode(const QByteArray &key, int recordIndex = -1)
{
    return TKeyNode{key, decodeKeyText(key), recordIndex, {}};
}

void sortLevel(std::vector<TKeyNode> &nodes)
{
    std::sort(nodes.begin(), nodes.end(), [](const TKeyNode &a, const TKeyNode &b) {
        return compareKeyTexts(a.text, a.key, b.text, b.key) < 0;
    });
    for (TKeyNode &node : nodes)
        sortLevel(node.children);
}

void walkNodes(const std::vector<TKeyNode> &nodes, int level,
               const std::function<void(const TKeyNode &, int)> &visit)
{
    for (const TKeyNode &node : nodes) {
        visit(node, level);
        walkNodes(node.children, level + 1, visit);
    }
}

} // namespace

void walkKeyTree(const TKeyTree &tree, const std::function<void(const TKeyNode &, int level)> &visit)
{
    walkNodes(tree, 0, visit);
}

void walkEntries(const TKeyTree &tree,
                 const std::function<void(const TKeyNode &entry, const TKeyPath &path)> &visit)
{
    for (const TKeyNode &group : tree) {
        for (const TKeyNode &middle : group.children) {
            for (const TKeyNode &entry : middle.children)
                visit(entry, TKeyPath{group.key, middle.key, entry.key});
        }
    }
}

bool removeKeyPath(TKeyTree &tree, const TKeyPath &path)
{
    std::vector<TKeyNode> *level = &tree;
    for (qsizetype depth = 0; depth < path.size(); ++depth) {
        const auto found = std::find_if(level->begin(), level->end(),
                                        [&](const TKeyNode &node) { return node.key == path[depth]; });
        if (found == level->end())
            return false; // gone already, with a selected node above it
        if (depth == path.size() - 1) {
            level->erase(found);
            return true;
        }
        level = &found->children;
    }
    return false;
}

bool TKeyTreeBuilder::addEntry(const QByteArray &k1, const QByteArray &k2, const QByteArray &k3,
                               int recordIndex)
{
    auto group = m_groups.find(k1);
    if (group == m_groups.end()) {
        group = m_groups.insert(k1, m_tree.size());
        m_tree.push_back(makeNode(k1));
        m_index.emplace_back();
    }
    TKeyNode &groupNode = m_tree[*group];
    TGroupIndex &index = m_index[*group];
    auto middle = index.middles.find(k2);
    if (middle == index.middles.end()) {
        middle = index.middles.insert(k2, groupNode.children.size());
        groupNode.children.push_back(makeNode(k2));
        index.entries.emplace_back();
    }
    QSet<QByteArray> &entries = index.entries[*middle];
    if (entries.contains(k3))
        return false;
    entries.insert(k3);
    groupNode.children[*middle].children.push_back(makeNode(k3, recordIndex));
    ++m_entries;
    return true;
}

TKeyTree TKeyTreeBuilder::take()
{
    TKeyTree tree = std::move(m_tree);
    m_tree.clear();
    m_groups.clear();
    m_index.clear();
    m_entries = 0;
    sortLevel(tree);
    return tree;
}
