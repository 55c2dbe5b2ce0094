// The device under an open port on Windows: a port whose adapter was pulled out fails
// every call on its handle, ClearCommError among them; a busy one does not.

#include "link/DeviceHealth.h"

#include <windows.h>

namespace DeviceHealth {

bool deviceGone(OutputQueue::THandle handle, const QString &device)
{
    Q_UNUSED(device); // the handle tells: a removed device fails every call on it
    if (handle == INVALID_HANDLE_VALUE)
        return true;
    DWORD errors = 0;
    COMSTAT status{};
    return !::ClearCommError(handle, &errors, &status);
}

} // namespace DeviceHealth
