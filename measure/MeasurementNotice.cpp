#include "measure/MeasurementNotice.h"

#include "common/PageHost.h"
#include "link/Line.h"

bool TakeMeasurementNotice(TPageHost &host, const TLine &line, const TExchange &exchange, const QString &status,
                           bool automatic, const std::function<void()> &request)
{
    if (line.lineClaim.holder() == TLineUser::Upload)
        return false;
    host.ShowStatus(status);
    if (automatic && line.Running() != &exchange && !line.Waiting(exchange))
        request();
    return true;
}
