#include "app/StatusPane.h"

#include <QApplication>
#include <QEvent>
#include <QFrame>
#include <QMainWindow>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QScreen>
#include <QTextLayout>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int sideMargin = 2; ///< px left and right of the text
constexpr int barMargin = 8;  ///< px the status bar keeps above and below its lines

/// The lines of `text` broken for `width`: at blanks where it can, anywhere in a word
/// (a long path) wider than the line.
QStringList breakIntoLines(const QString &text, const QFont &font, int width)
{
    QStringList lines;
    if (text.isEmpty() || width <= 0)
        return lines;
    QTextLayout layout(text, font);
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        lines << text.mid(line.textStart(), line.textLength());
    }
    layout.endLayout();
    return lines;
}
} // namespace

TStatusPane::TStatusPane(QWidget *parent) : QLabel(parent)
{
    // The pane takes the width the status bar gives it and never widens the window; its
    // height is what the message needs on that width.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Minimum);
    setCursor(Qt::PointingHandCursor);
    m_historyButton = new QToolButton(parent);
    m_historyButton->setArrowType(Qt::UpArrow);
    m_historyButton->setAutoRaise(true);
    m_historyButton->setToolTip(QStringLiteral("Последние сообщения"));
    m_historyButton->setAccessibleName(QStringLiteral("Последние сообщения"));
    connect(m_historyButton, &QToolButton::clicked, this, &TStatusPane::showHistory);
}

void TStatusPane::showMessage(const QString &text)
{
    setText(text);
    setToolTip(text.isEmpty() ? QString() : text + QStringLiteral("\n\n(щелчок: последние сообщения)"));
    setAccessibleDescription(text);
    // A byte count is progress, not a message; an empty text only clears the pane.
    static const QRegularExpression count(QStringLiteral("^\\d+$"));
    const bool message = !text.trimmed().isEmpty() && !count.match(text).hasMatch();
    if (message && (m_history.isEmpty() || !m_history.constLast().endsWith(QStringLiteral("  ") + text))) {
        m_history << QTime::currentTime().toString(QStringLiteral("HH:mm:ss")) + QStringLiteral("  ") + text;
        while (m_history.size() > historyLength)
            m_history.removeFirst();
    }
    if (m_historyView)
        m_historyView->setPlainText(m_history.join(QLatin1Char('\n')));
    fitHeight();
    update();
}

QPlainTextEdit *TStatusPane::historyView() const
{
    return m_historyView.data();
}

QStringList TStatusPane::allLines(int width) const
{
    return breakIntoLines(text(), font(), width - 2 * sideMargin);
}

QStringList TStatusPane::wrappedLines() const
{
    QStringList lines = allLines(width());
    if (lines.size() > m_linesShown) {
        // The rest of the last line shown and what follows it, cut with "…".
        const QString rest = QStringList(lines.mid(m_linesShown - 1)).join(QString());
        lines = lines.mid(0, m_linesShown - 1);
        lines << fontMetrics().elidedText(rest, Qt::ElideRight, width() - 2 * sideMargin);
    }
    return lines;
}

int TStatusPane::linesWithRoom() const
{
    // Reckoned from the window's height and what the pages need at least, never from
    // the status bar's present height: what it has taken is no measure of what it may.
    const auto *main = qobject_cast<const QMainWindow *>(window());
    const QWidget *central = main ? main->centralWidget() : nullptr;
    if (!central || m_barBase < 0)
        return 1;
    const int menu = main->menuWidget() ? main->menuWidget()->height() : 0;
    const int barRoom = main->height() - menu - central->minimumSizeHint().height();
    const int line = fontMetrics().lineSpacing();
    return qMax(1, (barRoom - barMargin) / line);
}

