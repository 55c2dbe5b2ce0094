// A writer that the archive test kills: it stores analysed runs one after another into
// the archive named on its command line, says "written <n>" after each, and never ends
// by itself.

#include "archive/RunArchive.h"

#include <QCoreApplication>
#include <QTextStream>

using namespace archive;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The path may hold any letters: on Windows only the wide command line keeps them.
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2)
        return 2;
    TRunArchive runs(arguments.at(1));
    if (!runs.open()) {
        QTextStream(stderr) << runs.error() << Qt::endl;
        return 1;
    }
    QTextStream out(stdout);
    for (int n = 1;; ++n) {
        TRunOrigin origin;
        origin.time = QDateTime::currentDateTime();
        origin.instrumentFile = QStringLiteral("writer_%1.xls").arg(n);
        origin.raw = QByteArray(873, char('0' + n % 10));
        const TWriteResult added = runs.addRun(origin);
        if (!added.ok())
            return 1;
        // Every analysis has 40 samples and two controls: the test counts them.
        TAnalysisRecord analysis;
        analysis.testSystem = QStringLiteral("ИФА-тест");
        analysis.valid = n % 2 == 0;
        for (int s = 0; s < 40; ++s)
            analysis.results.push_back({QStringLiteral("S%1-%2").arg(n).arg(s), QStringLiteral("sample"), 0.1 * s, std::nullopt,
                                        {}, verdict::negative});
        analysis.controls = {{QStringLiteral("K-"), 0.05}, {QStringLiteral("K+"), 1.5}};
        analysis.reportHtml = QString(2000, QLatin1Char('x'));
        if (!runs.storeAnalysis(added.id, analysis).ok())
            return 1;
        out << "written " << n << Qt::endl;
    }
}
