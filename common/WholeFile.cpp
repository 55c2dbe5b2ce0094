#include "common/WholeFile.h"

#include <QSaveFile>

QString writeFileWhole(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    // Qt 6.4's commit() can report success after a flush that failed (a full disk):
    // the flush is checked here, and a failed write is never committed.
    if (file.write(bytes) != bytes.size() || !file.flush()) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString();
    return {};
}
