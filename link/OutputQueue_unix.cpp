// The driver's send queue on Unix: TIOCOUTQ counts it, tcflush drops it.

#include "link/OutputQueue.h"

#include <sys/ioctl.h>
#include <termios.h>

namespace OutputQueue {

qint64 driverQueued(THandle handle)
{
    int count = 0;
    if (handle < 0 || ::ioctl(handle, TIOCOUTQ, &count) != 0 || count < 0)
        return 0;
    return count;
}

void discardDriverQueue(THandle handle)
{
    if (handle >= 0)
        ::tcflush(handle, TCOFLUSH);
}

} // namespace OutputQueue
