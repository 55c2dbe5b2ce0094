#pragma once
// The serial driver's own send queue, below QSerialPort's buffer: bytes the system has
// taken but not yet put on the line. The platform files OutputQueue_unix.cpp and
// OutputQueue_win.cpp ask the system.

#include <QSerialPort>

#include <utility>

namespace OutputQueue {

/// The system's handle of an open port (a descriptor on Unix, a HANDLE on Windows).
using THandle = decltype(std::declval<const QSerialPort &>().handle());

/// Bytes in the driver's send queue of an open port; 0 when the system cannot tell.
qint64 driverQueued(THandle handle);
/// Drops the driver's send queue: its bytes never reach the line.
void discardDriverQueue(THandle handle);

} // namespace OutputQueue
