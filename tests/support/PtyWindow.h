#pragma once
// The whole program on the real serial backend: the window opens one end of a
// pseudo-terminal and the virtual instrument sits on the other, with scripted dialogs
// and a temporary program folder. The far end keeps the pace of the line the program
// set, so the kernel's send queue fills as on a real port, and the instrument's power is
// its clear-to-send line. Unix only.

#include "app/MainLoritS_TreeTS.h"
#include "link/QtSerialBackend.h"
#include "sim/PtyInstrumentLink.h"
#include "sim/VirtualInstrument.h"
#include "support/ScriptedDialogs.h"

#include <QTemporaryDir>
#include <QTest>

#include <memory>

struct TPtyWindow
{
    explicit TPtyWindow(TVirtualInstrument *instrument) : link(instrument)
    {
        TWindowOptions options;
        options.dialogs = &dialogs;
        options.programFolder = folder.path() + QLatin1Char('/');
        options.documentsFolder = folder.filePath(QStringLiteral("Documents"));
        options.settingsFile = folder.filePath(QStringLiteral("settings.ini"));
        auto *backend = new TQtSerialBackend(QStringList{link.slavePath()});
        // A pseudo-terminal counts no queue and has no modem lines: the far end tells
        // what a UART's driver and the instrument's power would.
        backend->setLineQueries({[this] { return link.queuedTowardsInstrument(); },
                                 [instrument] { return !instrument || instrument->clearToSend(); }});
        window = std::make_unique<TFormMainLoritS_D7>(backend, options);
        // The window opens the pseudo-terminal once the event loop runs.
        if (!QTest::qWaitFor([this] { return window->StartCompleted(); }))
            qWarning("The window did not complete its start.");
    }

    TPtyInstrumentLink link;
    TScriptedDialogs dialogs;
    QTemporaryDir folder;
    std::unique_ptr<TFormMainLoritS_D7> window; ///< goes first, while the line still exists
};
