// Windows answers "access denied" for a port another program holds (a serial driver
// admits one open handle at a time) and for one the user has no right to. An open that
// asks for no access at all tells them apart: the holder's exclusive open refuses it
// too, while a device's rights refuse only reading and writing.

#include "link/PortAccess.h"

#include <windows.h>

namespace PortAccess {

TRefusal refusal(const QString &device)
{
    const QString path = device.startsWith(QLatin1String("\\\\.\\")) ? device : QStringLiteral("\\\\.\\") + device;
    HANDLE probe = ::CreateFileW(reinterpret_cast<const wchar_t *>(path.utf16()), 0,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (probe == INVALID_HANDLE_VALUE)
        return {TPortProblem::Busy, {}};
    ::CloseHandle(probe);
    return {TPortProblem::Permission, {}};
}

} // namespace PortAccess
