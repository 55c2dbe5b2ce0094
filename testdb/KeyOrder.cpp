#include "testdb/KeyOrder.h"

#include "common/Cp1251.h"

#include <QCollator>
#include <QLocale>

namespace {

// An English collation: it keeps the platform's word order (digits, Latin, then
// Cyrillic; lowercase before uppercase), whereas a Russian one puts Cyrillic first.
const QCollator &keyCollator()
{
    static const QCollator collator = [] {
        QCollator c{QLocale(QLocale::English, QLocale::UnitedStates)};
        c.setCaseSensitivity(Qt::CaseSensitive);
        c.setNumericMode(false);
        c.setIgnorePunctuation(false);
        return c;
    }();
    return collator;
}

} // namespace

QString decodeKeyText(const QByteArray &bytes)
{
    return fromCp1251(bytes);
}

QByteArray encodeKeyText(const QString &text)
{
    return toCp1251(text);
}

int compareKeyTexts(const QString &aText, const QByteArray &aBytes,
                    const QString &bText, const QByteArray &bBytes)
{
    const int order = keyCollator().compare(aText, bText);
    if (order != 0)
        return order;
    return aBytes.compare(bBytes);
}

int compareKeyTexts(const QByteArray &a, const QByteArray &b)
{
    return compareKeyTexts(decodeKeyText(a), a, decodeKeyText(b), b);
}
