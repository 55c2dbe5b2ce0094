#pragma once
// Whether the device under an open port is really gone (an adapter pulled out, the
// node removed) or only busy: a full send queue makes the system refuse a write for a
// moment, and that is no lost device. The platform files DeviceHealth_unix.cpp and
// DeviceHealth_win.cpp ask the system.

#include "link/OutputQueue.h"

#include <QString>

namespace DeviceHealth {

/// True when the open port's device can never be used again on this handle: the line
/// hung up, the handle is no longer valid, or the device node has gone. `device` is the
/// name the port was opened by (empty: the node is not looked at).
bool deviceGone(OutputQueue::THandle handle, const QString &device);

} // namespace DeviceHealth
