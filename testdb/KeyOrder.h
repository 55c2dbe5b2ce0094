#pragma once
// Key texts are code-page-1251 bytes. They are shown decoded and ordered by one
// comparison, shared by the trees, the list files and rebuilt images.

#include <QByteArray>
#include <QString>

/// The key text decoded from code page 1251 for display.
QString decodeKeyText(const QByteArray &bytes);
/// Text encoded in code page 1251 (for building images from readable names).
QByteArray encodeKeyText(const QString &text);

/// Locale-aware, case-sensitive order of displayed key texts: digits before Latin before
/// Cyrillic, a lowercase letter before its uppercase form and both before the next
/// letter. Texts that collate alike are ordered by their bytes, so that only equal bytes
/// compare equal. Negative, zero or positive like strcmp.
int compareKeyTexts(const QString &aText, const QByteArray &aBytes,
                    const QString &bText, const QByteArray &bBytes);
int compareKeyTexts(const QByteArray &a, const QByteArray &b);
