#pragma once
// The shell's widgets: menus, group bar, start page, page control and status bar, as
// FormMainLayout.cpp lays them out. The window keeps them in one place, apart from the
// rooms it composes.

#include <QPointer>

class QAction;
class QFrame;
class QLabel;
class QMenuBar;
class QProgressBar;
class QSplitter;
class QStatusBar;
class QTabWidget;
class QWidget;
class TDesktopKeys;
class TLinkControl;
class TLinkLabel;
class TShadowPanel;
class TStatusPane;
class TTrafficLogWindow;

struct TMainShell
{
    QMenuBar *ActionMainMenuBar1 = nullptr;
    QAction *Action1 = nullptr, *ActionExit = nullptr, *ActionSoftTavelon = nullptr,
            *ActionBDTS = nullptr, *ActionTav2006 = nullptr, *ActionFile = nullptr,
            *ActionTrafficLog = nullptr, ///< "Журнал обмена": every byte on the line, for service work
            *ActionAnalysis = nullptr,   ///< "Анализ планшета"
            *ActionArchive = nullptr,    ///< "Архив": the runs kept
            *ActionControls = nullptr;   ///< "Контроли": the controls across runs
    QPointer<TTrafficLogWindow> trafficLog; ///< made when first asked for
    QWidget *RzGroupBar1 = nullptr;
    QSplitter *SCSplitter1 = nullptr;
    QTabWidget *RzPageControl1 = nullptr;
    QWidget *TabSheet1 = nullptr, *TabShSoftTav = nullptr, *TabShBDTS = nullptr,
            *TabShReader = nullptr, *TabShResult = nullptr,
            *TabShAnalysis = nullptr, *TabShArchive = nullptr,
            *TabShControls = nullptr; ///< each page fills its tab when it is made
    TShadowPanel *RzPanel2 = nullptr;
    QFrame *RzPanel3 = nullptr, *RzPanel4 = nullptr, *RzPanel5 = nullptr;
    TLinkLabel *lbLoadPOInTav = nullptr, *lbLoadBDTS = nullptr, *lbReader = nullptr,
               *lbProtokol = nullptr;
    TDesktopKeys *desktopKeys = nullptr; ///< F5, Ctrl+S and F1
    TLinkControl *portGroup = nullptr; ///< the line's port group under the pages
    QStatusBar *RzStatusBar1 = nullptr;
    TStatusPane *RzStatusPane1 = nullptr; ///< every message whole, and the last ones kept
    QProgressBar *RzProgressBar1 = nullptr;
    QLabel *RzClockStatus1 = nullptr;
};
