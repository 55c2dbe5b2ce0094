#include "measure/PlateLegend.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QTableWidget>

namespace {
QString valueText(double value)
{
    return QString::number(value, 'f', 3);
}
} // namespace

/// The bar itself: the scale from left (lowest) to right (highest), values below.
class TPlateGradientBar final : public QWidget
{
public:
    explicit TPlateGradientBar(TPlateLegend *legend) : QWidget(legend), m_legend(legend)
    {
        setMinimumSize(160, fontMetrics().height() + 16);
        setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        const int textHeight = fontMetrics().height();
        const QRect bar(0, 0, width() - 1, height() - textHeight - 2);
        if (!m_legend->range()) {
            painter.setPen(palette().color(QPalette::Mid));
            painter.drawRect(bar);
            return;
        }
        QLinearGradient gradient(bar.topLeft(), bar.topRight());
        constexpr int stops = 10;
        for (int i = 0; i <= stops; ++i)
            gradient.setColorAt(double(i) / stops, plate::viridis(double(i) / stops));
        painter.fillRect(bar, gradient);
        painter.setPen(palette().color(QPalette::WindowText));
        const QRect labels(0, bar.bottom() + 2, width(), textHeight);
        painter.drawText(labels, Qt::AlignLeft | Qt::AlignVCenter, m_legend->lowText());
        painter.drawText(labels, Qt::AlignRight | Qt::AlignVCenter, m_legend->highText());
    }

private:
    TPlateLegend *m_legend;
};

TPlateLegend::TPlateLegend(QWidget *parent)
    : QWidget(parent), m_scaleBox(new QComboBox(this)), m_bar(new TPlateGradientBar(this))
{
    for (int i = 0; i < plate::scaleCount; ++i)
        m_scaleBox->addItem(plate::scaleName(plate::TScale(i)));
    m_scaleBox->setToolTip(QStringLiteral("Шкала цвета: от наименьшего до наибольшего значения таблицы или постоянная"));
    connect(m_scaleBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { Q_EMIT scaleChanged(plate::TScale(index)); });
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(QStringLiteral("Шкала ОП:"), this));
    layout->addWidget(m_scaleBox);
    layout->addWidget(m_bar, 1);
}

plate::TScale TPlateLegend::scale() const
{
    return plate::TScale(m_scaleBox->currentIndex());
}

void TPlateLegend::setScale(plate::TScale scale)
{
    m_scaleBox->setCurrentIndex(int(scale));
}

void TPlateLegend::setRange(const std::optional<plate::TRange> &range)
{
    m_range = range;
    m_bar->update();
}

QString TPlateLegend::lowText() const
{
    return m_range ? valueText(m_range->low) : QString();
}

QString TPlateLegend::highText() const
{
    return m_range ? valueText(m_range->high) : QString();
}

void colourPlateCells(QTableWidget *grid, const plate::TValues &values, const std::optional<plate::TRange> &range,
                      int firstRow, int firstColumn)
{
    for (int row = 0; row < od::rowCount; ++row) {
        for (int column = 0; column < od::columnCount; ++column) {
            QTableWidgetItem *item = grid->item(row + firstRow, column + firstColumn);
            if (!item)
                continue;
            const QByteArray &field = values[size_t(row * od::columnCount + column)];
            const std::optional<plate::TCellColours> colours = range ? plate::cellColours(field, *range) : std::nullopt;
            item->setBackground(colours ? QBrush(colours->background) : QBrush());
            item->setForeground(colours ? QBrush(colours->text) : QBrush());
        }
    }
}
