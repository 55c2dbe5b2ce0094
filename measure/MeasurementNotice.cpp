#include "measure/MeasurementNotice.h"

#include "common/PageHost.h"
#include "link/Line.h"

bool TakeMeasurementNotice(TPageHost &host, const TLine &line, const QString &status, bool automatic, bool &deferred,
                           const std::function<void()> &request)
{
    if (line.lineClaim.holder() == TLineUser::Upload)
        return false;
    host.ShowStatus(status);
    if (!automatic)
        return true;
    if (!line.lineClaim.isFree())
        deferred = true;
    else
        request();
    return true;
}
