// Code page 1251 through Qt's converters, which have it from ICU. One converter of each
// kind serves each thread, since a single-byte code page keeps no state between calls.

#include "common/Cp1251.h"

#include <QStringDecoder>
#include <QStringEncoder>

QString fromCp1251(const QByteArray &bytes)
{
    thread_local QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

QByteArray toCp1251(const QString &text)
{
    thread_local QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}
