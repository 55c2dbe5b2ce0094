// Start-up: the time from starting the process to the first paint of its window, for a
// bare Qt window (empty, and with one line of text, which loads the fonts every window
// of the program needs) and for the program as lorit-service starts (median of several runs
// each, taken in turns after one run of each to warm the caches), and where the
// program's time goes:
//   first shown window: bare Qt 9.5 ms, with one line of text 16.1 ms, lorit-service 27.1 ms (2.85 x bare, …)
//     lorit-service: to main 9.8 ms, application 1.4 ms, serial backend 0.0 ms,
//                    window built (the shell; pages and ports come after the paint) 12.3 ms, …
// Most of the window's time is the fonts (the line of text pays them too) and its shell's
// widgets; the pages and the serial ports come right after the first paint.
// The children run where there is no display on Qt's offscreen platform, with settings
// and working folders of their own: the user's are never read nor written.

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr int runs = 15; ///< measured runs of each child, after one that warms the caches

using TStamps = std::map<std::string, double>; ///< moment → ms after the child was started

/// Starts the child and reads its moments; empty when it did not come to a paint.
TStamps runChild(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    QProcess child;
    child.setProcessEnvironment(environment);
    const auto started = std::chrono::steady_clock::now().time_since_epoch();
    child.start(program, arguments);
    if (!child.waitForFinished(60000) || child.exitCode() != 0)
        return {};
    TStamps stamps;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> fields = line.trimmed().split(' ');
        if (fields.size() == 2)
            stamps[fields[0].toStdString()] =
                double(fields[1].toLongLong() - std::chrono::duration_cast<std::chrono::nanoseconds>(started).count()) / 1e6;
    }
    return stamps.count("painted") ? stamps : TStamps{};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QDir here(QCoreApplication::applicationDirPath());
    const QString bare = here.filePath(QStringLiteral("bench_startup_bare"));
    const QString program = here.filePath(QStringLiteral("bench_startup_program"));

    QTemporaryDir own;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!environment.contains(QStringLiteral("QT_QPA_PLATFORM")) && !environment.contains(QStringLiteral("DISPLAY"))
        && !environment.contains(QStringLiteral("WAYLAND_DISPLAY")))
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), own.filePath(QStringLiteral("config")));
    environment.insert(QStringLiteral("XDG_DATA_HOME"), own.filePath(QStringLiteral("data")));

    struct TChild
    {
        QString path;
        QStringList arguments;
        std::map<std::string, std::vector<double>> times;
    };
    TChild children[] = {{bare, {}, {}}, {bare, {QStringLiteral("--text")}, {}}, {program, {}, {}}};
    auto &bareTimes = children[0].times;
    auto &textTimes = children[1].times;
    auto &programTimes = children[2].times;
    for (int run = 0; run <= runs; ++run) {
        for (TChild &child : children) {
            const TStamps stamps = runChild(child.path, child.arguments, environment);
            if (stamps.empty()) {
                std::fprintf(stderr, "%s did not show its window\n", qPrintable(child.path));
                return 1;
            }
            if (run == 0)
                continue;
            for (const auto &[moment, ms] : stamps)
                child.times[moment].push_back(ms);
        }
    }
    const double bareMs = median(bareTimes["painted"]);
    const double programMs = median(programTimes["painted"]);
    const double textMs = median(textTimes["painted"]);
    std::printf("first shown window: bare Qt %.1f ms, with one line of text %.1f ms, lorit-service %.1f ms "
                "(%.2f x bare, %.2f x with text)\n",
                bareMs, textMs, programMs, programMs / bareMs, programMs / textMs);
    const double toMain = median(programTimes["main"]);
    const double application = median(programTimes["application"]);
    const double backend = median(programTimes["backend"]);
    const double constructed = median(programTimes["constructed"]);
    const double window = median(programTimes["window"]);
    std::printf("  lorit-service: to main %.1f ms, application %.1f ms, serial backend %.1f ms,\n"
                "                 window built (the shell; pages and ports come after the paint) %.1f ms,\n"
                "                 code page check %.1f ms, show and first paint %.1f ms\n",
                toMain, application - toMain, backend - application, constructed - backend, window - constructed,
                programMs - window);
    std::printf("  bare Qt:       to main %.1f ms, application %.1f ms, window %.1f ms, show and first paint %.1f ms\n",
                median(bareTimes["main"]), median(bareTimes["application"]) - median(bareTimes["main"]),
                median(bareTimes["window"]) - median(bareTimes["application"]),
                bareMs - median(bareTimes["window"]));
    return 0;
}
