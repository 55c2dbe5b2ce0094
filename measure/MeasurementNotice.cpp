#include "measure/MeasurementNotice.h"

#include "common/PageHost.h"

bool TakeMeasurementNotice(TPageHost &host, const QString &status, bool automatic, bool &deferred,
                           const std::function<void()> &request)
{
    if (host.UploadRunning())
        return false;
    host.ShowStatus(status);
    if (!automatic)
        return true;
    if (host.LineBusy())
        deferred = true;
    else
        request();
    return true;
}
