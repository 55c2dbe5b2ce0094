#pragma once
// The user guide inside the program: the Russian guide rendered with its pictures, a
// list of its sections beside it, and its own links followed within it. F1 opens it at
// the section of the page the user is on.

#include <QHash>
#include <QWidget>

class QTextBrowser;
class QTreeWidget;
class QTreeWidgetItem;
class QUrl;

class TGuideWindow : public QWidget
{
    Q_OBJECT
public:
    /// Reads the guide (Markdown) at `guidePath`; its pictures are found beside it.
    explicit TGuideWindow(const QString &guidePath, QWidget *parent = nullptr);

    /// The anchor a heading gets, as in the guide's own links: "Порт связи" → "порт-связи".
    static QString anchorOf(const QString &heading);

    /// Shows the section under that anchor at the top; false when the guide has none.
    bool showSection(const QString &anchor);
    /// The heading shown at the top now.
    QString currentHeading() const;

    QTextBrowser *browser() const { return m_browser; }
    QTreeWidget *contents() const { return m_contents; }

private:
    void buildContents();
    void followLink(const QUrl &url);

    QTextBrowser *m_browser = nullptr;
    QTreeWidget *m_contents = nullptr;
    QHash<QString, int> m_headingBlocks; ///< anchor → number of the heading's block
};
