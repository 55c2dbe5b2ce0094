#pragma once
// Two sample databases for the demonstration and the virtual instrument: an
// "instrument" one and a "file" one that differs from it by a few test systems. Groups
// and middle keys in Cyrillic and Latin, records of 1 to 5 pages, a duplicate record,
// a page outside any record and a final page; every other byte follows a fixed
// pseudo-random sequence, so the samples are the same on every run.

#include <QByteArray>
#include <QString>

QByteArray sampleDeviceImage();
QByteArray sampleFileImage();

inline constexpr char sampleDeviceFileName[] = "Tavelon_BDTS.bdt";
inline constexpr char sampleFileFileName[] = "BDTS_new.bdt";

/// Writes both samples into the folder (created when missing); false when either file
/// could not be written.
bool writeSampleDatabases(const QString &folder);
