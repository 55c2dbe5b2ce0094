#pragma once
// Pictures of the instrument's small dark-blue screen in its loader, drawn rather than
// stored: as it looks once the loader runs, and after a good transfer. Also the arrow
// that points from an instruction to its picture.

#include <QWidget>

class TLoaderScreen : public QWidget
{
    Q_OBJECT
public:
    enum class TView { Ready, Programmed };
    explicit TLoaderScreen(TView view, QWidget *parent = nullptr);

    TView view() const { return m_view; }
    /// The texts of the picture, top to bottom (one entry per text line).
    QStringList texts() const;
    QSize sizeHint() const override { return {190, 200}; }
    QSize minimumSizeHint() const override { return {120, 120}; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TView m_view;
};

/// A horizontal line with an arrow head at its right end.
class TArrowLine : public QWidget
{
    Q_OBJECT
public:
    explicit TArrowLine(QWidget *parent = nullptr);
    QSize sizeHint() const override { return {120, 12}; }

protected:
    void paintEvent(QPaintEvent *event) override;
};
