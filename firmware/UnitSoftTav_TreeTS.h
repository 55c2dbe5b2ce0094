#pragma once
// The firmware frame of the page "ПО прибора": created on the first visit of its page.
// It chooses the image file, starts and paces the upload, and shows the three steps of
// reprogramming with pictures of the instrument's loader screen. The procedure's flags
// and rules live in TProgSteps; the frame gives them their timers and the link.

#include "common/Dialogs.h"

#include <QWidget>

#include <memory>

class QLabel;
class QPushButton;
class QSplitter;
class QTabWidget;
class QTimer;
class TArrowLine;
class TFirmwareTransfer;
class TLinkControl;
class TLoaderScreen;
class TPageHost;
class TProgSteps;

class TFrameSoftTav : public QWidget
{
    Q_OBJECT
public:
    TFrameSoftTav(TPageHost &host, TLinkControl &link, TProgSteps &steps, QWidget *parent = nullptr);
    ~TFrameSoftTav() override;

    QString firmwareFilePath;
    /// The image being sent; made at each upload, kept until the next or the frame goes.
    std::unique_ptr<TFirmwareTransfer> firmwareImage;

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
    QTimer *StartProgTav_Timer = nullptr; ///< 5.5 s after a power-on: the loader is ready
    /// A minute without a sign of the instrument after the image was sent.
    QTimer *ProgSilence_Timer = nullptr;
    static constexpr int progSilenceMs = 60000;

    // ---- Handlers ---------------------------------------------------------------------
    void btnOtherFileLoadPOClick();
    void btnLoadPOClick();
    void TimerTimer();
    void btnStopProgramTavClick();
    void RzPageControl2Changing();
    void StartProgTav_TimerTimer();
    void ProgSilence_TimerTimer();
    void ReplyProgramStarted(); // 'L', its byte taken: the instrument's program runs

    // ---- The reprogramming procedure, as the window and the link drive it ----------
    void DisarmProgSteps();
    void ArmProgSteps();
    void UpdateProgStep();
    void ProgLinkLost();     ///< the line dropped while the firmware page is shown
    void ProgLinkReturned(); ///< the line came back while the firmware page is shown
    void ProgStepRefresh();  ///< after every link update: step display and cancel check

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
    void ConnectProgSteps();

    TPageHost &m_host;
    TLinkControl &m_link;
    TProgSteps &m_steps;
    bool m_sending = false;
};
