#pragma once
// The measurement side of the virtual instrument: a plate of optical densities, the
// file name it proposes for them, and the protocol of results, with the commands
// 'G', 'D', 'g', 'd' that hand them over and the notices 'G' and 'g'.

#include <QByteArray>
#include <QDate>
#include <QObject>

#include <array>

class TVirtualInstrument;

/// What the instrument has measured; a child of the instrument.
class TInstrumentMeasurements : public QObject
{
    Q_OBJECT
public:
    explicit TInstrumentMeasurements(TVirtualInstrument &instrument);

    /// The instrument's answer to 'G': 'D' and the 872 bytes of the table.
    QByteArray tableReply() const;
    /// The instrument's answer to 'D': 19 bytes such as "2011_12_25_0001.xls", whose
    /// first byte, the year's '2', is at the same time the reply code.
    QByteArray fileNameReply() const;
    /// The protocol text alone (code page 1251), without the code and the last byte.
    QByteArray protocolText() const { return m_protocol; }

    /// Optical densities, row A first, each shown as six characters (" 0.123").
    void setValues(const std::array<double, 96> &values);
    /// What the instrument puts between its values and at the ends of its rows: its
    /// own bytes, which the program copies and never interprets. A separator follows
    /// each value; a row end of two bytes (CR LF) takes the last separator's last byte.
    void setTableLayout(const QByteArray &separator, const QByteArray &rowEnd);
    void setProtocolText(const QByteArray &text) { m_protocol = text; }
    void setDate(const QDate &date) { m_date = date; }

    /// A new plate: new values, then the notice 'G'.
    void measurePlate();
    /// A new protocol with the next number, then the notice 'g'.
    void finishResults();

    /// The sample protocol: a few lines of a real-looking report whose bytes 92 to 111
    /// hold "<number> от <dd.mm.yy>".
    static QByteArray sampleProtocol(int number, const QDate &date, const std::array<double, 96> &values);

    /// The layout of the instrument's plates (blanks, controls, a standard series,
    /// samples in duplicate) as a layout file of the page "Анализ планшета".
    static QByteArray sampleLayout();

private:
    TVirtualInstrument &m_instrument;
    std::array<double, 96> m_values{};
    QByteArray m_separator = "  \t"; ///< two blanks and a tab
    QByteArray m_rowEnd = "\n";
    QByteArray m_protocol;
    QDate m_date;
    int m_plateNumber = 1;    ///< numbers the plates and so the file names
    int m_protocolNumber = 15;
    quint32 m_seed = 12345;
};

/// Installs the commands and the measurements object; the object can be found later
/// with measurementsOf().
void installMeasureCommands(TVirtualInstrument &instrument);
TInstrumentMeasurements *measurementsOf(const TVirtualInstrument &instrument);
