#include "measure/MeasureData.h"

#include "common/WholeFile.h"

#include <QFile>

#include <stdexcept>

namespace od {

std::array<QByteArray, rowCount * columnCount> tableValues(const QByteArray &reply)
{
    std::array<QByteArray, rowCount * columnCount> values;
    for (int row = 1; row <= rowCount; ++row)
        for (int column = 1; column <= columnCount; ++column)
            values[size_t((row - 1) * columnCount + column - 1)] = reply.mid(valueOffset(row, column), valueLength);
    return values;
}

namespace {
bool isControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

/// Blanks, then one word: no blank after it has begun, no control byte anywhere. A
/// well without a value may be all blanks.
bool fitsValue(const QByteArray &value)
{
    bool begun = false;
    for (const char byte : value) {
        const auto b = static_cast<unsigned char>(byte);
        if (isControl(b))
            return false;
        if (b == ' ') {
            if (begun)
                return false;
            continue;
        }
        begun = true;
    }
    return true;
}

QString place(int row, int column)
{
    return QStringLiteral("строка %1, столбец %2").arg(QChar('A' - 1 + row)).arg(column);
}
} // namespace

QString tableLayoutProblem(const QByteArray &reply)
{
    if (reply.size() != tableLength || !reply.startsWith('D'))
        return QStringLiteral("длина %1 байт").arg(reply.size());
    // The separators and row ends are the instrument's own and are never looked at
    // one by one; but every row of one table ends alike. A byte pushed into the last
    // row moves its end off its place, where no value follows to show the shift.
    const auto rowEnd = [&reply](int row) { return reply.at(valueOffset(row, 1) + rowBlockLength - 1); };
    for (int row = 1; row <= rowCount; ++row) {
        for (int column = 1; column <= columnCount; ++column)
            if (!fitsValue(reply.mid(valueOffset(row, column), valueLength)))
                return place(row, column);
        if (rowEnd(row) != rowEnd(1))
            return QStringLiteral("конец строки %1").arg(QChar('A' - 1 + row));
    }
    return {};
}

QString refusedTableText(const QString &problem)
{
    return QStringLiteral("Таблица оптических плотностей принята с искажением (%1). Повторите чтение.").arg(problem);
}

QByteArray fileNameOfReply(const QByteArray &reply)
{
    const qsizetype nul = reply.indexOf('\0');
    QByteArray name = nul >= 0 ? reply.left(nul) : reply;
    while (name.endsWith(' '))
        name.chop(1);
    return name;
}

} // namespace od

namespace protocol {

namespace {
/// `count` bytes from the 1-based position `from`; a start below 1 counts as 1 and a
/// piece running past the end is cut there.
QByteArray piece(const QByteArray &field, int from, int count)
{
    return field.mid(qMax(from, 1) - 1, count);
}
} // namespace

QByteArray autoFileName(const QByteArray &protocolText)
{
    // A protocol too short to hold the whole field reads blanks for the missing bytes.
    QByteArray field = protocolText.mid(nameFieldOffset, nameFieldLength);
    field.append(QByteArray(nameFieldLength - field.size(), ' '));

    static const QByteArray from("\x20\xEE\xF2"); // " от"
    const qsizetype fromAt = field.indexOf(from);
    const QByteArray number = fromAt >= 0 ? field.left(fromAt) : QByteArray();

    // The date is dd.mm.yy around the first dot: the day starts two bytes before it.
    const int k = int(field.indexOf('.')) + 1 - 2;
    const QByteArray day = piece(field, k, 2);
    const QByteArray month = piece(field, k + 3, 2);
    const QByteArray year = piece(field, k + 6, 2);
    return "20" + year + '_' + month + '_' + day + " Pr \xB9" + number;
}

} // namespace protocol

QString unsafeNameReason(const QByteArray &name)
{
    if (name.isEmpty())
        return QStringLiteral("имя пусто");
    for (const char byte : name) {
        const auto value = static_cast<unsigned char>(byte);
        if (value == '/' || value == '\\')
            return QStringLiteral("имя содержит разделитель пути");
        if (value == ':')
            return QStringLiteral("имя содержит двоеточие");
        if (value < 0x20 || value == 0x7F)
            return QStringLiteral("имя содержит управляющий байт 0x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    if (name.contains(".."))
        return QStringLiteral("имя содержит \"..\"");
    return {};
}

void writeWholeFile(const QString &path, const QByteArray &bytes)
{
    const QString reason = writeFileWhole(path, bytes);
    if (!reason.isEmpty())
        throw std::runtime_error(
            QStringLiteral("Не удалось записать файл \"%1\": %2").arg(path, reason).toStdString());
}

QByteArray readWholeFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error(QStringLiteral("Не удалось прочитать файл \"%1\": %2")
                                     .arg(path, file.errorString())
                                     .toStdString());
    return file.readAll();
}

QString writeIntoFolder(const QString &folder, const QByteArray &cp1251Name, const QByteArray &bytes,
                        const QString &refusal, const QString &consequence)
{
    const QString shownName = fileSystemName(cp1251Name);
    const QString reason = unsafeNameReason(cp1251Name);
    if (!reason.isEmpty())
        throw std::runtime_error(
            QStringLiteral("%1 \"%2\" (%3); %4").arg(refusal, shownName, reason, consequence).toStdString());
    writeWholeFile(folder + shownName, bytes);
    return shownName;
}
