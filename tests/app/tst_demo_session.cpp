// The demo beside the real program: it keeps its own settings and its own folder, so the
// port the real program remembers and every file the real program keeps survive a demo,
// and its instrument's window goes with its own.

#include "analysis/page/AnalysisPage.h"
#include "app/DemoSession.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Settings.h"
#include "firmware/FirmwareImage.h"
#include "firmware/UnitSoftTav_TreeTS.h"
#include "link/LinkControl.h"
#include "sim/InstrumentWindow.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/FileBytes.h"
#include "support/ScriptedDialogs.h"
#include "testdb/BDTSDatabase.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QAction>
#include <QPushButton>
#include <QDirIterator>
#include <QMap>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

class TestDemoSession : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aDemoLeavesTheRealProgramsPortAndEndsWithItsWindow();
    void theDemoStartedBesideTheRealProgramLeavesItsFilesAsTheyWere();
    void theLayoutDialogOpensWhereTheDemosLayoutIs();
};

namespace {
/// Every file below `root` but those below the folders left out, by path relative to
/// `root`, with its bytes.
QMap<QString, QByteArray> filesBelow(const QString &root, const QStringList &leftOut)
{
    QMap<QString, QByteArray> files;
    const QDir base(root);
    QDirIterator it(root, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString relative = base.relativeFilePath(it.next());
        if (std::none_of(leftOut.cbegin(), leftOut.cend(), [&](const QString &folder) { return relative.startsWith(folder + QLatin1Char('/')); }))
            files.insert(relative, fileBytes(it.filePath()));
    }
    return files;
}
} // namespace

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
        // The port opens once the window is on the screen.
        QTRY_COMPARE(demo.window().line->OpenPortText(), QStringLiteral("COM1"));
        QVERIFY(demo.window().line->LinkPresent());
        QVERIFY(dialogs.errors.isEmpty()); // the sample files were written
        QCOMPARE(demo.window().windowTitle(), QStringLiteral("ЛОРИТ-сервис (демонстрация)"));
        // The demo offers its own image for its virtual instrument.
        demo.window().ActionSoftTavelonExecute();
        QCOMPARE(demo.window().frameSoftTav->firmwareFilePath,
                 options.programFolder + QStringLiteral("FilesInTavelon/Tavelon_2008.tsk"));
        QVERIFY(isDemoFirmwareImage(fileBytes(demo.window().frameSoftTav->firmwareFilePath)));
        // Its instrument's database reads whole, every test system once, and its list
        // goes into the demo's folder.
        demo.window().shell.ActionBDTS->trigger();
        QTest::mouseClick(demo.window().frameBDTS->btnReadBDTSFromTav, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(demo.window().bdtsDatabase->deviceListLoaded, 30000);
        QVERIFY(demo.window().statusText().startsWith(QStringLiteral("Принято из прибора страниц:")));
        QVERIFY2(!demo.window().statusText().contains(QStringLiteral("Пропущено")), qPrintable(demo.window().statusText()));
        QCOMPARE(demo.window().bdtsDatabase->deviceTSCount, 16);
        QVERIFY(QFileInfo(options.programFolder + QStringLiteral("SpisokTSinTav.txt")).size() > 0);

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

    // Its tables and workbooks stay in its folder too, never among the lab's documents.
    TWindowOptions apart = options;
    apart.documentsFolder.clear();
    TDemoSession alone(apart);
    QCOMPARE(QDir(alone.window().handOverFolder()), QDir(options.programFolder));
}

