// "--help" and "--version" of both programs, answered without a display, and the
// window icon the application gives every window.

#include "app/Application.h"

#include <QFileInfo>
#include <QIcon>
#include <QProcess>
#include <QProcessEnvironment>
#include <QWidget>

#include <QTest>

class TestCommandLine : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void bothProgramsAnswerHelpAndVersionWithoutADisplay();
    void everyWindowGetsTheProgramsIcon();
};

void TestCommandLine::bothProgramsAnswerHelpAndVersionWithoutADisplay()
{
    // No display and Qt's own default platform: a window application would abort.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *variable : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        environment.remove(QString::fromLatin1(variable));
    const QStringList programs{QStringLiteral(LORIT_SERVICE_PATH), QStringLiteral(LORIT_SERVICE_DEMO_PATH)};
    for (const QString &program : programs) {
        const QString name = QFileInfo(program).fileName();
        for (const QString &option : {QStringLiteral("--help"), QStringLiteral("-h"), QStringLiteral("--version")}) {
            QProcess run;
            run.setProcessEnvironment(environment);
            run.start(program, {option});
            QVERIFY(run.waitForFinished(30000));
            // UTF-8 whatever the system's code page, in lines of the system's kind.
            const QString out = QString::fromUtf8(run.readAllStandardOutput()).replace(QLatin1String("\r\n"), QLatin1String("\n"));
            QVERIFY2(run.exitStatus() == QProcess::NormalExit && run.exitCode() == 0,
                     qPrintable(name + QLatin1Char(' ') + option + QLatin1String(": ") + run.readAllStandardError()));
            if (option == QLatin1String("--version")) {
                QCOMPARE(out, name + QStringLiteral(" 2008.6.6\n"));
            } else {
                QVERIFY2(out.contains(QStringLiteral("ЛОРИТ-сервис")) && out.contains(QLatin1String("--version"))
                             && out.contains(QLatin1String("--help")),
                         qPrintable(out));
            }
        }
    }
}

void TestCommandLine::everyWindowGetsTheProgramsIcon()
{
    // The icon comes once the first window is on the screen, and every window has it.
    QWidget first;
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    QTRY_VERIFY(!QApplication::windowIcon().isNull());
    QWidget later;
    const QIcon icon = later.windowIcon();
    QVERIFY(!icon.isNull());
    // Drawn from the picture, not an empty stand-in: the SVG plugin is there.
    const QImage image = icon.pixmap(64, 64).toImage();
    QVERIFY(!image.isNull());
    int coloured = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            coloured += qAlpha(image.pixel(x, y)) > 0;
    QVERIFY(coloured > 64 * 64 / 8);
}

int main(int argc, char **argv)
{
    TApplication app(argc, argv);
    TestCommandLine test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_commandline.moc"
