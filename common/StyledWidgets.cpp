#include "common/StyledWidgets.h"

#include "common/Contrast.h"

#include <QKeyEvent>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>
#include <QStyle>
#include <QStyleOptionFocusRect>

TShadowPanel::TShadowPanel(QWidget *parent)
    : QFrame(parent), m_top(QColor(0x3a, 0x5f, 0x9a)), m_bottom(QColor(0x12, 0x24, 0x48))
{
    FollowGradient();
}

void TShadowPanel::setGradient(const QColor &top, const QColor &bottom)
{
    m_top = top;
    m_bottom = bottom;
    FollowGradient();
    update();
}

void TShadowPanel::FollowGradient()
{
    // The gradient is the panel's own, whatever the desktop's palette: so are the text
    // and the background of what sits on it (labels, check boxes, inner panels).
    // Buttons, grids and lists keep the desktop's colours, which read on their own.
    QPalette pal = palette();
    const QColor text = contrast::textOnGradient(m_top, m_bottom);
    // An inner panel keeps the desktop's background while the text reads on it (a light
    // desktop), and takes the gradient's lighter end otherwise.
    const QColor desktop = pal.color(QPalette::Active, QPalette::Window);
    const QColor lighter = m_top.lightness() >= m_bottom.lightness() ? m_top : m_bottom;
    const QColor darker = lighter == m_top ? m_bottom : m_top;
    const QColor inner = contrast::ratio(desktop, text) >= contrast::least ? desktop
                                                                           : (text.lightness() < 128 ? lighter : darker);
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? contrast::readableOn(inner, QColor(0x80, 0x88, 0x98)) : text);
        pal.setColor(group, QPalette::Window, inner);
    }
    setPalette(pal);
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

void TLinkLabel::setTextColor(const QColor &wanted)
{
    // Only the enabled look changes: a disabled link keeps the dimmed colour. A desktop
    // colour that would not read on the panel (a dark palette's grey) is brightened.
    QPalette pal = palette();
    const QColor color = contrast::readableOn(pal.color(QPalette::Active, QPalette::Window), wanted);
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

void setTextTint(QLabel *label, const QColor &wanted)
{
    QPalette pal = label->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive})
        pal.setColor(group, QPalette::WindowText, contrast::readableOn(pal.color(group, QPalette::Window), wanted, contrast::clear));
    label->setPalette(pal);
}

QWidget *scrolledContent(QWidget *page)
{
    auto *outer = new QVBoxLayout(page);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(page);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);
    return content;
}
