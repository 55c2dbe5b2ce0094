#include "sim/commands/MeasureCommands.h"

#include "common/Cp1251.h"
#include "sim/VirtualInstrument.h"

namespace {

/// The instrument's own texts are code page 1251, on every platform.
QByteArray cp1251(const QString &text)
{
    return toCp1251(text);
}

} // namespace

TInstrumentMeasurements::TInstrumentMeasurements(TVirtualInstrument &instrument)
    : QObject(&instrument), m_instrument(instrument), m_date(2011, 12, 25)
{
    setObjectName(QStringLiteral("measurements"));
    for (size_t i = 0; i < m_values.size(); ++i)
        m_values[i] = 0.040 + double((i * 37) % 97) * 0.027;
    m_protocol = sampleProtocol(m_protocolNumber, m_date, m_values);
}

QByteArray TInstrumentMeasurements::tableReply() const
{
    // Each row: twelve values of six characters, each followed by a three-byte
    // separator (two blanks and a tab), and a line feed at the row's end.
    QByteArray reply("D");
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 12; ++column) {
            reply += QByteArray::number(m_values[size_t(row * 12 + column)], 'f', 3).rightJustified(6, ' ', true);
            reply += "  \t";
        }
        reply += '\n';
    }
    return reply;
}

QByteArray TInstrumentMeasurements::fileNameReply() const
{
    return m_date.toString(QStringLiteral("yyyy_MM_dd_")).toLatin1()
           + QByteArray::number(m_plateNumber % 10000).rightJustified(4, '0') + ".xls";
}

void TInstrumentMeasurements::setValues(const std::array<double, 96> &values)
{
    m_values = values;
}

void TInstrumentMeasurements::measurePlate()
{
    // A small linear congruential generator: the same plates on every run of a test.
    for (double &value : m_values) {
        m_seed = m_seed * 1664525u + 1013904223u;
        value = 0.030 + double(m_seed >> 8) / double(1u << 24) * 3.2;
    }
    ++m_plateNumber;
    m_instrument.send(QByteArrayLiteral("G"));
}

void TInstrumentMeasurements::finishResults()
{
    ++m_protocolNumber;
    m_protocol = sampleProtocol(m_protocolNumber, m_date, m_values);
    m_instrument.send(QByteArrayLiteral("g"));
}

QByteArray TInstrumentMeasurements::sampleProtocol(int number, const QDate &date,
                                                   const std::array<double, 96> &values)
{
    // The instrument prints the protocol's number and date at bytes 92 to 111, the
    // name field; the heading is laid out so that they fall there.
    const QByteArray head = cp1251(QStringLiteral("Анализатор ИФА ТАВЕЛОН\r\n"
                                                  "Клинико-диагностическая лаборатория ГБ\r\n"));
    const QByteArray title = cp1251(QStringLiteral("Протокол № "));
    QByteArray text = head + QByteArray(92 - head.size() - title.size(), ' ') + title;
    const QByteArray field = QByteArray::number(number) + cp1251(QStringLiteral(" от "))
                             + date.toString(QStringLiteral("dd.MM.yy")).toLatin1();
    text += field.leftJustified(20, ' ', true);
    text += cp1251(QStringLiteral("\r\n\r\n"
                                  "Тест-система: ИФА-HBsAg, набор 1204\r\n"
                                  "Длина волны: 450 нм, референс 620 нм\r\n"
                                  "Cut-off = 0.245\r\n\r\n"
                                  "Лунка    ОП     Результат\r\n"));
    static const char rows[] = "ABCDEFGH";
    for (int well = 0; well < 24; ++well) {
        const double value = values[size_t(well)];
        const QString line = QStringLiteral("%1%2")
                                 .arg(QChar(rows[well / 12]))
                                 .arg(well % 12 + 1)
                                 .leftJustified(6, QLatin1Char(' '))
                             + QStringLiteral("%1").arg(value, 6, 'f', 3) + QStringLiteral("   ")
                             + (value >= 0.245 ? QStringLiteral("положительный") : QStringLiteral("отрицательный"))
                             + QStringLiteral("\r\n");
        text += cp1251(line);
    }
    text += cp1251(QStringLiteral("\r\nОператор: ____________\r\n"));
    return text;
}

void installMeasureCommands(TVirtualInstrument &instrument)
{
    // The measurements are a child of the instrument and so outlive its commands.
    TInstrumentMeasurements *const data = new TInstrumentMeasurements(instrument);
    // 'G': the table of optical densities.
    instrument.addCommand({'G', 0, [data](TVirtualInstrument &self, const QByteArray &) {
                               self.send(data->tableReply());
                           }});
    // 'D': a file name for the table.
    instrument.addCommand({'D', 0, [data](TVirtualInstrument &self, const QByteArray &) {
                               self.send(data->fileNameReply());
                           }});
    // 'g': the length of the protocol reply to come, as five digits.
    instrument.addCommand({'g', 0, [data](TVirtualInstrument &self, const QByteArray &) {
                               const qsizetype length = data->protocolText().size() + 2;
                               self.send('N' + QByteArray::number(length).rightJustified(5, '0'));
                           }});
    // 'd': the protocol, then a check byte that the program does not look at.
    instrument.addCommand({'d', 0, [data](TVirtualInstrument &self, const QByteArray &) {
                               const QByteArray text = data->protocolText();
                               quint8 sum = 0;
                               for (const char byte : text)
                                   sum = quint8(sum + quint8(byte));
                               self.send('d' + text + char(sum));
                           }});
}

TInstrumentMeasurements *measurementsOf(const TVirtualInstrument &instrument)
{
    return instrument.findChild<TInstrumentMeasurements *>(QStringLiteral("measurements"),
                                                           Qt::FindDirectChildrenOnly);
}
