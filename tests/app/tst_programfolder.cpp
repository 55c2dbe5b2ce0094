// The choice of the folder for the working files. An unwritable folder is made by
// putting it under a regular file: nobody, root included, can create anything there,
// while root writes happily into a folder without write permission.

#include "app/ProgramFolder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

class TestProgramFolder : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void aWritableExecutableFolderIsKeptAndLeftAsItWas();
    void aReadOnlyExecutableFolderSendsTheFilesToTheUsersFolder();
    void withNoFolderToWriteTheProgramStillStartsAndSaysWhy();
    void theDemosFolderIsNeverTheRealPrograms();

private:
    QTemporaryDir root;
    /// A folder below a regular file: it can neither exist nor be created.
    QString impossibleFolder(const QString &name)
    {
        QFile blocker(root.filePath(QStringLiteral("blocker")));
        if (!blocker.exists()) {
            blocker.open(QIODevice::WriteOnly);
            blocker.close();
        }
        return blocker.fileName() + QLatin1Char('/') + name;
    }
};

void TestProgramFolder::aWritableExecutableFolderIsKeptAndLeftAsItWas()
{
    const QString executable = root.filePath(QStringLiteral("stick/bin"));
    QVERIFY(QDir().mkpath(executable));
    const QString user = root.filePath(QStringLiteral("home/.local/share/lorit-service"));

    const TProgramFolder chosen = chooseProgramFolder(executable, user);
    QCOMPARE(chosen.folder, executable + QLatin1Char('/'));
    QVERIFY(chosen.problem.isEmpty());
    // The probe file is gone, and the user's folder is not made for nothing.
    QCOMPARE(QDir(executable).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList());
    QVERIFY(!QFileInfo::exists(user));
    // A folder given with its separator keeps a single one.
    QCOMPARE(chooseProgramFolder(executable + QLatin1Char('/'), user).folder, executable + QLatin1Char('/'));
}

void TestProgramFolder::aReadOnlyExecutableFolderSendsTheFilesToTheUsersFolder()
{
    const QString executable = impossibleFolder(QStringLiteral("usr/bin"));
    QVERIFY(!folderIsWritable(executable));
    const QString user = root.filePath(QStringLiteral("home/.local/share/lorit-service"));

    const TProgramFolder first = chooseProgramFolder(executable, user);
    QCOMPARE(first.folder, user + QLatin1Char('/'));
    QVERIFY(first.problem.isEmpty());
    QVERIFY(QFileInfo(user + QStringLiteral("/FilesInTavelon")).isDir());
    QVERIFY(folderIsWritable(first.folder));

    // The next start finds the folder with the files of the last run and keeps them.
    QFile kept(user + QStringLiteral("/MSTempProtokol.txt"));
    QVERIFY(kept.open(QIODevice::WriteOnly));
    kept.write("protocol");
    kept.close();
    const TProgramFolder second = chooseProgramFolder(executable, user);
    QCOMPARE(second.folder, first.folder);
    QVERIFY(second.problem.isEmpty());
    QCOMPARE(QFileInfo(kept.fileName()).size(), qint64(8));
}

void TestProgramFolder::withNoFolderToWriteTheProgramStillStartsAndSaysWhy()
{
    const QString executable = impossibleFolder(QStringLiteral("usr/bin"));
    const QString user = impossibleFolder(QStringLiteral("home/.local/share/lorit-service"));

    const TProgramFolder chosen = chooseProgramFolder(executable, user);
    QCOMPARE(chosen.folder, executable + QLatin1Char('/'));
    QVERIFY(chosen.problem.startsWith(QStringLiteral("Не удалось создать папку для рабочих файлов")));
    QVERIFY(chosen.problem.contains(QDir::toNativeSeparators(user)));

    // No user folder known at all (no home): the same, not a folder at the root.
    const TProgramFolder homeless = chooseProgramFolder(executable, QString());
    QCOMPARE(homeless.folder, executable + QLatin1Char('/'));
    QVERIFY(!homeless.problem.isEmpty());
}

void TestProgramFolder::theDemosFolderIsNeverTheRealPrograms()
{
    // Run from its own folder: "demo" beside the program, and the real program's
    // FilesInTavelon is not made for it.
    const QString stick = root.filePath(QStringLiteral("stick"));
    QVERIFY(QDir().mkpath(stick));
    const QString user = root.filePath(QStringLiteral("demo-home/.local/share/lorit-service"));
    const TProgramFolder beside = chooseDemoFolder(stick, user);
    QCOMPARE(beside.folder, stick + QStringLiteral("/demo/"));
    QVERIFY(beside.problem.isEmpty());
    QVERIFY(QFileInfo(beside.folder + QStringLiteral("FilesInTavelon")).isDir());
    QVERIFY(!QFileInfo::exists(stick + QStringLiteral("/FilesInTavelon")));
    QVERIFY(!QFileInfo::exists(user));

    // Installed: a folder beside the real program's in the user's data, not inside it.
    const QString system = impossibleFolder(QStringLiteral("usr/bin"));
    const TProgramFolder installed = chooseDemoFolder(system, user + QLatin1Char('/'));
    QCOMPARE(installed.folder, user + QStringLiteral("-demo/"));
    QVERIFY(installed.problem.isEmpty());
    QVERIFY(QFileInfo(installed.folder + QStringLiteral("FilesInTavelon")).isDir());
    QVERIFY(!QFileInfo::exists(user));

    // Nowhere to write: the problem names the demo's folder, and the folder given is
    // still the demo's, never the executable's, where the real program's files are.
    const QString nowhere = impossibleFolder(QStringLiteral("demo-home/.local/share/lorit-service"));
    const TProgramFolder none = chooseDemoFolder(system, nowhere);
    QCOMPARE(none.folder, nowhere + QStringLiteral("-demo/"));
    QVERIFY(none.problem.contains(QDir::toNativeSeparators(nowhere + QStringLiteral("-demo/"))));
}

QTEST_GUILESS_MAIN(TestProgramFolder)
#include "tst_programfolder.moc"
