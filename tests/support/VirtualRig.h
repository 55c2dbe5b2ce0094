#pragma once
// A fresh main window on a virtual instrument, with scripted dialogs and a temporary
// program folder: what every window test starts from.

#include "app/MainLoritS_TreeTS.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/ScriptedDialogs.h"

#include <QSet>
#include <QTemporaryDir>

#include <memory>

struct TRigOptions
{
    QSet<int> ports{1};
    int instrumentPort = 1;
    QSet<int> failingPorts;
    int instrumentSpeed = 5;   ///< speed index the instrument starts at
    bool powered = true;
    QString programFolder;     ///< empty: a fresh temporary folder
};

class TVirtualRig
{
public:
    explicit TVirtualRig(const TRigOptions &options = {});
    ~TVirtualRig();

    TVirtualInstrument instrument;
    TVirtualBackend *backend = nullptr; ///< owned by the window's serial control
    TScriptedDialogs dialogs;
    QTemporaryDir folder;
    std::unique_ptr<TFormMainLoritS_D7> window;

    /// Waits until nothing travels on the line and the window has handled it all.
    bool waitLineIdle(int timeoutMs = 3000);
    /// Runs one tick of the contact search and lets its probe and answer travel.
    void tickSearch();
    /// Drives the contact search tick by tick until contact or `maxTicks`.
    bool searchUntilContact(int maxTicks = 30);
    /// Completes the speed request of a working page: the search at 4800, the speed
    /// command, and the search that finds the instrument at 115200.
    bool reachTopSpeed();
    /// What the program wrote on the line since the last call.
    QByteArray takeWritten();
};
