#pragma once
// The status line: the program's one report of results and failures. It shows every
// message whole, on as many lines as the pane's width needs (a long path breaks
// anywhere), tells it again on hover, and keeps the last messages for the user to look
// back at: a message replaced a moment later is not lost.

#include <QLabel>
#include <QPointer>
#include <QStringList>

class QPlainTextEdit;
class QToolButton;

class TStatusPane : public QLabel
{
    Q_OBJECT
public:
    static constexpr int historyLength = 30; ///< messages kept, the oldest dropped first

    explicit TStatusPane(QWidget *parent = nullptr);

    /// Replaces the message; a real message (not a byte count) joins the history.
    void showMessage(const QString &text);
    /// The kept messages, oldest first, each "чч:мм:сс  текст".
    QStringList history() const { return m_history; }
    /// The message as shown on the pane's present width, one entry per line; when the
    /// window has no room for all its lines, the last one shown ends in "…" (the
    /// tooltip and the history hold it whole).
    QStringList wrappedLines() const;
    /// The button that opens the history, for the status bar beside the pane.
    QToolButton *historyButton() const { return m_historyButton; }
    /// Opens the list of the last messages under the user's eyes.
    void showHistory();
    /// The list window, while it is open; for the keyboard and the tests that read it.
    QPlainTextEdit *historyView() const;

    /// A pane beside it (the clock) that gives its room up while a message needs more
    /// than the lines the window can spare, and comes back after it.
    void setYieldingPane(QWidget *pane) { m_yielding = pane; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    /// The window's layout asks again (a page made for the first time needs more room):
    /// the status line gives back what the window lacks before the window would grow.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QStringList allLines(int width) const;
    /// The lines the window can give the message without growing: the pane's own and
    /// what the pages above can spare.
    int linesWithRoom() const;
    void fitHeight();

    QPointer<QWidget> m_yielding;
    bool m_watchingWindow = false;
    int m_barBase = -1;   ///< the status bar's drawn height, one line
    int m_linesShown = 1; ///< as many as the message needs and the window has room for

    QStringList m_history;
    QToolButton *m_historyButton = nullptr;
    QPointer<QPlainTextEdit> m_historyView; ///< inside its popup, which deletes itself on closing
};
