#pragma once
// The demo: the service tool's window with COM1 wired to a virtual instrument, and the
// window "Виртуальный прибор" beside it. The demo keeps its own settings and its own
// folder, so that trying it never changes what the real program remembers (its port
// above all) nor any file the real program uses or offers; its instrument's window
// goes when the tool's window is closed.

#include "app/WindowOptions.h"

#include <QObject>

#include <memory>

class TFormMainLoritS_D7;
class TInstrumentWindow;
class TVirtualInstrument;

/// The demo's settings file, beside the real program's and never the same.
QString demoSettingsFile();

class TDemoSession : public QObject
{
    Q_OBJECT
public:
    /// `options.settingsFile` empty: the demo's own (demoSettingsFile()); `programFolder`
    /// empty: the demo's own (chooseDemoFolder()); `documentsFolder` empty: the same.
    explicit TDemoSession(TWindowOptions options = {});
    ~TDemoSession() override;

    /// Shows the tool's window, and the instrument's to its right.
    void show();

    TFormMainLoritS_D7 &window() const { return *m_window; }
    TInstrumentWindow &instrumentWindow() const { return *m_instrumentWindow; }
    TVirtualInstrument &instrument() const { return *m_instrument; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    std::unique_ptr<TVirtualInstrument> m_instrument;
    std::unique_ptr<TFormMainLoritS_D7> m_window;
    std::unique_ptr<TInstrumentWindow> m_instrumentWindow;
};
