#pragma once
// The instrument's texts are single-byte code page 1251: kept and sent as bytes, and
// decoded only to be shown. One converter of each kind serves the whole program, since
// a single-byte code page keeps no state between calls.

#include <QByteArray>
#include <QString>
#include <QStringDecoder>
#include <QStringEncoder>

inline QString fromCp1251(const QByteArray &bytes)
{
    thread_local QStringDecoder decoder("windows-1251", QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}

inline QByteArray toCp1251(const QString &text)
{
    thread_local QStringEncoder encoder("windows-1251", QStringConverter::Flag::Stateless);
    return encoder.encode(text);
}
