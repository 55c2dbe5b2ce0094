#include "sim/commands/MeasureCommands.h"

#include "common/Cp1251.h"
#include "sim/VirtualInstrument.h"

#include <cmath>

namespace {

/// The instrument's own texts are code page 1251, on every platform.
QByteArray cp1251(const QString &text)
{
    return toCp1251(text);
}

/// A small linear congruential generator: the same plates on every run of a test.
double nextUniform(quint32 &seed)
{
    seed = seed * 1664525u + 1013904223u;
    return double(seed >> 8) / double(1u << 24);
}

/// A plausible ELISA plate, by columns: A1–B1 blanks, C1–E1 negative and F1–G1
/// positive controls, A2–H3 a standard series 0, 5, 10, 25, 50, 100, 200, 400 in
/// duplicate across, and columns 4–12 samples in duplicate down (A4–B4, C4–D4, …).
/// Densities follow a four-parameter logistic with a few per cent of noise.
std::array<double, 96> elisaPlate(quint32 &seed)
{
    const auto noisy = [&seed](double od) { return od * (1 + 0.06 * (nextUniform(seed) - 0.5)); };
    const auto response = [](double concentration) {
        const double a = 0.03, b = 1.1, c = 80, d = 3.1;
        return d + (a - d) / (1 + std::pow(concentration / c, b));
    };
    constexpr double blank = 0.045;
    std::array<double, 96> values{};
    const auto at = [&values](int row, int column) -> double & { return values[size_t(row * 12 + column)]; };
    at(0, 0) = noisy(blank);
    at(1, 0) = noisy(blank);
    for (int row = 2; row <= 4; ++row)
        at(row, 0) = noisy(blank + 0.045);
    for (int row = 5; row <= 6; ++row)
        at(row, 0) = noisy(blank + 1.85);
    at(7, 0) = noisy(blank * 0.9);
    const double standards[] = {0, 5, 10, 25, 50, 100, 200, 400};
    for (int row = 0; row < 8; ++row)
        for (int column = 1; column <= 2; ++column)
            at(row, column) = noisy(blank + response(standards[row]));
    for (int column = 3; column < 12; ++column) {
        for (int pair = 0; pair < 4; ++pair) {
            // Concentrations spread over three decades, so that some fall outside the series.
            const double concentration = 0.5 * std::pow(10.0, 3.2 * nextUniform(seed));
            for (int row = 2 * pair; row < 2 * pair + 2; ++row)
                at(row, column) = noisy(blank + response(concentration));
        }
    }
    return values;
}

} // namespace

TInstrumentMeasurements::TInstrumentMeasurements(TVirtualInstrument &instrument)
    : QObject(&instrument), m_instrument(instrument), m_date(2011, 12, 25)
{
    setObjectName(QStringLiteral("measurements"));
    m_values = elisaPlate(m_seed);
    m_protocol = sampleProtocol(m_protocolNumber, m_date, m_values);
}

QByteArray TInstrumentMeasurements::tableReply() const
{
    // Each row: twelve values of six characters, each followed by a three-byte
    // separator, and the row's end.
    QByteArray reply("D");
    for (int row = 0; row < 8; ++row) {
        for (int column = 0; column < 12; ++column) {
            reply += QByteArray::number(m_values[size_t(row * 12 + column)], 'f', 3).rightJustified(6, ' ', true);
            reply += m_separator;
        }
        reply.chop(m_rowEnd.size() - 1);
        reply += m_rowEnd;
    }
    return reply;
}

