// Code page 1251 through Windows' own tables.

#include "common/Cp1251.h"

#include <windows.h>

namespace {
constexpr UINT codePage = 1251;
const char substitute[] = "\x1A";
}

QString fromCp1251(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return {};
    // One byte is one character in a single-byte code page.
    QString text(bytes.size(), Qt::Uninitialized);
    const int written = ::MultiByteToWideChar(codePage, 0, bytes.constData(), int(bytes.size()),
                                              reinterpret_cast<wchar_t *>(text.data()), int(text.size()));
    text.truncate(written);
    return text;
}

QByteArray toCp1251(const QString &text)
{
    if (text.isEmpty())
        return {};
    // No "best fit" ('Ā' as 'A'): a character the code page lacks becomes the
    // substitute byte, as it does through Qt's converters.
    const auto *wide = reinterpret_cast<const wchar_t *>(text.utf16());
    const int size = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()), nullptr, 0,
                                           substitute, nullptr);
    QByteArray bytes(size, Qt::Uninitialized);
    const int written = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, wide, int(text.size()),
                                              bytes.data(), size, substitute, nullptr);
    bytes.truncate(written);
    return bytes;
}
