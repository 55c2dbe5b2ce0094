// The service tool on the computer's serial ports.

#include "app/MainLoritS_TreeTS.h"
#include "link/QtSerialBackend.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("ЛОРИТ-сервис 2008_06_06"));
    TFormMainLoritS_D7 window(new TQtSerialBackend);
    window.show();
    return QApplication::exec();
}
