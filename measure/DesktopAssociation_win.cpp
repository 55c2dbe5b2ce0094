// The desktop's programs on Windows: the shell itself refuses to open a file whose type
// has no program, and the launch reports that, so nothing needs asking first.

#include "measure/DesktopAssociation.h"

bool desktopHasProgramFor(const QString &)
{
    return true;
}

bool desktopHasProgramForType(const QString &)
{
    return true;
}
