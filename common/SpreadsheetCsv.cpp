#include "common/SpreadsheetCsv.h"

#include "common/Cp1251.h"

namespace spreadsheetCsv {

namespace {
constexpr char separator = ';';
constexpr char substitute = 0x1A; ///< what the code page's converter leaves for a sign it lacks
} // namespace

QString field(const QString &text)
{
    if (text.contains(QLatin1Char(separator)) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n'))
        || text.contains(QLatin1Char('\r')))
        return QLatin1Char('"') + QString(text).replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}

QString decimalComma(const QString &number)
{
    return QString(number).replace(QLatin1Char('.'), QLatin1Char(','));
}

QString row(const QStringList &fields)
{
    QStringList quoted;
    for (const QString &f : fields)
        quoted << field(f);
    return quoted.join(QLatin1Char(separator)) + QStringLiteral("\r\n");
}

QByteArray encode(const QString &text)
{
    QString plain = text;
    plain.replace(QChar(0x2212), QLatin1Char('-'))  // minus sign
        .replace(QChar(0x2264), QStringLiteral("<="))
        .replace(QChar(0x2265), QStringLiteral(">="))
        .replace(QChar(0x00D7), QLatin1Char('x'));   // multiplication sign
    QByteArray bytes;
    bytes.reserve(plain.size());
    // One character at a time, so that a sign the code page lacks is told from a
    // control byte of the text itself.
    for (qsizetype i = 0; i < plain.size(); ++i) {
        const qsizetype length = plain.at(i).isHighSurrogate() && i + 1 < plain.size() ? 2 : 1;
        const QString character = plain.mid(i, length);
        i += length - 1;
        const QByteArray encoded = toCp1251(character);
        if (encoded.size() == 1 && (encoded.at(0) != substitute || character.at(0).unicode() == 0x1A))
            bytes += encoded;
        else
            bytes += '?';
    }
    return bytes;
}

} // namespace spreadsheetCsv
