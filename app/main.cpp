// The service tool on the computer's serial ports.

#include "app/Application.h"
#include "app/MainLoritS_TreeTS.h"
#include "link/QtSerialBackend.h"

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TFormMainLoritS_D7 window(new TQtSerialBackend);
    window.show();
    return TApplication::exec();
}
