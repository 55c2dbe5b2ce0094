#pragma once
// A control's Levey–Jennings chart drawn with QPainter: its values run after run, the
// mean and the ±1, 2 and 3 SD lines of its baseline, and each violated point marked
// with the names of its rules; the same drawing on screen and on paper.

#include "analysis/Westgard.h"

#include <QWidget>

class TLeveyJenningsChart : public QWidget
{
    Q_OBJECT
public:
    explicit TLeveyJenningsChart(QWidget *parent = nullptr);

    /// What the chart is drawn in: the desktop's palette on screen, black on white on paper.
    struct TColours
    {
        QColor background, text, axis, mean, oneSd, twoSd, threeSd, point, warning, reject, baseline;
        static TColours paper();
        static TColours on(const QPalette &palette);
    };

    /// Shows the control's points and the violations that concern it.
    void setControl(const westgard::TJudgement &judgement, const QString &control);
    void clear();

    /// Where the chart puts a run's value: the plot's rectangle, the points spread evenly
    /// across it in time order, the values up and down ±4 SD around the mean (the
    /// values' own range without a baseline). A value beyond the edge sits on it.
    struct TGeometry
    {
        QRectF plot;
        int count = 0;
        double low = 0, high = 1;
        double x(int index) const;
        double y(double value) const;
    };
    static TGeometry geometry(const QFontMetricsF &metrics, const QRectF &area, const westgard::TControlState &state);

    /// Draws the chart into `area`; what the widget and the printout both show.
    static void paint(QPainter &painter, const QRectF &area, const westgard::TControlState &state,
                      const std::vector<westgard::TViolation> &violations, const TColours &colours);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<westgard::TControlState> m_state;
    std::vector<westgard::TViolation> m_violations;
};
