#include "link/LinkControl.h"
#include "support/VirtualRig.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
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
    window = std::make_unique<TFormMainLoritS_D7>(backend, windowOptions);
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
    window->link->DefSetComm_TimerTimer();
    waitLineIdle();
}

bool TVirtualRig::searchUntilContact(int maxTicks)
{
    // The test drives the search timer itself.
    window->link->DefSetComm_Timer->stop();
    for (int i = 0; i < maxTicks && !window->link->contactEstablished; ++i)
        tickSearch();
    return window->link->contactEstablished;
}

bool TVirtualRig::reachTopSpeed()
{
    searchUntilContact();
    waitLineIdle();
    if (window->link->SendCommand_Timer->isActive()) {
        window->link->SendCommand_Timer->stop();
        window->link->SendCommand_TimerTimer();
        searchUntilContact();
        waitLineIdle();
    }
    return window->link->contactEstablished && window->link->baudIndex == 5;
}

QByteArray TVirtualRig::takeWritten()
{
    const QByteArray written = backend->written();
    backend->clearWritten();
    return written;
}
