#pragma once
// A serial device the system would not open for want of "permission": either the user
// has no right to it or another program holds it, and the system says the same for
// both. The platform files PortAccess_unix.cpp (the device node's rights) and
// PortAccess_win.cpp (a second look through the system's own calls) tell them apart.

#include "link/PortProblem.h"

#include <QString>

namespace PortAccess {

struct TRefusal
{
    TPortProblem problem; ///< Permission or Busy
    QString group;        ///< the group that owns the device, where the system has one
};

/// Asked right after the system refused to open `device` (a name or a path).
TRefusal refusal(const QString &device);

} // namespace PortAccess
