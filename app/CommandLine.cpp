#include "app/CommandLine.h"

#include "app/Terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QStringList>
#include <QTranslator>

namespace {
void describe(QCommandLineParser &parser, const QString &description)
{
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
}
} // namespace

QString programVersion()
{
    return QStringLiteral(LORIT_VERSION);
}

std::optional<int> answerCommandLine(int &argc, char **argv, const QString &description)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser probe;
    describe(probe, description);
    // An option the parser does not know is no error here: it may be Qt's own.
    probe.parse(arguments);
    const bool help = probe.isSet(QStringLiteral("help")) || probe.isSet(QStringLiteral("help-all"));
    if (!help && !probe.isSet(QStringLiteral("version")))
        return std::nullopt;

    // The parser's texts need an application object; a console one needs no display.
    QCoreApplication console(argc, argv);
    QCoreApplication::setApplicationName(QFileInfo(QCoreApplication::applicationFilePath()).fileName());
    QCoreApplication::setApplicationVersion(programVersion());
    // Like the window, the answer is Russian where the system has Qt's translation.
    QTranslator qtRussian;
    if (qtRussian.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&qtRussian);
    QCommandLineParser parser;
    describe(parser, description);
    parser.parse(QCoreApplication::arguments());
    // Written here rather than by the parser, which would write the system's 8-bit
    // code page on Windows and garble the Russian help.
    writeToTerminal(help ? parser.helpText()
                         : QCoreApplication::applicationName() + QLatin1Char(' ')
                               + QCoreApplication::applicationVersion() + QLatin1Char('\n'));
    return 0;
}
