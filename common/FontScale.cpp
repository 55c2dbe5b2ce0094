#include "common/FontScale.h"

#include <QApplication>
#include <QFontInfo>
#include <QWidget>

namespace fontScale {

QFont scaled(QFont font, qreal ratio)
{
    if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * ratio);
    else
        font.setPixelSize(qMax(1, qRound(font.pixelSize() * ratio)));
    return font;
}

QFont windowFont()
{
    return scaled(QApplication::font(), windowToDesktop);
}

int px(const QWidget *widget, int designPx)
{
    const int fontPx = QFontInfo(widget->font()).pixelSize();
    return qRound(qreal(designPx) * fontPx / designFontPx);
}

} // namespace fontScale
