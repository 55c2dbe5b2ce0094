#pragma once
// A fresh main window on a virtual instrument, with scripted dialogs and a temporary
// program folder: what every window test starts from.

#include "app/MainLoritS_TreeTS.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "support/ScriptedDialogs.h"

#include <QSet>
#include <QTemporaryDir>

#include <functional>
#include <memory>

/// What differs from the usual rig, said in one expression:
/// `TVirtualRig rig(TRigOptions().instrumentAt(1).switchedOff());`
struct TRigOptions
{
    QSet<int> ports{1};
    int instrumentPort = 1;
    QSet<int> failingPorts;
    int instrumentSpeed = 5;   ///< speed index the instrument starts at
    bool powered = true;
    QString programFolder;     ///< empty: a fresh temporary folder
    QString settingsFile;      ///< empty: a fresh file in the rig's folder, never the user's settings
    QString userGuide;         ///< empty: looked for beside the test program, where there is none

    TRigOptions instrumentAt(int speedIndex) const { return with(&TRigOptions::instrumentSpeed, speedIndex); }
    TRigOptions switchedOff() const { return with(&TRigOptions::powered, false); }
    /// The ports the system has, the instrument on `instrumentOn`.
    TRigOptions onPorts(const QSet<int> &existing, int instrumentOn = 1) const
    {
        return with(&TRigOptions::ports, existing).with(&TRigOptions::instrumentPort, instrumentOn);
    }
    TRigOptions failingToOpen(const QSet<int> &failing) const { return with(&TRigOptions::failingPorts, failing); }
    TRigOptions inFolder(const QString &folder) const { return with(&TRigOptions::programFolder, folder); }
    /// The settings another window left, as the next run finds them.
    TRigOptions withSettings(const QString &file) const { return with(&TRigOptions::settingsFile, file); }
    TRigOptions withUserGuide(const QString &file) const { return with(&TRigOptions::userGuide, file); }

private:
    template <typename T>
    TRigOptions with(T TRigOptions::*field, const T &value) const
    {
        TRigOptions changed = *this;
        changed.*field = value;
        return changed;
    }
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

    /// The rig's stand-in for the user's documents folder.
    QString documentsFolder() const { return folder.filePath(QStringLiteral("Documents")); }
    /// Waits until nothing travels on the line and the window has handled it all.
    bool waitLineIdle(int timeoutMs = 3000);
    /// Runs one tick of the contact search and lets its probe and answer travel.
    void tickSearch();
    /// Drives the contact search tick by tick until contact or `maxTicks`.
    bool searchUntilContact(int maxTicks = 30);
    /// Carries a requested speed change through: the search finds the instrument at its
    /// present speed and sends the speed command, and once the instrument has switched,
    /// the restart (without waiting out its pause) finds it at the new speed. Without a
    /// change to make, the first contact is the last. Returns whether contact stands.
    bool completeSpeedChange();
    /// Completes the speed request of a working page at 115200.
    bool reachTopSpeed();
    /// The instrument holds `text` as its protocol of results, and the results page's
    /// button fetches it.
    bool fetchProtocol(const QByteArray &text);
    /// Runs the event loop until `done`, calling `eachTurn` after every pass. Unlike
    /// QTest's waits it never sleeps, so the line keeps its pace.
    static bool waitUntil(const std::function<bool()> &done, int timeoutMs = 10000,
                   const std::function<void()> &eachTurn = {});
    /// What the program wrote on the line since the last call.
    QByteArray takeWritten();
};
