#include "firmware/LoaderScreen.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>

namespace {
const QColor screenBlue(0x12, 0x22, 0x6e);
const QColor screenEdge(0x07, 0x0f, 0x38);
const QColor screenText(0xe6, 0xee, 0xff);
const QColor screenDim(0x9d, 0xb4, 0xf0);
} // namespace

TLoaderScreen::TLoaderScreen(TView view, QWidget *parent)
    : QWidget(parent), m_view(view)
{
    setAccessibleName(view == TView::Ready ? QStringLiteral("Экран прибора в режиме программирования")
                                           : QStringLiteral("Экран прибора после программирования"));
}

QStringList TLoaderScreen::texts() const
{
    QStringList lines{QStringLiteral("Начальный  загрузчик  V1.1"), QStringLiteral("Тест  ОЗУ  8192  Кб  -  ОК"),
                      QStringLiteral("Тест  ПЗУ  -  ОК"), QStringLiteral("Режим программирования "),
                      QStringLiteral("включен"), QStringLiteral("Прием файла")};
    if (m_view == TView::Programmed)
        lines << QStringLiteral("Контрольная сумма файла  -  ОК") << QStringLiteral("Стирание")
              << QStringLiteral("Программирование ") << QStringLiteral("Проверка записи")
              << QStringLiteral("Программирование завершено") << QStringLiteral("Перезагрузка прибора");
    return lines;
}

void TLoaderScreen::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF outer = QRectF(rect()).adjusted(1, 1, -1, -1);
    painter.setPen(QPen(screenEdge, 2));
    painter.setBrush(screenBlue);
    painter.drawRoundedRect(outer, 4, 4);

    const QStringList lines = texts();
    // Lines of the picture: the framed mode notice takes two text lines and a gap.
    const int rows = lines.size() + 1;
    const qreal margin = 6;
    const qreal rowHeight = (outer.height() - 2 * margin) / rows;
    const qreal left = outer.left() + margin;
    const qreal width = outer.width() - 2 * margin;
    // The largest font, up to 11 px, at which every line fits its row and the width.
    QFont font = this->font();
    int pixels = int(std::clamp(rowHeight * 0.72, 7.0, 11.0));
    for (; pixels > 6; --pixels) {
        font.setPixelSize(pixels);
        const QFontMetricsF fit(font);
        const bool fits = std::all_of(lines.begin(), lines.end(),
                                      [&](const QString &line) { return fit.horizontalAdvance(line) <= width - 6; });
        if (fits)
            break;
    }
    font.setPixelSize(pixels);
    painter.setFont(font);
    qreal y = outer.top() + margin;

    const auto text = [&](const QString &line, const QColor &color, Qt::Alignment align = Qt::AlignLeft) {
        painter.setPen(color);
        painter.drawText(QRectF(left + 2, y, width - 4, rowHeight), int(align | Qt::AlignVCenter), line);
        y += rowHeight;
    };

    text(lines.at(0), screenText, Qt::AlignHCenter);
    text(lines.at(1), screenDim);
    text(lines.at(2), screenDim);
    // "Режим программирования включен" in its own frame.
    y += rowHeight * 0.25;
    painter.setPen(QPen(screenText, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(left + 8, y, width - 16, rowHeight * 2));
    text(lines.at(3), screenText, Qt::AlignHCenter);
    text(lines.at(4), screenText, Qt::AlignHCenter);
    y += rowHeight * 0.75;

    // "Прием файла" and its bar: empty while waiting, full after the transfer.
    painter.setPen(screenText);
    const QFontMetricsF metrics(font);
    const qreal labelWidth = metrics.horizontalAdvance(lines.at(5)) + 8;
    painter.drawText(QRectF(left + 2, y, labelWidth, rowHeight), int(Qt::AlignLeft | Qt::AlignVCenter), lines.at(5));
    const QRectF bar(left + labelWidth + 2, y + rowHeight * 0.2, width - labelWidth - 6, rowHeight * 0.6);
    painter.setPen(QPen(screenText, 1));
    painter.setBrush(m_view == TView::Programmed ? QBrush(screenText) : QBrush(Qt::NoBrush));
    painter.drawRect(bar);
    y += rowHeight;

    for (int i = 6; i < lines.size(); ++i)
        text(lines.at(i), i >= lines.size() - 2 ? screenText : screenDim);
}

TArrowLine::TArrowLine(QWidget *parent) : QWidget(parent)
{
    setFixedHeight(12);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setFixedWidth(120);
}

void TArrowLine::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal mid = height() / 2.0;
    const qreal end = width() - 1.0;
    painter.setPen(QPen(QColor(0x1a, 0x30, 0x80), 2));
    painter.drawLine(QPointF(1, mid), QPointF(end - 6, mid));
    QPainterPath head;
    head.moveTo(end, mid);
    head.lineTo(end - 9, mid - 5);
    head.lineTo(end - 9, mid + 5);
    head.closeSubpath();
    painter.fillPath(head, QColor(0x1a, 0x30, 0x80));
}
