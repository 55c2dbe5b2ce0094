// The narrow calls read a path in the system's 8-bit code page. A name that code page
// cannot write (a Cyrillic user name on a Western system) is reached by its short
// alias instead, which is plain ASCII wherever the volume keeps short names.

#include "measure/NarrowPath.h"

#include <QDir>

#include <windows.h>

QByteArray narrowPath(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    const QByteArray bytes = native.toLocal8Bit();
    if (QString::fromLocal8Bit(bytes) == native)
        return bytes;
    const auto *wide = reinterpret_cast<const wchar_t *>(native.utf16());
    const DWORD size = ::GetShortPathNameW(wide, nullptr, 0);
    if (size == 0)
        return bytes;
    QString alias(int(size), Qt::Uninitialized);
    const DWORD length = ::GetShortPathNameW(wide, reinterpret_cast<wchar_t *>(alias.data()), size);
    if (length == 0 || length >= size)
        return bytes;
    alias.truncate(int(length));
    return alias.toLocal8Bit();
}