void TestDemoSession::theDemoStartedBesideTheRealProgramLeavesItsFilesAsTheyWere()
{
#ifdef Q_OS_WIN
    QSKIP("a copy of the program needs its DLLs: the installer's check starts the installed demo beside real files");
#endif
    // The real program run from its own folder (a stick), and its folder in the user's
    // data as an installed one has it: real files in both, with the sample files' names.
    // Beside the test, not in the system's temporary folder, which may forbid running
    // programs.
    QTemporaryDir root(QCoreApplication::applicationDirPath() + QStringLiteral("/demo-apart-XXXXXX"));
    QVERIFY(root.isValid());
    const QString stick = root.filePath(QStringLiteral("ЛОРИТ"));
    const QString data = root.filePath(QStringLiteral("data"));
    const QByteArray realImage = QByteArray(0x4000, '\x11') + QByteArrayLiteral("real control program 2008");
    const QMap<QString, QByteArray> real{
        {QStringLiteral("FilesInTavelon/Tavelon_2008.tsk"), realImage},
        {QStringLiteral("FilesInTavelon/Tavelon_BDTS.bdt"), QByteArrayLiteral("TavBDTS")},
        {QStringLiteral("FilesInTavelon/BDTS_new.bdt"), QByteArrayLiteral("TavBDTS\0\0\0")},
        {QStringLiteral("FilesInTavelon/ИФА-демо.json"), QByteArrayLiteral("{\"lab\": true}")},
        {QStringLiteral("MSTempProtokol.txt"), QByteArrayLiteral("protocol")},
        {QStringLiteral("SpisokTSinTav.txt"), QByteArrayLiteral("list")},
    };
    for (const QString &folder : {stick, data + QStringLiteral("/lorit-service")}) {
        for (auto file = real.cbegin(); file != real.cend(); ++file) {
            QVERIFY(QDir().mkpath(QFileInfo(folder + QLatin1Char('/') + file.key()).path()));
            QFile out(folder + QLatin1Char('/') + file.key());
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(file.value());
        }
    }
    const QString program = stick + QStringLiteral("/lorit-service-demo");
    QVERIFY(QFile::copy(QStringLiteral(LORIT_SERVICE_DEMO_PATH), program));
    const QMap<QString, QByteArray> before = filesBelow(root.path(), {});

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("HOME"), root.filePath(QStringLiteral("home")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), data);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), root.filePath(QStringLiteral("config")));
    QProcess demo;
    demo.setProcessEnvironment(environment);
    demo.setWorkingDirectory(stick);
    demo.start(program);
    QVERIFY2(demo.waitForStarted(), qPrintable(demo.errorString()));
    // Its samples are in its own folder, the layout written last.
    const QString own = stick + QStringLiteral("/demo/FilesInTavelon/");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(own + QStringLiteral("ИФА-демо.json")).size() > 0, 30000);
    QCOMPARE(demo.state(), QProcess::Running); // no error box on the way: it would not matter here
    demo.kill();
    QVERIFY(demo.waitForFinished());

    // Every real file, in both folders, byte for byte; nothing new outside the demo's
    // folder and the settings.
    const QMap<QString, QByteArray> after = filesBelow(root.path(), {QStringLiteral("ЛОРИТ/demo"), QStringLiteral("config")});
    QCOMPARE(after.keys(), before.keys());
    for (auto file = before.cbegin(); file != before.cend(); ++file)
        QVERIFY2(after.value(file.key()) == file.value(), qPrintable(file.key()));
    QVERIFY(isDemoFirmwareImage(fileBytes(own + QStringLiteral("Tavelon_2008.tsk"))));
    QVERIFY(fileBytes(own + QStringLiteral("Tavelon_BDTS.bdt")).startsWith("TavBDTS"));
    QVERIFY(QFileInfo(own + QStringLiteral("BDTS_new.bdt")).size() > 0);

    // The real program from its folder offers its own image, not the demo's.
    TScriptedDialogs dialogs;
    TWindowOptions options;
    options.programFolder = stick;
    options.dialogs = &dialogs;
    options.documentsFolder = root.filePath(QStringLiteral("home/Documents"));
    options.settingsFile = root.filePath(QStringLiteral("real.conf"));
    TVirtualInstrument instrument;
    TFormMainLoritS_D7 window(new TVirtualBackend(&instrument), options);
    window.ActionSoftTavelonExecute();
    QCOMPARE(window.frameSoftTav->firmwareFilePath, stick + QStringLiteral("/FilesInTavelon/Tavelon_2008.tsk"));
}

void TestDemoSession::theLayoutDialogOpensWhereTheDemosLayoutIs()
{
    // The demo's folder is a hidden one in the user's data, which no dialog shows by
    // itself: the layout dialog starts where the demo's layout is, and the layout opens.
    QTemporaryDir work;
    TScriptedDialogs dialogs;
    TWindowOptions options;
    options.programFolder = work.filePath(QStringLiteral(".local/share/lorit-service-demo")) + QLatin1Char('/');
    options.dialogs = &dialogs;
    options.settingsFile = work.filePath(QStringLiteral("demo.conf"));
    TDemoSession demo(options);
    demo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&demo.window()));
    demo.window().shell.ActionAnalysis->trigger();
    TAnalysisPage &page = *demo.window().analysisPage;
    const QString layouts = options.programFolder + QStringLiteral("FilesInTavelon");
    QVERIFY(QFileInfo::exists(layouts + QStringLiteral("/ИФА-демо.json")));
    dialogs.answerFile(layouts + QStringLiteral("/ИФА-демо.json"));
    page.actOpenLayout->trigger();
    QCOMPARE(QDir(dialogs.shown.last().initialDir), QDir(layouts));
    QVERIFY2(dialogs.errors.isEmpty(), qPrintable(dialogs.errors.join('\n')));
    QCOMPARE(page.cbTestSystem->currentText(), QStringLiteral("ИФА-демо"));
    // Once used, the dialog starts where it was left, as every other one does.
    const QString elsewhere = work.filePath(QStringLiteral("Раскладки"));
    QVERIFY(QDir().mkpath(elsewhere));
    dialogs.answerFile(elsewhere + QStringLiteral("/моя.json"));
    page.actSaveLayout->trigger();
    QVERIFY(QFileInfo::exists(elsewhere + QStringLiteral("/моя.json")));
    TDemoSession next(options);
    next.window().shell.ActionAnalysis->trigger();
    dialogs.answerFile(elsewhere + QStringLiteral("/моя.json"));
    next.window().analysisPage->actOpenLayout->trigger();
    QCOMPARE(QDir(dialogs.shown.last().initialDir), QDir(elsewhere));
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
