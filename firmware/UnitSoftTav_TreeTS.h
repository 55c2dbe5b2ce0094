#pragma once
// The firmware frame of the page "ПО прибора": created on the first visit of its page.
// It chooses the image file, starts and paces the upload, and shows the three steps of
// reprogramming with pictures of the instrument's loader screen. The procedure lives in
// TProgSteps; the frame shows it and connects it to the link.

#include "common/Dialogs.h"
#include "common/WorkPage.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QSplitter;
class QTabWidget;
class TArrowLine;
class TLine;
class TLoaderScreen;
class TPageHost;
class TProgSteps;

class TFrameSoftTav : public QWidget, public TWorkPage
{
    Q_OBJECT
public:
    TFrameSoftTav(TPageHost &host, TLine &link, QWidget *parent = nullptr);
    ~TFrameSoftTav() override;

    QString firmwareFilePath;
    /// The reprogramming procedure: its state, the image it sends and its timers.
    TProgSteps *progSteps = nullptr;

    // Owned through the Qt parent chain.
    QLabel *RzLabel1 = nullptr;
    QTabWidget *RzPageControl2 = nullptr;
    QWidget *TabSheet5 = nullptr, *TabSheet6 = nullptr; ///< "Шаги 1,2", "Шаг 3"
    QSplitter *RzSplitter1 = nullptr, *RzSplitter2 = nullptr;
    QLabel *lbFileLoadPO = nullptr, *lbFileLoadPO2 = nullptr;
    QPushButton *btnOtherFileLoadPO = nullptr;
    QPushButton *btnLoadPO = nullptr;
    QPushButton *btnStopProgramTav = nullptr;
    TArrowLine *RzLine1 = nullptr, *RzLine2 = nullptr;
    TLoaderScreen *screenReady = nullptr, *screenProgrammed = nullptr;
    TFileDialogState OpenDialog;

    // ---- Handlers ---------------------------------------------------------------------
    void btnOtherFileLoadPOClick();
    void btnLoadPOClick();
    void btnStopProgramTavClick();
    void RzPageControl2Changing();

    // ---- The procedure, as the window and today's link drive it ------------------------
    void DisarmProgSteps();
    void ArmProgSteps();
    void UpdateProgStep();
    /// Leaving the page: true when it may be left now. Under an upload it asks first;
    /// `farewell` then says what became of the upload.
    bool MayLeave(QString &farewell);

    // ---- TWorkPage ----------------------------------------------------------------------
    /// Arriving here: this side of the port at 115200 and the procedure armed, once no
    /// database exchange holds the line.
    void Enter() override;
    bool MayLeave() override;
    /// The procedure stops; what became of an upload left behind is said.
    void Leave() override;

    /// The default file: looked up each time the page is shown through "Тавелон".
    void LookUpDefaultFile();
    /// The dividers and the centred controls, each time the page is shown.
    void PlaceDividers();
    /// The first divider position, before anything else is laid out.
    void PlaceFirstDivider();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString m_farewell; ///< what became of an upload the user left
    void CreateStepsPage();
    void CreateLoadPage();
    void ShowFileLabels(const QString &text);
    void ConnectProgSteps();
    /// The question before the engineer lets go of an image the loader may be writing.
    bool ConfirmWhileWriting(const QString &action);
    /// The port at 115200 and the procedure armed, while the page is shown.
    void Arm();

    TPageHost &m_host;
    TLine &m_link;
    bool m_entered = false; ///< the page is the active one
};
