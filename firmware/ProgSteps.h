#pragma once
// The reprogramming procedure: one exchange with one state, the image it sends and the
// timers that pace and bound it. It decides from the whole sequence of what it is told
// (the page, the line dropping and coming back, the instrument's 'L', the user's
// buttons) and says what follows through signals; what it sends goes out through the
// line that serves it, and it paces the image by the line's queue, which the TProgLine
// it is given tells; so it runs without a window and without a port.

#include "firmware/FirmwareTransfer.h"
#include "link/Exchange.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>
#include <optional>

class QTimer;

/// What the procedure needs to know of the line it sends on.
struct TProgLine
{
    std::function<qint64()> queued;               ///< bytes handed over and not yet on the line
    std::function<void()> dropQueued;             ///< the bytes not yet sent never reach the line
    std::function<qint32()> baud;                 ///< the speed the port is set to
    /// Runs a tick of the procedure's timers so that an error it does not catch (a port
    /// that went away under a write) reaches the error box; empty: runs it as it is.
    std::function<void(const std::function<void()> &)> guarded;
    /// Milliseconds on a steady clock; empty: the system's.
    std::function<qint64()> clockMs;
};

class TProgSteps : public TExchange
{
    Q_OBJECT
public:
    /// The steps as the user meets them, in their order. SwitchOn to Ready record the
    /// instrument's way into its loader whether a file is chosen or not (without one
    /// they show step 1); the states from Sending on belong to one upload.
    enum class TState {
        Disarmed,    ///< another page is shown
        NoFile,      ///< step 1: no file chosen
        SwitchOff,   ///< step 2: switch the instrument off
        SwitchOn,    ///< step 2: switch it on holding the stylus (the line is absent)
        PowerOnWait, ///< just switched on: its program would say 'L' within the wait
        Ready,       ///< step 3: the loader runs, the image may go
        Sending,     ///< the image goes out
        Sent,        ///< the whole image has left: the loader checks and writes it
        Restarting,  ///< the line dropped after that
        Back,        ///< the line is back after a restart; the new program's 'L' is awaited
        /// The line dropped as the image's last bytes crossed: whether the loader had it
        /// whole nobody can tell, and no 'L' after it proves anything.
        CutAtTheEnd,
    };
    Q_ENUM(TState)

    static constexpr int powerOnWaitMs = 5500;     ///< after power-on without 'L' the loader runs
    /// The loader checks, erases, writes and verifies well within a minute, and restarts
    /// and answers at once: a minute without the next sign of it ends the protection.
    static constexpr int longestWriteMs = 60000;
    /// A drop of the line is heard this long after it happens at the latest: the serial
    /// backend looks at the clear-to-send line every 100 ms, and a busy window may take
    /// as long again. A drop heard sooner than this after the image's last byte left may
    /// have come before it; the loader, which checks and writes the image before it
    /// restarts, never drops the line that soon.
    static constexpr int lineDropHeardWithinMs = 200;

    explicit TProgSteps(TProgLine line, QObject *parent = nullptr);
    ~TProgSteps() override;

    TState state() const { return m_state; }
    bool firmwareFileDefined() const { return m_fileDefined; }
    /// A file was chosen (or none is left): the step display follows.
    void setFirmwareFileDefined(bool defined);
    bool linePresent() const { return m_linePresent; }

    /// The image is on its way or being written: the line is the procedure's.
    bool ownsLine() const { return m_state >= TState::Sending; }
    bool running() const override { return ownsLine(); }
    bool sending() const { return m_state == TState::Sending; }
    /// The loader may be writing its flash: leaving or cancelling asks first.
    bool writing() const { return m_state >= TState::Sent; }
    /// The image may go now: step 3 with a file and the line present.
    bool readyToSend() const;
    /// The image being sent, while there is one.
    const TFirmwareTransfer *firmwareImage() const { return m_image ? &*m_image : nullptr; }

    // ---- The page --------------------------------------------------------------------
    /// Starts the procedure afresh; the status line and the file stay.
    void ArmProgSteps(bool linePresent);
    /// Stops it: nothing more goes to the instrument, the line is let go, the status
    /// emptied.
    void DisarmProgSteps();
    /// The upload button, its hint and the step text.
    void UpdateProgStep();

    // ---- The line ----------------------------------------------------------------------
    void lineLost() override;
    void lineBack() override;
    /// While it holds the line, 'L' is its to judge.
    TAwaited awaits(char code) const override;
    /// A reply or notice of the instrument; the procedure listens for 'L'.
    void reply(char code, const QByteArray &bytes, qsizetype behind) override;

    // ---- The user's buttons ------------------------------------------------------------
    /// "Да" to the question: the image goes, if the procedure is still at step 3.
    bool start(TFirmwarePacket packet);
    /// "Отменить загрузку": no further byte goes; back to step 2.
    void cancel() override;

    // ---- The timers' ticks ------------------------------------------------------------
    void TimerTimer();              ///< one chunk of the image, paced by the line
    void StartProgTav_TimerTimer(); ///< the power-on wait has ended
    void ProgSilence_TimerTimer();  ///< the instrument's longest write time has passed

    QTimer *Timer = nullptr;             ///< 100 ms, one chunk per tick
    QTimer *StartProgTav_Timer = nullptr; ///< 5.5 s after a power-on
    QTimer *ProgSilence_Timer = nullptr;  ///< the write time, from each sign of the instrument

    static QString loadHintReady();
    static QString loadHintNotReady();
    static QString sendingText();     ///< the image is on its way
    static QString programmingText(); ///< the image has gone; the loader writes it

Q_SIGNALS:
    void stateChanged(TProgSteps::TState state);
    void loadButtonChanged(bool enabled);
    void loadHintChanged(const QString &hint);
    // runningChanged: from "Да" until the upload has ended one way or another; "Отменить
    // загрузку" is offered so long. finished: the instrument runs its new program (ok),
    // or why not.

private:
    void setState(TState state);
    /// No further byte of the image goes; what still waits to go is dropped.
    void stopSending();
    void display();
    void showButtons();
    /// Ends an upload that did not end in success: what was not sent is dropped.
    void endUpload(TState next, const QString &why);
    /// Every byte of the image has left by the line's own clock and the driver holds
    /// none of them.
    bool imageWhollySent();
    void imageSent();
    /// Where a drop of the line heard now stands against the image's last byte.
    enum class TDrop { BeforeWhole, AtTheEnd, AfterWhole };
    TDrop dropAgainstImage();
    /// The line's clock: `bytes` more go no sooner than `fromUs` and the line's last byte.
    void lineTakes(qint64 bytes, qint64 fromUs);
    qint64 lineTimeUs(qint64 bytes) const;
    void sendCounted(const QByteArray &bytes);
    /// Step 2, or its second half when the line is absent.
    TState stepTwo() const { return m_linePresent ? (m_fileDefined ? TState::SwitchOff : TState::NoFile) : TState::SwitchOn; }

    TProgLine m_line;
    TState m_state = TState::Disarmed;
    /// The status line tells how the last upload ended, and nothing has replaced it:
    /// leaving the page keeps it.
    bool m_resultShown = false;
    bool m_fileDefined = false;
    bool m_linePresent = false;
    std::optional<TFirmwareTransfer> m_image;
    qint64 nowMs() const;

    QElapsedTimer m_steady;
    /// The soonest the last byte handed over can have left (µs on nowMs()'s clock): a
    /// byte leaves no sooner than it was handed over and after the bytes before it, ten
    /// bits at the port's speed, and the bytes the driver says it holds go after now.
    qint64 m_lineFreeUs = 0;
};
