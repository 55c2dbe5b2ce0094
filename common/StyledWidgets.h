#pragma once
// The decorated widgets the window is built from: gradient panels that paint a drop
// shadow behind their inner panels, link labels of the start page, and labels that show
// the end of a long path.

#include <QFrame>
#include <QLabel>
#include <QList>
#include <QPointer>

/// A panel with a vertical gradient that paints a shadow behind chosen inner panels.
class TShadowPanel : public QFrame
{
    Q_OBJECT
public:
    static constexpr int shadowDepth = 6; ///< px the shadow reaches right and down

    explicit TShadowPanel(QWidget *parent = nullptr);
    void setGradient(const QColor &top, const QColor &bottom);
    void addShadowed(QWidget *inner) { m_shadowed << inner; }
    int paintCount() const { return m_paintCount; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void FollowGradient(); ///< the text on the panel in a colour that reads on its gradient

    QList<QPointer<QWidget>> m_shadowed;
    QColor m_top, m_bottom;
    int m_paintCount = 0;
};

/// A label that acts as a link: hand cursor, click signal, hover notifications; Tab
/// reaches it and Enter or Space follows it, as a click does.
class TLinkLabel : public QLabel
{
    Q_OBJECT
public:
    explicit TLinkLabel(const QString &text, QWidget *parent = nullptr);
    void setTextColor(const QColor &wanted);
    QColor textColor() const;

Q_SIGNALS:
    void clicked();
    void mouseMoved();
    void mouseLeft();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
};

/// A label of file paths, one per line: a line wider than the label loses its start
/// ("…/FilesInTavelon/"), so the folder's and the file's own names stay in sight.
class TPathLabel : public QLabel
{
    Q_OBJECT
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent *event) override;
};

/// Gives a label's text a colour of its own (a hint, a warning) that stays readable on
/// the desktop's background, light or dark: `wanted` moved towards the palette's
/// contrast until it reads.
void setTextTint(QLabel *label, const QColor &wanted);

/// A page's content in a frameless scroll area that fills the page: the page is read
/// whole at the window's drawn size and scrolls only in a window made smaller. The
/// content is the widget to lay the page out in.
QWidget *scrolledContent(QWidget *page);
