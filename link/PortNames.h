#pragma once
// Which system devices stand for COM1..COM4, and which typed texts name a serial device.
// The ordering rule is portable; the listing of the system's ports lives in the
// platform files PortNames_unix.cpp and PortNames_win.cpp.

#include <QString>
#include <QStringList>

namespace PortNames {

/// How many "COMn" names the program offers.
constexpr int comPortCount = 4;

/// Puts serial device names (paths such as "/dev/ttyUSB0") in COM order: USB adapters
/// (ttyUSB*), then ACM adapters (ttyACM*), then on-board ports (ttyS*), each in numeric
/// order (ttyUSB2 before ttyUSB10), then any other serial device in name order.
/// Duplicates go; at most comPortCount names are returned, COM1 first.
QStringList comPortOrder(const QStringList &devices);

/// The system's devices for COM1..COM4 as listed now (COM1 first; fewer when the
/// system has fewer). On Windows these are simply "COM1".."COM4".
QStringList systemComPorts();

/// The COM order after the system's ports changed: a device of `before` that is still
/// present (or is `open`) keeps its number; devices found since take the free numbers,
/// in COM order. At most comPortCount names; an empty text marks a free number.
QStringList keepComNumbers(const QStringList &before, const QStringList &now, const QString &open);

/// True when a text typed by the user names a serial device of this system: a device
/// node of a serial port (or a link to one, such as /dev/serial/by-id/...), a
/// pseudo-terminal, or a port the system lists.
bool isSerialDevice(const QString &text);

} // namespace PortNames
