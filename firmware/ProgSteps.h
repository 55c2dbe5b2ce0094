#pragma once
// The reprogramming procedure's state: one-byte flags that the page switch, the link
// line, the power-on wait, the reply 'L' and the frame's buttons move, and the rules
// that decide from them what the user sees. What the window must do about it (status
// line, the upload button, the wait timer, stopping a transfer) comes out as signals,
// so the rules run without a window.

#include <QObject>
#include <QString>

class TProgSteps : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    static constexpr int powerOnWaitMs = 5500; ///< after power-on without 'L' the loader runs

    // ---- Flags, all clear at start ------------------------------------------------
    bool progArmed = false;             ///< the firmware page is active
    bool firmwareFileDefined = false;   ///< a firmware file is chosen
    bool deviceWasOff = false;          ///< switched off in step 2
    bool powerOnPending = false;        ///< just switched on; the power-on wait runs
    bool deviceInProgMode = false;      ///< the wait ended without 'L': the loader runs
    bool uploadStarted = false;         ///< the user confirmed the upload; the procedure owns the line
    bool uploadSent = false;            ///< the whole image and its checksum have gone out
    bool deviceRebooting = false;       ///< the line dropped after the image was sent
    bool deviceBackAfterReboot = false; ///< back after that; its 'L' is awaited

    /// Whether the upload button is enabled, as last decided.
    bool loadEnabled() const { return m_loadEnabled; }

    // ---- Operations ------------------------------------------------------------------
    /// Starts the procedure afresh; the status line, the button and the file stay.
    void arm();
    /// Stops the procedure: as arm(), and the button is disabled and the status emptied.
    void disarm();
    /// Decides the upload button, its hint and the step text.
    void updateStep(bool linkPresent);
    /// The line is absent on the firmware page (the port open, no port change pending).
    void linkLost();
    /// The line has just come back on the firmware page.
    void linkReturned();
    /// After every link update: the step display, then the cancel check of a transfer
    /// that lost the line before the image was complete.
    void afterLinkUpdate(bool linkPresent);
    /// The power-on wait has ended.
    void powerOnWaitEnded(bool linkPresent);
    /// The instrument's reply 'L'.
    void replyL(bool linkPresent);
    /// The instrument is in its loader now, as far as the procedure knows: the answer
    /// to the question before an upload is acted on only while this holds.
    bool readyToSend(bool linkPresent) const;
    /// The user confirmed the upload and the file is ready: the transfer begins.
    void uploadBegun(bool linkPresent);
    /// The whole image and its checksum have left the send queue.
    void uploadFinished();
    /// "Отменить загрузку".
    void cancelUpload();
    /// The instrument has given no sign for a while after the image was sent: the
    /// procedure goes on waiting, and the status says what to look at.
    void instrumentSilent();

    static QString loadHintReady();    ///< hint of the enabled upload button
    static QString loadHintNotReady(); ///< hint of the disabled upload button
    static QString sendingText();      ///< the image is on its way
    static QString programmingText();  ///< the image has gone; the loader writes it

Q_SIGNALS:
    void statusText(const QString &text);
    void loadButtonChanged(bool enabled);
    void loadHintChanged(const QString &hint);
    /// Start the power-on wait afresh.
    void powerOnWaitStarted();
    /// The line dropped during the power-on wait: it ends without a verdict.
    void powerOnWaitStopped();
    /// An upload began (true), or the procedure let go of the line (false).
    void uploadRunningChanged(bool running);
    /// After the image was sent, each sign of the instrument (its line dropping for the
    /// restart, coming back): a new wait for the next one begins.
    void instrumentAwaited();
    /// Stop the power-on wait and any transfer (its unsent bytes dropped), hide the
    /// cancel button and put the progress back to 0.
    void stopped();

private:
    void clearFlags();
    void setUploadStarted(bool started);
    void setLoadEnabled(bool enabled);

    bool m_loadEnabled = false;
};
