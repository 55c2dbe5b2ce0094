#include "common/StyledWidgets.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

TShadowPanel::TShadowPanel(QWidget *parent)
    : QFrame(parent), m_top(QColor(0x3a, 0x5f, 0x9a)), m_bottom(QColor(0x12, 0x24, 0x48))
{
}

void TShadowPanel::setGradient(const QColor &top, const QColor &bottom)
{
    m_top = top;
    m_bottom = bottom;
    update();
}

void TShadowPanel::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter painter(this);
    QLinearGradient gradient(rect().topLeft(), rect().bottomLeft());
    gradient.setColorAt(0, m_top);
    gradient.setColorAt(1, m_bottom);
    painter.fillRect(rect(), gradient);
    // The shadow is painted anew with the panel, behind each inner panel.
    painter.setPen(Qt::NoPen);
    for (const auto &inner : std::as_const(m_shadowed)) {
        if (!inner || !inner->isVisible())
            continue;
        const QRect shadow = inner->geometry().translated(shadowDepth, shadowDepth);
        painter.fillRect(shadow, QColor(0, 0, 0, 110));
    }
    ++m_paintCount;
}

TLinkLabel::TLinkLabel(const QString &text, QWidget *parent)
    : QLabel(text, parent)
{
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    // Tab reaches it; a click follows it without taking the keyboard along.
    setFocusPolicy(Qt::TabFocus);
}

void TLinkLabel::setTextColor(const QColor &color)
{
    // Only the enabled look changes: a disabled link keeps the dimmed colour.
    QPalette pal = palette();
    pal.setColor(QPalette::Active, QPalette::WindowText, color);
    pal.setColor(QPalette::Inactive, QPalette::WindowText, color);
    pal.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x8a, 0x96, 0xaa));
    setPalette(pal);
}

QColor TLinkLabel::textColor() const
{
    return palette().color(QPalette::Active, QPalette::WindowText);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && isEnabled())
        Q_EMIT clicked();
    QLabel::mouseReleaseEvent(event);
}

void TLinkLabel::mouseMoveEvent(QMouseEvent *event)
{
    Q_EMIT mouseMoved();
    QLabel::mouseMoveEvent(event);
}

void TLinkLabel::enterEvent(QEnterEvent *event)
{
    Q_EMIT mouseMoved();
    QLabel::enterEvent(event);
}

void TLinkLabel::leaveEvent(QEvent *event)
{
    Q_EMIT mouseLeft();
    QLabel::leaveEvent(event);
}

void TLinkLabel::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (isEnabled())
            Q_EMIT clicked();
        event->accept();
        return;
    default:
        QLabel::keyPressEvent(event);
    }
}

void TLinkLabel::paintEvent(QPaintEvent *event)
{
    QLabel::paintEvent(event);
    if (!hasFocus())
        return;
    // The link the keyboard is on shows the desktop's focus frame.
    QPainter painter(this);
    QStyleOptionFocusRect frame;
    frame.initFrom(this);
    frame.backgroundColor = palette().color(backgroundRole());
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
}

void TPathLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRect area = contentsRect();
    const QFontMetrics metrics = fontMetrics();
    const QStringList lines = text().split(QLatin1Char('\n'));
    const int lineHeight = metrics.height();
    int top = area.top();
    if (alignment() & Qt::AlignVCenter)
        top += (area.height() - lineHeight * int(lines.size())) / 2;
    for (const QString &line : lines) {
        const QString shown = metrics.elidedText(line, Qt::ElideLeft, area.width());
        const QRect lineArea(area.left(), top, area.width(), lineHeight);
        style()->drawItemText(&painter, lineArea, int(alignment() & Qt::AlignHorizontal_Mask), palette(),
                              isEnabled(), shown, foregroundRole());
        top += lineHeight;
    }
}
