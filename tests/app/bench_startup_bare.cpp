// The start-up benchmark's yardstick: a bare Qt window of the program's size, shown
// until its first paint.

#include "StartupStamps.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char **argv)
{
    printStartupStamp("main");
    QApplication app(argc, argv);
    printStartupStamp("application");
    QWidget window;
    window.resize(632, 412);
    TFirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    printStartupStamp("window");
    window.show();
    return QApplication::exec();
}
