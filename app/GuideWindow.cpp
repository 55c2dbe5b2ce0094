#include "app/GuideWindow.h"

#include <QAbstractTextDocumentLayout>
#include <QAccessibleWidget>
#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QScrollBar>
#include <QSplitter>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>

namespace {
constexpr int sectionRole = Qt::UserRole;

/// A plain widget is told to screen readers as a filler inside another window: the
/// guide is a window of its own, announced by its title.
QAccessibleInterface *guideAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String(TGuideWindow::staticMetaObject.className()) && object && object->isWidgetType())
        return new QAccessibleWidget(static_cast<QWidget *>(object), QAccessible::Window);
    return nullptr;
}
} // namespace

TGuideWindow::TGuideWindow(const QString &guidePath, QWidget *parent) : QWidget(parent, Qt::Window)
{
    static const bool announced = [] {
        QAccessible::installFactory(guideAccessible);
        return true;
    }();
    Q_UNUSED(announced);
    setWindowTitle(QStringLiteral("Руководство пользователя — ЛОРИТ-сервис"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    m_contents = new QTreeWidget(splitter);
    m_contents->setHeaderLabel(QStringLiteral("Содержание"));
    m_contents->setAccessibleName(QStringLiteral("Содержание"));
    m_browser = new QTextBrowser(splitter);
    m_browser->setAccessibleName(QStringLiteral("Руководство пользователя"));
    m_browser->setOpenLinks(false);
    splitter->addWidget(m_contents);
    splitter->addWidget(m_browser);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 620});
    layout->addWidget(splitter);
    resize(900, 640);

    QFile file(guidePath);
    QString text;
    if (file.open(QIODevice::ReadOnly))
        text = QString::fromUtf8(file.readAll());
    // The pictures are named relative to the guide.
    m_browser->setSearchPaths({QFileInfo(guidePath).absolutePath()});
    m_browser->document()->setMarkdown(text);
    buildContents();

    connect(m_browser, &QTextBrowser::anchorClicked, this, &TGuideWindow::followLink);
    connect(m_contents, &QTreeWidget::itemActivated, this,
            [this](QTreeWidgetItem *item) { showSection(item->data(0, sectionRole).toString()); });
    connect(m_contents, &QTreeWidget::itemClicked, this,
            [this](QTreeWidgetItem *item) { showSection(item->data(0, sectionRole).toString()); });
}

QString TGuideWindow::anchorOf(const QString &heading)
{
    // Letters and digits in lower case, blanks as hyphens, other marks dropped.
    QString anchor;
    for (const QChar c : heading.trimmed()) {
        if (c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_'))
            anchor += c.toLower();
        else if (c.isSpace())
            anchor += QLatin1Char('-');
    }
    return anchor;
}

void TGuideWindow::buildContents()
{
    // The title (level 1) heads the list; sections and their steps beneath it.
    QList<QTreeWidgetItem *> parents;
    for (QTextBlock block = m_browser->document()->begin(); block.isValid(); block = block.next()) {
        const int level = block.blockFormat().headingLevel();
        if (level < 1 || level > 3)
            continue;
        const QString anchor = anchorOf(block.text());
        m_headingBlocks.insert(anchor, block.blockNumber());
        while (parents.size() >= level)
            parents.removeLast();
        QTreeWidgetItem *item = parents.isEmpty() ? new QTreeWidgetItem(m_contents)
                                                  : new QTreeWidgetItem(parents.constLast());
        item->setText(0, block.text());
        item->setData(0, sectionRole, anchor);
        while (parents.size() < level - 1)
            parents << item; // a level skipped: the item stands for it
        parents << item;
    }
    m_contents->expandToDepth(0);
}

bool TGuideWindow::showSection(const QString &anchor)
{
    const auto found = m_headingBlocks.constFind(anchor);
    if (found == m_headingBlocks.constEnd())
        return false;
    const QTextBlock block = m_browser->document()->findBlockByNumber(*found);
    QTextCursor cursor(block);
    m_browser->setTextCursor(cursor);
    // The heading at the top: now, and again once a window just shown has laid the
    // text out at its own width.
    const auto toTop = [this, block] {
        const QRectF where = m_browser->document()->documentLayout()->blockBoundingRect(block);
        m_browser->verticalScrollBar()->setValue(int(where.top()));
    };
    toTop();
    QTimer::singleShot(0, this, toTop);
    // The section is marked in the list too.
    const auto items = m_contents->findItems(block.text(), Qt::MatchExactly | Qt::MatchRecursive);
    if (!items.isEmpty())
        m_contents->setCurrentItem(items.constFirst());
    return true;
}

QString TGuideWindow::currentHeading() const
{
    const QTextBlock block = m_browser->textCursor().block();
    return block.blockFormat().headingLevel() > 0 ? block.text() : QString();
}

void TGuideWindow::followLink(const QUrl &url)
{
    // The guide's own links lead to its sections; any other goes to the desktop.
    if (url.isRelative() && url.hasFragment()) {
        showSection(url.fragment(QUrl::FullyDecoded));
        return;
    }
    QDesktopServices::openUrl(url);
}
