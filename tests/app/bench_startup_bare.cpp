// The start-up benchmark's yardstick: a bare Qt window of the program's size, shown
// until its first paint; with "--text", one line of text in it, which loads the fonts.

#include "StartupStamps.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

int main(int argc, char **argv)
{
    printStartupStamp("main");
    QApplication app(argc, argv);
    printStartupStamp("application");
    QWidget window;
    window.resize(632, 412);
    if (app.arguments().contains(QStringLiteral("--text")))
        new QLabel(QStringLiteral("Порт связи:"), &window);
    TFirstPaint firstPaint;
    app.installEventFilter(&firstPaint);
    printStartupStamp("window");
    window.show();
    return QApplication::exec();
}
