#include "measure/MeasurementNotice.h"

#include "common/PageHost.h"

bool TakeMeasurementNotice(TPageHost &host, const QString &status, bool automatic,
                           const std::function<void()> &request, const std::function<void()> &requestOnceFree)
{
    if (host.UploadRunning())
        return false;
    host.ShowStatus(status);
    if (!automatic)
        return true;
    if (host.LineBusy())
        requestOnceFree();
    else
        request();
    return true;
}
