#include "common/StyledWidgets.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

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
