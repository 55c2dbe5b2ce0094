#pragma once
// What the program prints: the results protocol as the instrument wrote it, in a
// monospaced font that keeps its columns, and the plate of optical densities as an
// A–H × 1–12 grid; each page carries the title, the date and its number in the footer.

#include "measure/PlateColours.h"

#include <QDateTime>
#include <QTextDocument>

#include <memory>

class QPrinter;

namespace printing {

/// The protocol as the program keeps it (code page 1251 bytes, lines ending in CR, LF
/// or CR LF; tabs stop every eight columns). Its lines are never wrapped while a font
/// of at least minimumPointSize keeps them within the page.
std::unique_ptr<QTextDocument> protocolDocument(const QByteArray &cp1251Protocol);
constexpr qreal protocolPointSize = 10;
constexpr qreal minimumPointSize = 6;

/// The plate's title: what it is, the instrument's file name and the time it was read,
/// each when known ("Оптические плотности: 2011_12_25_0001.xls, прочитаны 25.12.2011 14:03").
QString plateTitle(const QString &instrumentFileName, const QDateTime &readAt);

/// The plate as a grid under `title`; coloured on the range when one is given.
std::unique_ptr<QTextDocument> plateDocument(const plate::TValues &values, const QString &title,
                                             const std::optional<plate::TRange> &colours = std::nullopt);

/// Prints the document on the printer, page after page, with "title, date" on the left
/// of each footer and "Страница N из M" on its right. False when the printer cannot
/// start or take a page.
bool printDocument(QTextDocument &document, QPrinter &printer, const QString &title,
                   const QDateTime &printedAt = QDateTime::currentDateTime());

} // namespace printing
