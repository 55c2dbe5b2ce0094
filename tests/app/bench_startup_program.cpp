// The program as lorit-service starts, on the computer's serial ports, shown until its
// first paint; the moments between say what the start-up spends its time on.

#include "StartupStamps.h"

#include "app/Application.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Cp1251.h"
#include "link/QtSerialBackend.h"

int main(int argc, char **argv)
{
    printStartupStamp("main");
    TApplication app(argc, argv);
    printStartupStamp("application");
    auto *backend = new TQtSerialBackend;
    printStartupStamp("backend");
    TFormMainLoritS_D7 window(backend);
    printStartupStamp("constructed");
    if (const QString problem = cp1251Problem(); !problem.isEmpty())
        window.ReportError(problem);
    printStartupStamp("codepage");
    TFirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    printStartupStamp("window");
    window.show();
    return TApplication::exec();
}
