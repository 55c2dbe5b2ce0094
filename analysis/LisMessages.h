#pragma once
// The run's sample results for a laboratory information system, as the two messages
// such systems take from a folder they watch:
//
// - an ASTM E1394 (LIS2-A2) message: records H, then for each sample P, O, its comment
//   C when it has one, its results R, and L at the end; fields split by '|', repeats by
//   '\', components by '^', '&' the escape, as H declares; each record ends with CR.
//   Optionally in LIS1-A frames, as it would go down a line: STX, the frame number
//   1…7, 0, 1…, at most 240 characters of the records, ETB (more of the record follows)
//   or ETX, two hexadecimal digits of the sum of the bytes from the frame number to
//   ETB/ETX, CR LF. The file holds the frames alone (no ENQ or EOT: there is no line).
// - an HL7 v2.5.1 ORU^R01 message: MSH, then for each sample PID, OBR, its comment NTE
//   when it has one, and an OBX per result; segments end with CR.
//
// Both in UTF-8 without a byte-order mark (HL7 says so in MSH-18). Each sample gives up
// to four results: "OD" (its corrected OD), "INDEX" (OD / cut-off), "RESULT" (POS, NEG
// or EQV for the grey zone) when the run has a cut-off, and "CONC" (the concentration,
// its dilution applied; "<50" or ">4000" outside the calibrators) when it has a curve.
// An invalid run sends every result without a value, with the status X ("cannot be
// done"), and the reason in the sample's comment.

#include "analysis/PlateAnalysis.h"
#include "analysis/page/RunIdentity.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace analysis {

struct TLisRun
{
    TRunIdentity identity;
    QDateTime writtenAt; ///< when the message is made: its time and control ID
    QString version;     ///< the program's, in the header
};

/// One result of a sample as both messages carry it.
struct TLisResult
{
    QString code;   ///< "OD", "INDEX", "RESULT", "CONC"
    QString name;   ///< "ОП", "Индекс", "Результат", "Концентрация"
    bool numeric = true; ///< the value is a plain number (HL7 NM), else text (ST)
    QString value;  ///< empty when none can be given
    QString unit;
    std::optional<double> rangeLow, rangeHigh; ///< the negative's range, for OD and index
    int rangeDecimals = 3;
    QString flag;   ///< "A" positive, "N" negative, "<" / ">" outside the calibrators
    QChar status;   ///< 'F' final, 'X' cannot be done
};
std::vector<TLisResult> lisResults(const TAnalysis &analysis, const TSampleResult &sample);
/// What the lab should read beside a sample's results (the run's validity, the
/// sample's note and flags); empty when nothing.
QString lisComment(const TAnalysis &analysis, const TSampleResult &sample);

/// The records, each ended by CR.
QByteArray astmMessage(const TAnalysis &analysis, const TLisRun &run);
/// The records in LIS1-A frames.
QByteArray lis1Frames(const QByteArray &records);
/// The text inside an ASTM field: '|' as "&F&", '\' as "&R&", '^' as "&S&", '&' as "&E&".
QString astmEscape(const QString &text);

QByteArray hl7Message(const TAnalysis &analysis, const TLisRun &run);
/// The text inside an HL7 field: '|' "\F\", '^' "\S\", '&' "\T\", '~' "\R\", '\' "\E\".
QString hl7Escape(const QString &text);

enum class TLisFormat { Astm, AstmFramed, Hl7 };
/// "<run>_<yyyyMMdd_HHmmss>" with the format's extension (".astm", ".hl7"): the run is
/// the instrument's file name without its extension, else "TavDat".
QString lisFileName(const TRunIdentity &identity, const QDateTime &at, TLisFormat format);
QByteArray lisMessage(TLisFormat format, const TAnalysis &analysis, const TLisRun &run);

} // namespace analysis
