#pragma once
// Two sample databases for the demonstration and the virtual instrument: an
// "instrument" one and a "file" one that differs from it by a few test systems. Groups
// and middle keys in Cyrillic and Latin, records of 1 to 5 pages and a final page;
// every other byte follows a fixed pseudo-random sequence, so the samples are the same
// on every run. On request each also carries what a worn instrument's database may:
// a later duplicate of a record and a page outside any record.

#include <QByteArray>
#include <QString>

enum class TSampleFlaws {
    None,                  ///< what the demo shows: every page in a record, every record once
    DuplicateAndStrayPage, ///< a duplicate record and a stray page, for the reading's rules
};

QByteArray sampleDeviceImage(TSampleFlaws flaws = TSampleFlaws::None);
QByteArray sampleFileImage(TSampleFlaws flaws = TSampleFlaws::None);

inline constexpr char sampleDeviceFileName[] = "Tavelon_BDTS.bdt";
inline constexpr char sampleFileFileName[] = "BDTS_new.bdt";

/// Writes both samples, without flaws, into the folder (created when missing); false
/// when either file could not be written.
bool writeSampleDatabases(const QString &folder);
