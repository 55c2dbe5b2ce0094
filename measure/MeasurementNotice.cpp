#include "measure/MeasurementNotice.h"

#include "common/PageHost.h"
#include "link/Line.h"

bool TakeMeasurementNotice(TPageHost &host, TLine &line, TExchange &exchange, const QString &status,
                           bool automatic, const QString &activity, const std::function<void()> &begin)
{
    if (line.lineClaim.holder() == TLineUser::Upload)
        return false;
    host.ShowStatus(status);
    if (automatic)
        line.SubmitAfterNotice(exchange, activity, begin);
    return true;
}
