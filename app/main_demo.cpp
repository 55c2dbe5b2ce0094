// The service tool on the virtual instrument: COM1 is wired to it, and the window
// "Виртуальный прибор" beside the tool switches it on and off.

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/DemoSession.h"

int main(int argc, char **argv)
{
    if (const auto exitCode = answerCommandLine(
            argc, argv,
            QStringLiteral("ЛОРИТ-сервис (демонстрация): то же окно, что у lorit-service, с виртуальным "
                           "прибором ТАВЕЛОН на COM1 и окном \"Виртуальный прибор\" для его питания, "
                           "указки и измерений.")))
        return *exitCode;
    TApplication app(argc, argv);
    TDemoSession demo;
    demo.show();
    return TApplication::exec();
}
