// The demo beside the real program: it keeps its own settings, so the port the real
// program remembers survives a demo, and its instrument's window goes with its own.

#include "app/DemoSession.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Settings.h"
#include "link/LinkControl.h"
#include "sim/InstrumentWindow.h"
#include "support/ScriptedDialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

class TestDemoSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aDemoLeavesTheRealProgramsPortAndEndsWithItsWindow();
};

void TestDemoSession::aDemoLeavesTheRealProgramsPortAndEndsWithItsWindow()
{
#ifdef Q_OS_WIN
    QSKIP("the real program's settings are the user's registry here: not touched by a test");
#endif
    // The real program remembers an adapter by its lasting name.
    const QString adapter = QStringLiteral("/dev/serial/by-id/usb-FTDI_adapter-if00-port0");
    TSettings().setLastPort(adapter);
    QTemporaryDir work;
    TScriptedDialogs dialogs;
    TWindowOptions options;
    options.programFolder = work.path() + QLatin1Char('/');
    options.dialogs = &dialogs;
    options.documentsFolder = work.filePath(QStringLiteral("Documents"));
    {
        TDemoSession demo(options);
        demo.show();
        QVERIFY(QTest::qWaitForWindowExposed(&demo.instrumentWindow()));
        QCOMPARE(demo.window().line->OpenPortText(), QStringLiteral("COM1"));
        QVERIFY(demo.window().line->LinkPresent());
        QVERIFY(dialogs.errors.isEmpty()); // the sample files were written

        // Closing the tool's window closes the instrument's: nothing is left running.
        QVERIFY(demo.window().close());
        QVERIFY(QTest::qWaitFor([&] { return !demo.instrumentWindow().isVisible(); }, 2000));
    }
    QCOMPARE(TSettings().lastPort(), adapter);
    QCOMPARE(QSettings(demoSettingsFile(), QSettings::IniFormat).value(QStringLiteral("link/port")).toString(),
             QStringLiteral("COM1"));

    // The next demo starts from what the last demo left, its own window size included.
    {
        TDemoSession demo(options);
        demo.window().resize(700, 480);
        demo.show();
        demo.instrumentWindow().close(); // alone, it ends nothing
        QVERIFY(demo.window().isVisible());
        demo.window().close();
    }
    TDemoSession again(options);
    QCOMPARE(again.window().size(), QSize(700, 480));
    QCOMPARE(TSettings().lastPort(), adapter);
}

int main(int argc, char **argv)
{
    // The user's settings of this run live in a folder of the test's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toUtf8());
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lorit-service"));
    TestDemoSession test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_demo_session.moc"
