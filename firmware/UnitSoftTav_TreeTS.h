#pragma once
// The firmware frame of the page "ПО прибора": created on the first visit of its page.
// It chooses the image file, starts and paces the upload, and shows the three steps of
// reprogramming with pictures of the instrument's loader screen. The procedure's flags
// live in the window's TProgSteps; the frame's handlers act on the window it serves.

#include "app/Dialogs.h"

#include <QWidget>

class QLabel;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTimer;
class TArrowLine;
class TFormMainLoritS_D7;
class TLoaderScreen;

class TFrameSoftTav : public QWidget
{
    Q_OBJECT
public:
    TFrameSoftTav(TFormMainLoritS_D7 *form, QWidget *parent);

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
    QTimer *Timer = nullptr; ///< 100 ms, one chunk of the image per tick

    // ---- Handlers ---------------------------------------------------------------------
    void btnOtherFileLoadPOClick();
    void btnLoadPOClick();
    void TimerTimer();
    void btnStopProgramTavClick();
    void RzPageControl2Changing();

    /// The default file: looked up each time the page is shown through "Тавелон".
    void LookUpDefaultFile();
    /// The dividers and the centred controls, each time the page is shown.
    void PlaceDividers();
    /// The first divider position, before anything else is laid out.
    void PlaceFirstDivider();
    /// Ends a transfer in progress: no further chunk, no checksum, and the bytes still
    /// queued in the serial control are dropped. Hides the cancel button.
    void StopTransfer();
    bool sending() const { return m_sending; }
    /// Once the whole image and its checksum have left the send queue, the upload is
    /// over and the loader writes it; true when that happened now.
    bool FinishIfSent();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateStepsPage();
    void CreateLoadPage();
    void ShowFileLabels(const QString &text);

    TFormMainLoritS_D7 *m_form;
    bool m_sending = false;
};
