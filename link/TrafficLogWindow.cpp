#include "link/TrafficLogWindow.h"

#include "common/WholeFile.h"
#include "link/TMSComm.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFontDatabase>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QVBoxLayout>

namespace {
constexpr int longestLine = 300; ///< characters: time, direction, speed, count, name, 32 bytes twice
} // namespace

/// The log as the window shows it: the chosen lines, errors in red, sent bytes in blue.
class TTrafficLogView final : public QSortFilterProxyModel
{
public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setFilter(TTrafficFilter filter)
    {
        m_filter = filter;
        invalidateFilter();
    }
    TTrafficFilter filter() const { return m_filter; }

    /// Every line as wide as the longest can be: the view scrolls sideways instead of
    /// cutting the bytes off, and needs to measure no line.
    void setLineSize(const QSize &size) { m_lineSize = size; }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role == Qt::SizeHintRole)
            return m_lineSize;
        if (role != Qt::ForegroundRole)
            return QSortFilterProxyModel::data(index, role);
        switch (TTrafficKind(QSortFilterProxyModel::data(index, TTrafficLog::KindRole).toInt())) {
        case TTrafficKind::Error: return QColor(Qt::red);
        case TTrafficKind::Sent: return QColor(Qt::darkBlue);
        case TTrafficKind::Event: return QColor(Qt::darkGray);
        case TTrafficKind::Received: break;
        }
        return {};
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex &parent) const override
    {
        const QModelIndex index = sourceModel()->index(row, 0, parent);
        TTrafficLine line;
        line.kind = TTrafficKind(index.data(TTrafficLog::KindRole).toInt());
        line.command = index.data(TTrafficLog::CommandRole).toBool();
        return shownBy(line, m_filter);
    }

private:
    TTrafficFilter m_filter = TTrafficFilter::All;
    QSize m_lineSize;
};

TTrafficLogWindow::TTrafficLogWindow(TMSComm *comm, TDialogs *dialogs, QWidget *parent)
    : QWidget(parent, Qt::Window), m_comm(comm), m_dialogs(dialogs), m_log(new TTrafficLog(this)),
      m_filtered(new TTrafficLogView(this)), m_view(new QListView(this)), m_filterBox(new QComboBox(this)),
      m_pause(new QPushButton(QStringLiteral("Пауза"), this)), m_status(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Журнал обмена"));
    // An open log never keeps the program running once its main window is closed.
    setAttribute(Qt::WA_QuitOnClose, false);
    resize(900, 420);
    m_saveState.title = QStringLiteral("Сохранить журнал обмена");
    m_saveState.filter = QStringLiteral("Текстовые файлы (*.txt)|*.txt|Все файлы (*.*)|*.*");
    m_saveState.defaultExt = QStringLiteral(".txt");
    m_saveState.fileName = QStringLiteral("Журнал обмена.txt");

    m_filtered->setSourceModel(m_log);
    m_view->setModel(m_filtered);
    m_view->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_view->setUniformItemSizes(true); // thousands of lines lay out at once
    const QFontMetrics metrics(m_view->font());
    m_filtered->setLineSize(QSize(metrics.horizontalAdvance(QString(longestLine, QLatin1Char('0'))), metrics.height()));
    m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);

    auto *copy = new QAction(QStringLiteral("Копировать"), m_view);
    copy->setShortcut(QKeySequence::Copy);
    m_view->addAction(copy);
    m_view->setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(copy, &QAction::triggered, this, [this] {
        QModelIndexList rows = m_view->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end());
        QString text;
        for (const QModelIndex &row : rows)
            text += row.data().toString() + QLatin1Char('\n');
        QApplication::clipboard()->setText(text);
    });

    m_filterBox->addItems({QStringLiteral("Все строки"), QStringLiteral("Только команды и ответы"),
                           QStringLiteral("Только ошибки")});
    connect(m_filterBox, qOverload<int>(&QComboBox::currentIndexChanged), this,
            [this](int index) { setFilter(TTrafficFilter(index)); });

    m_pause->setCheckable(true);
    m_pause->setToolTip(QStringLiteral("Строки записываются и дальше, но показываются только после продолжения"));
    connect(m_pause, &QPushButton::toggled, this, [this](bool paused) {
        m_pause->setText(paused ? QStringLiteral("Продолжить") : QStringLiteral("Пауза"));
        m_log->setPaused(paused);
        updateStatus();
    });
    auto *clear = new QPushButton(QStringLiteral("Очистить"), this);
    connect(clear, &QPushButton::clicked, m_log, &TTrafficLog::clear);
    auto *save = new QPushButton(QStringLiteral("Сохранить в файл"), this);
    save->setToolTip(QStringLiteral("Строки, которые показывает фильтр, в текстовый файл (UTF-8)"));
    connect(save, &QPushButton::clicked, this, &TTrafficLogWindow::saveToFile);

    auto *bar = new QHBoxLayout;
    bar->addWidget(new QLabel(QStringLiteral("Показывать:"), this));
    bar->addWidget(m_filterBox);
    bar->addWidget(m_pause);
    bar->addWidget(clear);
    bar->addWidget(save);
    bar->addStretch();
    bar->addWidget(m_status);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(m_view);

    // New lines keep the view at its end only when it was there: a reader who
    // scrolled up is not pulled away.
    connect(m_filtered, &QAbstractItemModel::rowsAboutToBeInserted, this, [this] {
        const QScrollBar *bar = m_view->verticalScrollBar();
        m_following = bar->value() == bar->maximum();
    });
    connect(m_filtered, &QAbstractItemModel::rowsInserted, this, [this] {
        if (m_following)
            m_view->scrollToBottom();
        updateStatus();
    });
    connect(m_filtered, &QAbstractItemModel::rowsRemoved, this, &TTrafficLogWindow::updateStatus);
    connect(m_filtered, &QAbstractItemModel::modelReset, this, &TTrafficLogWindow::updateStatus);
    updateStatus();
}

