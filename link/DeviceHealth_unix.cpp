// The device under an open port on Unix: a hang-up or an invalid descriptor seen by
// poll, the terminal refusing its settings with an error of a vanished device, or the
// device node gone.

#include "link/DeviceHealth.h"

#include <QFile>

#include <cerrno>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>

namespace DeviceHealth {

namespace {
bool isGoneErrno(int error)
{
    return error == EIO || error == ENXIO || error == ENODEV || error == EBADF;
}
} // namespace

bool deviceGone(OutputQueue::THandle handle, const QString &device)
{
    if (handle < 0)
        return true;
    pollfd watch{handle, POLLIN | POLLOUT, 0};
    int ready = 0;
    do {
        ready = ::poll(&watch, 1, 0);
    } while (ready < 0 && errno == EINTR);
    if (ready > 0 && (watch.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
        return true;
    termios settings{};
    if (::tcgetattr(handle, &settings) != 0 && isGoneErrno(errno))
        return true;
    if (!device.isEmpty()) {
        struct stat node{};
        const QByteArray path = QFile::encodeName(device);
        if (::stat(path.constData(), &node) != 0 && (errno == ENOENT || isGoneErrno(errno)))
            return true;
    }
    return false;
}

} // namespace DeviceHealth
