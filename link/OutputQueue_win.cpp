// The driver's send queue on Windows: ClearCommError reports it, PurgeComm drops it.

#include "link/OutputQueue.h"

#include <windows.h>

namespace OutputQueue {

qint64 driverQueued(THandle handle)
{
    DWORD errors = 0;
    COMSTAT status{};
    if (handle == INVALID_HANDLE_VALUE || !::ClearCommError(handle, &errors, &status))
        return 0;
    return qint64(status.cbOutQue);
}

void discardDriverQueue(THandle handle)
{
    if (handle != INVALID_HANDLE_VALUE)
        ::PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR);
}

} // namespace OutputQueue
