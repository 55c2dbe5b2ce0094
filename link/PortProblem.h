#pragma once
// Why a port cannot be used, in the user's words: which device, what stands in the
// way, and what to do about it.

#include <QString>

enum class TPortProblem
{
    Permission, ///< the user may not open the device
    Busy,       ///< another program holds it
    Absent,     ///< no such device (an adapter not plugged in)
    Other       ///< the system's own reason is all there is
};

/// The message for the status line or the error box. `group` is the group that owns
/// the device (Unix), `systemText` the system's own reason.
QString portProblemText(const QString &device, TPortProblem problem, const QString &group = {},
                        const QString &systemText = {});