TTrafficLogWindow::~TTrafficLogWindow()
{
    detach();
}

void TTrafficLogWindow::attach()
{
    if (m_attached || !m_comm)
        return;
    m_attached = true;
    m_log->addNote(QStringLiteral("Журнал открыт: порт %1%2, %3")
                       .arg(m_comm->portText(), m_comm->PortOpen() ? QString() : QStringLiteral(" (закрыт)"),
                            m_comm->Settings()));
    m_comm->setTrafficTap(m_log);
}

void TTrafficLogWindow::detach()
{
    if (!m_attached)
        return;
    m_attached = false;
    if (m_comm && m_comm->trafficTap() == m_log)
        m_comm->setTrafficTap(nullptr);
    m_log->addNote(QStringLiteral("Журнал закрыт: обмен дальше не записывался"));
}

void TTrafficLogWindow::showEvent(QShowEvent *event)
{
    attach();
    QWidget::showEvent(event);
}

void TTrafficLogWindow::hideEvent(QHideEvent *event)
{
    // Minimised, the window still records; closed or hidden by the program, it stops.
    if (!event->spontaneous())
        detach();
    QWidget::hideEvent(event);
}

void TTrafficLogWindow::setFilter(TTrafficFilter filter)
{
    m_filtered->setFilter(filter);
    if (m_filterBox->currentIndex() != int(filter))
        m_filterBox->setCurrentIndex(int(filter));
    m_view->scrollToBottom();
    updateStatus();
}

TTrafficFilter TTrafficLogWindow::filter() const
{
    return m_filtered->filter();
}

int TTrafficLogWindow::shownLineCount() const
{
    return m_filtered->rowCount();
}

void TTrafficLogWindow::updateStatus()
{
    QString text = QStringLiteral("Строк: %1").arg(m_filtered->rowCount());
    if (m_log->paused())
        text += QStringLiteral(" (пауза)");
    m_status->setText(text);
}

void TTrafficLogWindow::saveToFile()
{
    if (!m_dialogs->executeSave(this, m_saveState))
        return;
    const QString reason = writeFileWhole(m_saveState.fileName, m_log->text(filter()).toUtf8());
    if (!reason.isEmpty())
        m_dialogs->showError(this, QStringLiteral("Не удалось записать файл \"%1\": %2").arg(m_saveState.fileName, reason));
}