void TStatusPane::fitHeight()
{
    // The status bar grows by the lines a long message needs, as far as the pages
    // above can spare them without the window growing, and shrinks back after it.
    QWidget *bar = parentWidget();
    if (!bar || !isVisible())
        return;
    if (m_barBase < 0)
        m_barBase = bar->minimumHeight();
    if (!m_watchingWindow) {
        m_watchingWindow = true;
        window()->installEventFilter(this);
    }
    const int room = linesWithRoom();
    if (m_yielding) {
        // The clock steps aside for a message that would not fit beside it; the margin
        // keeps it from coming and going at the edge.
        constexpr int margin = 16;
        const int besideClock = m_yielding->isVisible() ? width() : width() - m_yielding->width() - margin;
        const bool fitsBeside = int(allLines(besideClock).size()) <= room;
        if (fitsBeside != m_yielding->isVisible()) {
            m_yielding->setVisible(fitsBeside);
            return; // the pane is resized, and looks again
        }
    }
    const int needed = qMax(1, int(allLines(width()).size()));
    m_linesShown = qMin(needed, room);
    const int barHeight = qMax(m_barBase, m_linesShown * fontMetrics().lineSpacing() + barMargin);
    if (bar->minimumHeight() != barHeight)
        bar->setMinimumHeight(barHeight);
}

QSize TStatusPane::sizeHint() const
{
    return {QLabel::sizeHint().width(), fontMetrics().lineSpacing() + 2};
}

QSize TStatusPane::minimumSizeHint() const
{
    return {0, fontMetrics().lineSpacing() + 2};
}

void TStatusPane::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    // Looked at once the window's layout has settled at the new size.
    QMetaObject::invokeMethod(this, [this] { fitHeight(); }, Qt::QueuedConnection);
}

bool TStatusPane::eventFilter(QObject *watched, QEvent *event)
{
    auto *main = qobject_cast<QMainWindow *>(window());
    QWidget *bar = parentWidget();
    if (watched == main && event->type() == QEvent::LayoutRequest && bar && main->centralWidget()
        && bar->minimumHeight() > m_barBase && m_barBase >= 0) {
        const QWidget *central = main->centralWidget();
        const int others = main->height() - central->height() - bar->height(); // the menu bar
        const int overflow = others + central->minimumSizeHint().height() + bar->minimumHeight() - main->height();
        if (overflow > 0) {
            bar->setMinimumHeight(qMax(m_barBase, bar->minimumHeight() - overflow));
            QMetaObject::invokeMethod(this, [this] { fitHeight(); }, Qt::QueuedConnection);
        }
    }
    return QLabel::eventFilter(watched, event);
}

void TStatusPane::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    const int lineSpacing = fontMetrics().lineSpacing();
    const QStringList lines = wrappedLines();
    int y = qMax(0, (height() - int(lines.size()) * lineSpacing) / 2);
    for (const QString &line : lines) {
        painter.drawText(QRect(sideMargin, y, width() - 2 * sideMargin, lineSpacing), Qt::AlignLeft | Qt::AlignVCenter,
                         line);
        y += lineSpacing;
    }
}

void TStatusPane::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        showHistory();
    QLabel::mouseReleaseEvent(event);
}

void TStatusPane::showHistory()
{
    // A small list above the status bar, closed by a click elsewhere or Esc; the
    // newest message is at the bottom, next to where it was shown.
    auto *popup = new QFrame(window(), Qt::Popup);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setFrameShape(QFrame::StyledPanel);
    popup->setAccessibleName(QStringLiteral("Последние сообщения"));
    auto *layout = new QVBoxLayout(popup);
    layout->setContentsMargins(2, 2, 2, 2);
    m_historyView = new QPlainTextEdit(popup);
    m_historyView->setReadOnly(true);
    m_historyView->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    m_historyView->setPlainText(m_history.isEmpty() ? QStringLiteral("Сообщений пока не было.")
                                                    : m_history.join(QLatin1Char('\n')));
    m_historyView->moveCursor(QTextCursor::End);
    layout->addWidget(m_historyView);
    const QWidget *top = window();
    const int width = qMax(top->width() * 9 / 10, 320);
    // About a line and a half a message (a long one takes two), at most fourteen.
    const int height = qMin(14, int(m_history.size()) + 2) * fontMetrics().lineSpacing() * 3 / 2 + 8;
    popup->resize(width, height);
    const QPoint bottomLeft = mapToGlobal(QPoint(0, 0));
    popup->move(top->mapToGlobal(QPoint((top->width() - width) / 2, 0)).x(), bottomLeft.y() - height);
    popup->show();
    m_historyView->setFocus();
}
