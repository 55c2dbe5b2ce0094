#pragma once
// A list of test systems as text: one line per node in display order, as many tabs as
// the node's level, the key text's bytes as they are (code page 1251), CR LF; nothing else.

#include "testdb/KeyTreeBuilder.h"

#include <QByteArray>
#include <QString>

QByteArray listFileText(const TKeyTree &tree);
/// Replaces the file as a whole: either the new text is there afterwards or the earlier
/// file is left untouched. An empty text, or the system's words when it could not be
/// written.
QString writeListFile(const TKeyTree &tree, const QString &path);
