#include "testdb/KeyOrder.h"

#include <QCollator>
#include <QLocale>
#include <QStringDecoder>
#include <QStringEncoder>

namespace {

constexpr const char codePage[] = "windows-1251";

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

// A single-byte code page keeps no state between calls, so one converter serves all.
QString decodeKeyText(const QByteArray &bytes)
{
    thread_local QStringDecoder decoder(codePage, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray encodeKeyText(const QString &text)
{
    thread_local QStringEncoder encoder(codePage, QStringConverter::Flag::Stateless);
    return encoder.encode(text);
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
