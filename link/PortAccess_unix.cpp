// A device node the user may not open has rights that say so; one that another program
// holds exclusively (TIOCEXCL) does not.

#include "link/PortAccess.h"

#include <QFileInfo>

namespace PortAccess {

TRefusal refusal(const QString &device)
{
    const QFileInfo node(device.contains(QLatin1Char('/')) ? device : QStringLiteral("/dev/") + device);
    if (node.exists() && !(node.isReadable() && node.isWritable()))
        return {TPortProblem::Permission, node.group()};
    return {TPortProblem::Busy, {}};
}

} // namespace PortAccess
