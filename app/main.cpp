// The service tool on the computer's serial ports.

#include "app/Application.h"
#include "app/CommandLine.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Cp1251.h"
#include "link/QtSerialBackend.h"

int main(int argc, char **argv)
{
    if (const auto exitCode = answerCommandLine(
            argc, argv,
            QStringLiteral("ЛОРИТ-сервис: сервисная программа фотометра ТАВЕЛОН. Читает таблицу оптических "
                           "плотностей и протокол результатов, сравнивает и записывает базу тест-систем, "
                           "перепрограммирует прибор через последовательный порт.")))
        return *exitCode;
    TApplication app(argc, argv);
    TFormMainLoritS_D7 window(new TQtSerialBackend);
    if (const QString problem = cp1251Problem(); !problem.isEmpty())
        window.ReportError(problem);
    window.show();
    return TApplication::exec();
}
