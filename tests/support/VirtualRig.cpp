#include "link/Line.h"
#include "link/ContactSearch.h"
#include "measure/ProtocolExchange.h"
#include "measure/ResultPage.h"
#include "sim/commands/MeasureCommands.h"
#include "support/VirtualRig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTest>
#include <QTimer>

TVirtualRig::TVirtualRig(const TRigOptions &options)
{
    instrument.setSpeedIndex(options.instrumentSpeed);
    instrument.setPowered(options.powered);
    backend = new TVirtualBackend(&instrument);
    backend->setPorts(options.ports, options.instrumentPort);
    backend->setFailingPorts(options.failingPorts);
    TWindowOptions windowOptions;
    windowOptions.programFolder =
        (options.programFolder.isEmpty() ? folder.path() : options.programFolder) + QLatin1Char('/');
    windowOptions.dialogs = &dialogs;
    // The user's documents, where hand-over copies go: inside the rig, never the real ones.
    windowOptions.documentsFolder = documentsFolder();
    windowOptions.settingsFile =
        options.settingsFile.isEmpty() ? folder.filePath(QStringLiteral("settings.ini")) : options.settingsFile;
    windowOptions.userGuide = options.userGuide;
    window = std::make_unique<TFormMainLoritS_D7>(backend, windowOptions);
    // The window lists its ports once the event loop runs, as the program's does after
    // its first paint.
    waitUntil([this] { return window->StartCompleted(); });
}

TVirtualRig::~TVirtualRig()
{
    window.reset();
}

bool TVirtualRig::waitLineIdle(int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (backend->lineIdle()) {
            QCoreApplication::processEvents();
            if (backend->lineIdle())
                return true;
        }
    }
    return false;
}

void TVirtualRig::tickSearch()
{
    window->line->search->DefSetComm_TimerTimer();
    waitLineIdle();
}

bool TVirtualRig::searchUntilContact(int maxTicks)
{
    // The test drives the search timer itself.
    window->line->search->DefSetComm_Timer->stop();
    for (int i = 0; i < maxTicks && !window->line->search->contactEstablished(); ++i)
        tickSearch();
    return window->line->search->contactEstablished();
}

bool TVirtualRig::completeSpeedChange()
{
    TLine &line = *window->line;
    searchUntilContact();
    waitLineIdle(); // the speed command reaches the instrument, which switches
    if (line.search->SendCommand_Timer->isActive()) {
        line.search->SendCommand_Timer->stop();
        line.search->SendCommand_TimerTimer();
    }
    searchUntilContact();
    waitLineIdle();
    return line.search->contactEstablished();
}

bool TVirtualRig::reachTopSpeed()
{
    return completeSpeedChange() && window->line->search->baudIndex() == TLine::topSpeedIndex;
}

bool TVirtualRig::fetchProtocol(const QByteArray &text)
{
    measurementsOf(instrument)->setProtocolText(text);
    QTest::mouseClick(window->resultPage->btnReadProtokol, Qt::LeftButton);
    const bool taken = waitLineIdle(10000) && waitUntil([this] { return !window->resultPage->exchange().running(); });
    // An error box of its files opens once the line's handler is over.
    QCoreApplication::processEvents();
    return taken;
}

bool TVirtualRig::waitUntil(const std::function<bool()> &done, int timeoutMs, const std::function<void()> &eachTurn)
{
    QDeadlineTimer deadline(timeoutMs);
    QTimer tick; // the loop wakes up at least this often
    tick.start(2);
    QEventLoop loop;
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        loop.processEvents(QEventLoop::WaitForMoreEvents);
        if (eachTurn)
            eachTurn();
    }
    return true;
}

QByteArray TVirtualRig::takeWritten()
{
    const QByteArray written = backend->written();
    backend->clearWritten();
    return written;
}
