#pragma once
// The standard curve drawn with QPainter: the calibrators, the fitted curve and the
// samples read from it, on screen and on paper. Logistic curves have a logarithmic
// concentration axis, on which a zero calibrator sits at the left edge.

#include "analysis/StandardCurve.h"

#include <QWidget>

#include <optional>

class TCurveChart : public QWidget
{
    Q_OBJECT
public:
    explicit TCurveChart(QWidget *parent = nullptr);

    struct TSamplePoint
    {
        double concentration = 0, od = 0;
    };
    void setCurve(const std::optional<analysis::TStandardCurve> &curve, const std::vector<TSamplePoint> &samples);

    /// Draws the chart into `area`; what the widget and the printout both show.
    static void paint(QPainter &painter, const QRectF &area, const analysis::TStandardCurve &curve,
                      const std::vector<TSamplePoint> &samples);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<analysis::TStandardCurve> m_curve;
    std::vector<TSamplePoint> m_samples;
};