void TInstrumentMeasurements::setTableLayout(const QByteArray &separator, const QByteArray &rowEnd)
{
    // The row block stays 109 bytes long, whatever the bytes.
    if (separator.size() == 3 && (rowEnd.size() == 1 || rowEnd.size() == 2)) {
        m_separator = separator;
        m_rowEnd = rowEnd;
    }
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
    m_values = elisaPlate(m_seed);
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

QByteArray TInstrumentMeasurements::sampleLayout()
{
    // The plate's layout as a lab would save it for this test system.
    return QByteArrayLiteral(R"({ "format": "lorit-plate-layout", "version": 1, "name": "ИФА-демо",
  "wells": [
    { "well": "A1", "role": "blank" },
    { "well": "B1", "role": "blank" },
    { "well": "C1", "role": "negative" },
    { "well": "D1", "role": "negative" },
    { "well": "E1", "role": "negative" },
    { "well": "F1", "role": "positive" },
    { "well": "G1", "role": "positive" },
    { "well": "A2", "role": "standard", "concentration": 0 },
    { "well": "A3", "role": "standard", "concentration": 0 },
    { "well": "B2", "role": "standard", "concentration": 5 },
    { "well": "B3", "role": "standard", "concentration": 5 },
    { "well": "C2", "role": "standard", "concentration": 10 },
    { "well": "C3", "role": "standard", "concentration": 10 },
    { "well": "D2", "role": "standard", "concentration": 25 },
    { "well": "D3", "role": "standard", "concentration": 25 },
    { "well": "E2", "role": "standard", "concentration": 50 },
    { "well": "E3", "role": "standard", "concentration": 50 },
    { "well": "F2", "role": "standard", "concentration": 100 },
    { "well": "F3", "role": "standard", "concentration": 100 },
    { "well": "G2", "role": "standard", "concentration": 200 },
    { "well": "G3", "role": "standard", "concentration": 200 },
    { "well": "H2", "role": "standard", "concentration": 400 },
    { "well": "H3", "role": "standard", "concentration": 400 },
    { "well": "A4", "role": "sample", "id": "1" },
    { "well": "B4", "role": "sample", "id": "1" },
    { "well": "C4", "role": "sample", "id": "2" },
    { "well": "D4", "role": "sample", "id": "2" },
    { "well": "E4", "role": "sample", "id": "3" },
    { "well": "F4", "role": "sample", "id": "3" },
    { "well": "G4", "role": "sample", "id": "4" },
    { "well": "H4", "role": "sample", "id": "4" },
    { "well": "A5", "role": "sample", "id": "5" },
    { "well": "B5", "role": "sample", "id": "5" },
    { "well": "C5", "role": "sample", "id": "6" },
    { "well": "D5", "role": "sample", "id": "6" },
    { "well": "E5", "role": "sample", "id": "7" },
    { "well": "F5", "role": "sample", "id": "7" },
    { "well": "G5", "role": "sample", "id": "8" },
    { "well": "H5", "role": "sample", "id": "8" },
    { "well": "A6", "role": "sample", "id": "9" },
    { "well": "B6", "role": "sample", "id": "9" },
    { "well": "C6", "role": "sample", "id": "10" },
    { "well": "D6", "role": "sample", "id": "10" },
    { "well": "E6", "role": "sample", "id": "11" },
    { "well": "F6", "role": "sample", "id": "11" },
    { "well": "G6", "role": "sample", "id": "12" },
    { "well": "H6", "role": "sample", "id": "12" },
    { "well": "A7", "role": "sample", "id": "13" },
    { "well": "B7", "role": "sample", "id": "13" },
    { "well": "C7", "role": "sample", "id": "14" },
    { "well": "D7", "role": "sample", "id": "14" },
    { "well": "E7", "role": "sample", "id": "15" },
    { "well": "F7", "role": "sample", "id": "15" },
    { "well": "G7", "role": "sample", "id": "16" },
    { "well": "H7", "role": "sample", "id": "16" },
    { "well": "A8", "role": "sample", "id": "17" },
    { "well": "B8", "role": "sample", "id": "17" },
    { "well": "C8", "role": "sample", "id": "18" },
    { "well": "D8", "role": "sample", "id": "18" },
    { "well": "E8", "role": "sample", "id": "19" },
    { "well": "F8", "role": "sample", "id": "19" },
    { "well": "G8", "role": "sample", "id": "20" },
    { "well": "H8", "role": "sample", "id": "20" },
    { "well": "A9", "role": "sample", "id": "21" },
    { "well": "B9", "role": "sample", "id": "21" },
    { "well": "C9", "role": "sample", "id": "22" },
    { "well": "D9", "role": "sample", "id": "22" },
    { "well": "E9", "role": "sample", "id": "23" },
    { "well": "F9", "role": "sample", "id": "23" },
    { "well": "G9", "role": "sample", "id": "24" },
    { "well": "H9", "role": "sample", "id": "24" },
    { "well": "A10", "role": "sample", "id": "25" },
    { "well": "B10", "role": "sample", "id": "25" },
    { "well": "C10", "role": "sample", "id": "26" },
    { "well": "D10", "role": "sample", "id": "26" },
    { "well": "E10", "role": "sample", "id": "27" },
    { "well": "F10", "role": "sample", "id": "27" },
    { "well": "G10", "role": "sample", "id": "28" },
    { "well": "H10", "role": "sample", "id": "28" },
    { "well": "A11", "role": "sample", "id": "29" },
    { "well": "B11", "role": "sample", "id": "29" },
    { "well": "C11", "role": "sample", "id": "30" },
    { "well": "D11", "role": "sample", "id": "30" },
    { "well": "E11", "role": "sample", "id": "31" },
    { "well": "F11", "role": "sample", "id": "31" },
    { "well": "G11", "role": "sample", "id": "32" },
    { "well": "H11", "role": "sample", "id": "32" },
    { "well": "A12", "role": "sample", "id": "33" },
    { "well": "B12", "role": "sample", "id": "33" },
    { "well": "C12", "role": "sample", "id": "34" },
    { "well": "D12", "role": "sample", "id": "34" },
    { "well": "E12", "role": "sample", "id": "35" },
    { "well": "F12", "role": "sample", "id": "35" },
    { "well": "G12", "role": "sample", "id": "36" },
    { "well": "H12", "role": "sample", "id": "36" }
  ] }
)");
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
