#pragma once
// The instrument's texts are single-byte code page 1251: kept and sent as bytes, and
// decoded only to be shown. The conversion is the platform's (Cp1251_unix.cpp through
// Qt's converters, Cp1251_win.cpp through the system's code page): Qt converts 1251 only
// where it has ICU, and without it every text would come out empty.

#include <QByteArray>
#include <QString>

QString fromCp1251(const QByteArray &bytes);

/// A character the code page lacks becomes the substitute byte 0x1A.
QByteArray toCp1251(const QString &text);

/// The reason the conversion is unusable here (empty when every byte of the code page
/// survives the way to text and back), asked once at start.
QString cp1251Problem();
