#pragma once
// The traffic log ("Журнал обмена") of service work: one line per burst on the serial
// line (time, direction, speed, bytes in hex and as text, the command or reply they
// begin) and one per event of the port. A list model without widgets; the serial
// control feeds it through its tap only while the log's window is open.

#include "link/TrafficCodes.h"
#include "link/TrafficTap.h"

#include <QAbstractListModel>
#include <QTime>
#include <QTimer>

#include <deque>
#include <functional>
#include <vector>

enum class TTrafficKind { Sent, Received, Event, Error };
/// What the window shows: every line, commands and replies only, or errors only.
enum class TTrafficFilter { All, Commands, Errors };

struct TTrafficLine
{
    qint64 ms = 0;               ///< on the log's clock
    TTrafficKind kind = TTrafficKind::Event;
    bool command = false;        ///< begins with a command or reply code
    QString text;                ///< the whole line as shown and saved
};

bool shownBy(const TTrafficLine &line, TTrafficFilter filter);

class TTrafficLog final : public QAbstractListModel, public TTrafficTap
{
    Q_OBJECT
public:
    static constexpr int excerptBytes = 16;        ///< a long burst shows this many at each end
    static constexpr int quietGapMs = 30;          ///< silence that ends a received burst
    static constexpr qint64 maxTextChars = 1 << 20; ///< older lines go beyond this much text
    static constexpr int refreshMs = 100;          ///< lines reach the view this often at most

    enum Role { KindRole = Qt::UserRole, CommandRole };

    /// `clock` gives milliseconds (a steady clock by default; tests drive their own).
    explicit TTrafficLog(QObject *parent = nullptr, std::function<qint64()> clock = {});

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    void bytesSent(const QByteArray &bytes, qint32 baud) override;
    void bytesReceived(const QByteArray &bytes, qint32 baud, bool discarded) override;
    void lineEvent(TLineEvent event, const QString &detail) override;
    /// A line of the log's own ("Журнал открыт").
    void addNote(const QString &text);

    /// Ends a received burst that has been quiet long enough and shows the lines
    /// waiting; the log's timer does this on its own.
    void flush();
    /// Paused, the lines are still recorded but held back from the view.
    void setPaused(bool paused);
    bool paused() const { return m_paused; }
    int heldBackCount() const { return int(m_held.size()); }
    /// Forgets every line, shown or held back.
    void clear();

    /// Every line recorded (held back ones too) that the filter shows, one a line.
    QString text(TTrafficFilter filter) const;
    const std::deque<TTrafficLine> &lines() const { return m_lines; }

private:
    struct TBurst
    {
        bool open = false;
        qint64 startMs = 0;
        qint64 lastMs = 0;
        qint32 baud = 0;
        QByteArray head;          ///< the first 2 × excerptBytes bytes
        QByteArray tail;          ///< the last excerptBytes bytes
        qint64 count = 0;
        qint64 expected = 0;      ///< length of the reply in progress; 0 unknown
        char reply = 0;           ///< code of the reply it belongs to; 0 none
        bool startsReply = false; ///< its first byte is the reply's code
        traffic::TBurstName name;
    };

    void openReceived(qint64 now, qint32 baud, char first);
    void endBurst(bool keepFraming);
    void endQuietBurst(qint64 now);
    void resetFraming();
    void record(qint64 ms, TTrafficKind kind, bool command, const QString &text);
    QString burstLine(qint64 ms, TTrafficKind kind, qint32 baud, qint64 count, const QByteArray &head,
                      const QByteArray &tail, const QString &name, const QString &note = {}) const;
    QString timeText(qint64 ms) const;
    void publish();
    void scheduleRefresh();

    std::function<qint64()> m_clock;
    qint64 m_startMs = 0;
    QTime m_startTime;
    std::deque<TTrafficLine> m_lines; ///< shown
    std::deque<TTrafficLine> m_held;  ///< recorded, not shown yet
    qint64 m_textChars = 0;           ///< of m_lines
    qint64 m_heldChars = 0;
    bool m_paused = false;
    TBurst m_burst;                   ///< the received burst still gathering
    qint64 m_replyLeft = 0;           ///< of a reply cut short by a write
    char m_replyCode = 0;
    QString m_replyName;
    traffic::TReplyReader m_replies;
    traffic::TCommandReader m_commands;
    QTimer m_refresh;
};
