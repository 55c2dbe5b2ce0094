#include "measure/MeasurementNotice.h"

#include "common/PageHost.h"
#include "link/Line.h"

bool TakeMeasurementNotice(TPageHost &host, const TLine &line, const QString &status, bool automatic,
                           const std::function<void()> &request, const std::function<void()> &requestOnceFree)
{
    if (line.lineClaim.holder() == TLineUser::Upload)
        return false;
    host.ShowStatus(status);
    if (!automatic)
        return true;
    if (!line.lineClaim.isFree())
        requestOnceFree();
    else
        request();
    return true;
}
