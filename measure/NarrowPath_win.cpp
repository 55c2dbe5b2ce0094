// The C library's narrow calls convert a path from an 8-bit code page, and which one
// depends on the system and the library. A path of plain ASCII survives any of them;
// one with a Cyrillic user name in it is reached by its short alias, which is ASCII
// wherever the volume keeps short names, and only otherwise by the system's code page.

#include "measure/NarrowPath.h"

#include <QDir>

#include <windows.h>

#include <algorithm>

namespace {
bool isAscii(const QString &text)
{
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

QString shortAlias(const QString &path)
{
    const auto *wide = reinterpret_cast<const wchar_t *>(path.utf16());
    const DWORD size = ::GetShortPathNameW(wide, nullptr, 0);
    if (size == 0)
        return {};
    QString alias(int(size), Qt::Uninitialized);
    const DWORD length = ::GetShortPathNameW(wide, reinterpret_cast<wchar_t *>(alias.data()), size);
    if (length == 0 || length >= size)
        return {};
    alias.truncate(int(length));
    return alias;
}
} // namespace

QByteArray narrowPath(const QString &path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (isAscii(native))
        return native.toLatin1();
    const QString alias = shortAlias(native);
    if (!alias.isEmpty() && isAscii(alias))
        return alias.toLatin1();
    return native.toLocal8Bit();
}
