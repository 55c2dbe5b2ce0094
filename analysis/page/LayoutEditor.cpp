#include "analysis/page/LayoutEditor.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace analysis;

namespace {
/// Light colours, one per role, told apart by the colour-blind too (and by the mark).
QColor roleColour(TWellRole role)
{
    switch (role) {
    case TWellRole::Blank: return QColor(0xe0, 0xe0, 0xe0);
    case TWellRole::Negative: return QColor(0xb3, 0xd9, 0xf2);
    case TWellRole::Positive: return QColor(0xf7, 0xc2, 0x9c);
    case TWellRole::Standard: return QColor(0xf3, 0xe7, 0x9b);
    case TWellRole::Sample: return QColor(0xd4, 0xee, 0xd1);
    case TWellRole::Empty: break;
    }
    return QColor(Qt::white);
}

constexpr TWellRole rolesInBox[] = {TWellRole::Sample, TWellRole::Standard, TWellRole::Blank,
                                    TWellRole::Negative, TWellRole::Positive, TWellRole::Empty};
constexpr int maskEntry = -1; ///< the role box's data of "выброс калибратора"
const QString outlierMark = QStringLiteral("✗");
} // namespace

TLayoutEditor::TLayoutEditor(QWidget *parent) : QWidget(parent)
{
    CreateLayout();
    Refresh();
}

void TLayoutEditor::CreateLayout()
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);

    auto *tools = new QVBoxLayout;
    tools->setSpacing(2);
    cbRole = new QComboBox(this);
    for (const TWellRole role : rolesInBox)
        cbRole->addItem(role == TWellRole::Empty ? QStringLiteral("пусто") : roleName(role), int(role));
    cbRole->addItem(QStringLiteral("выброс калибратора"), maskEntry);
    cbRole->setAccessibleName(QStringLiteral("Роль:"));
    spinReplicates = new QSpinBox(this);
    spinReplicates->setRange(1, 8);
    spinReplicates->setAccessibleName(QStringLiteral("Повторы:"));
    cbOrder = new QComboBox(this);
    cbOrder->addItem(QStringLiteral("по столбцам"), int(TWellOrder::ByColumns));
    cbOrder->addItem(QStringLiteral("по строкам"), int(TWellOrder::ByRows));
    cbOrder->setAccessibleName(QStringLiteral("Порядок:"));
    edValues = new QLineEdit(this);
    edValues->setPlaceholderText(QStringLiteral("через «;»; пусто — номера по порядку"));
    edValues->setAccessibleName(QStringLiteral("ID / концентрации:"));
    edDilution = new QLineEdit(this);
    edDilution->setPlaceholderText(QStringLiteral("1"));
    edDilution->setAccessibleName(QStringLiteral("Разведение:"));
    edDilution->setMaximumWidth(60);
    btnPasteList = new QPushButton(QStringLiteral("Вставить список"), this);
    btnClearLayout = new QPushButton(QStringLiteral("Очистить"), this);
    // Two short rows above the plate, so that the plate and its eight rows fit the
    // window's drawn size under the page's own lines.
    auto *assignment = new QHBoxLayout;
    assignment->setSpacing(4);
    assignment->addWidget(new QLabel(QStringLiteral("Роль:"), this));
    assignment->addWidget(cbRole);
    assignment->addWidget(new QLabel(QStringLiteral("Повторы:"), this));
    assignment->addWidget(spinReplicates);
    assignment->addWidget(new QLabel(QStringLiteral("Порядок:"), this));
    assignment->addWidget(cbOrder);
    assignment->addStretch();
    auto *values = new QHBoxLayout;
    values->setSpacing(4);
    values->addWidget(new QLabel(QStringLiteral("ID / концентрации:"), this));
    values->addWidget(edValues, 1);
    values->addWidget(btnPasteList);
    values->addWidget(new QLabel(QStringLiteral("Разведение:"), this));
    values->addWidget(edDilution);
    tools->addLayout(assignment);
    tools->addLayout(values);
    layout->addLayout(tools);

    plateGrid = new QTableWidget(plateRows, plateColumns, this);
    plateGrid->setAccessibleName(QStringLiteral("Раскладка планшета"));
    plateGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    plateGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
    plateGrid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    plateGrid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QStringList rows, columns;
    for (int row = 0; row < plateRows; ++row)
        rows << QString(QChar(u'A' + row));
    for (int column = 1; column <= plateColumns; ++column)
        columns << QString::number(column);
    plateGrid->setVerticalHeaderLabels(rows);
    plateGrid->setHorizontalHeaderLabels(columns);
    plateGrid->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    plateGrid->verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    QFont small = plateGrid->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    plateGrid->setFont(small);
    // A cell holds its mark or ID over its density when its row has room for two lines
    // ("К 400" / "0.044"), else one of them whole (see FitCells); the plate's eight rows
    // always fit, so the page is read without scrolling at the window's drawn size.
    const QFontMetrics cell(small);
    plateGrid->setWordWrap(false);
    plateGrid->horizontalHeader()->setMinimumSectionSize(cell.horizontalAdvance(QStringLiteral("0.000")) + 2 * cellMargin);
    plateGrid->verticalHeader()->setMinimumSectionSize(cell.height() + 2);
    plateGrid->setMinimumHeight(plateGrid->horizontalHeader()->sizeHint().height() + plateRows * (cell.height() + 2) + 4);
    for (int i = 0; i < wellCount; ++i) {
        auto *item = new QTableWidgetItem;
        item->setTextAlignment(Qt::AlignCenter);
        plateGrid->setItem(i / plateColumns, i % plateColumns, item);
    }
    plateGrid->viewport()->installEventFilter(this);
    layout->addWidget(plateGrid, 1);

    lbHint = new QLabel(QStringLiteral("Выберите роль, затем щелкните по лункам или обведите их мышью."), this);
    lbHint->setWordWrap(true);
    auto *foot = new QHBoxLayout;
    foot->addWidget(lbHint, 1);
    foot->addWidget(btnClearLayout);
    layout->addLayout(foot);

    connect(btnPasteList, &QPushButton::clicked, this, [this] {
        edValues->setText(splitList(QApplication::clipboard()->text()).join(QStringLiteral("; ")));
    });
    connect(btnClearLayout, &QPushButton::clicked, this, [this] {
        const QString name = m_layout.name;
        m_layout = {};
        m_layout.name = name;
        Refresh();
        Q_EMIT layoutChanged();
    });
    // A key press (Enter, Space) gives the role to the wells chosen with the keyboard.
    connect(plateGrid, &QTableWidget::itemActivated, this, [this] { AssignSelection(); });
}

bool TLayoutEditor::eventFilter(QObject *watched, QEvent *event)
{
    // A click or a drag ends with the button's release: then the wells swept take the role.
    if (watched == plateGrid->viewport() && event->type() == QEvent::Resize)
        QMetaObject::invokeMethod(this, [this] { FitCells(); }, Qt::QueuedConnection); // once the rows have their height
    if (watched == plateGrid->viewport() && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        // After the view has taken the release and settled the selection.
        QMetaObject::invokeMethod(this, [this] { AssignSelection(); }, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

void TLayoutEditor::AssignSelection()
{
    std::vector<int> wells;
    for (const QModelIndex &index : plateGrid->selectionModel()->selectedIndexes())
        wells.push_back(index.row() * plateColumns + index.column());
    if (wells.empty())
        return;
    if (cbRole->currentData().toInt() == maskEntry) {
        const int changed = toggleMask(m_layout, wells);
        lbHint->setText(changed == 0 ? QStringLiteral("Среди выбранных лунок нет калибраторов.")
                                     : QStringLiteral("Калибраторов: %1 — выброс отмечен или снят.").arg(changed));
        Refresh();
        if (changed > 0)
            Q_EMIT layoutChanged();
        return;
    }
    TAssignment assignment;
    assignment.role = TWellRole(cbRole->currentData().toInt());
    if (!edDilution->text().trimmed().isEmpty()) {
        const auto dilution = parseNumber(edDilution->text());
        if (!dilution || !(*dilution > 0)) {
            lbHint->setText(QStringLiteral("Разведение «%1» не число больше нуля.").arg(edDilution->text()));
            return;
        }
        assignment.dilution = *dilution;
    }
    assignment.order = TWellOrder(cbOrder->currentData().toInt());
    assignment.replicates = spinReplicates->value();
    assignment.values = splitList(edValues->text());
    // The wells being given a role again do not count for the numbering: a click on
    // the first well, then Shift and a click on the last, number from 1 all the same.
    TPlateLayout withoutThem = m_layout;
    for (const int well : wells)
        withoutThem.wells[size_t(well)] = {};
    const QString refusal = assign(withoutThem, wells, assignment);
    if (!refusal.isEmpty()) {
        lbHint->setText(refusal);
        return;
    }
    m_layout = withoutThem;
    lbHint->setText(QStringLiteral("Лунок: %1 — %2.")
                        .arg(wells.size())
                        .arg(assignment.role == TWellRole::Empty ? QStringLiteral("пусто") : roleName(assignment.role)));
    Refresh();
    Q_EMIT layoutChanged();
}

void TLayoutEditor::setLayout(const TPlateLayout &layout)
{
    m_layout = layout;
    Refresh();
}

void TLayoutEditor::setDensities(const std::array<std::optional<double>, wellCount> &od)
{
    m_od = od;
    Refresh();
}

void TLayoutEditor::Refresh()
{
    for (int i = 0; i < wellCount; ++i) {
        const TWell &well = m_layout.wells[size_t(i)];
        QString mark = roleMark(well.role), shortMark;
        if (well.role == TWellRole::Standard) {
            // The concentration alone when the cell is too narrow for the mark: the
            // colour says it is a calibrator.
            shortMark = QString::number(well.concentration, 'g', 4) + (well.masked ? QLatin1Char(' ') + outlierMark : QString());
            mark += QLatin1Char(' ') + shortMark;
        } else if (well.role == TWellRole::Sample) {
            mark = well.dilution != 1 ? QStringLiteral("%1 ×%2").arg(well.id).arg(well.dilution) : well.id;
        } else if (well.role == TWellRole::Empty) {
            mark.clear();
        }
        m_cells[size_t(i)] = {mark, shortMark,
                              m_od[size_t(i)] ? QString::number(*m_od[size_t(i)], 'f', 3) : QString()};
        QTableWidgetItem *item = plateGrid->item(i / plateColumns, i % plateColumns);
        item->setBackground(roleColour(well.role));
        item->setForeground(QColor(Qt::black));
        QStringList tip{wellName(i)};
        if (well.role != TWellRole::Empty)
            tip << roleName(well.role) + (mark.isEmpty() || mark == roleName(well.role) ? QString() : QStringLiteral(" ") + mark);
        if (m_od[size_t(i)])
            tip << QStringLiteral("ОП ") + m_cells[size_t(i)].od;
        item->setToolTip(tip.join(QStringLiteral(", ")));
    }
    FitCells();
}

void TLayoutEditor::FitCells()
{
    const QFontMetrics metrics(plateGrid->font());
    for (int i = 0; i < wellCount; ++i) {
        const int row = i / plateColumns, column = i % plateColumns;
        const int room = plateGrid->columnWidth(column) - 2 * cellMargin;
        const bool twoLines = plateGrid->rowHeight(row) >= 2 * metrics.lineSpacing() + 2;
        const TCell &cell = m_cells[size_t(i)];
        const auto fit = [&](const QString &text, const QString &shorter) {
            if (metrics.horizontalAdvance(text) <= room || shorter.isEmpty())
                return metrics.horizontalAdvance(text) <= room ? text : metrics.elidedText(text, Qt::ElideRight, room);
            return metrics.horizontalAdvance(shorter) <= room ? shorter : metrics.elidedText(shorter, Qt::ElideRight, room);
        };
        QString text;
        // Both when there is room; else the mark of a well with a role, the density of
        // one without (the tooltip tells both).
        if (cell.mark.isEmpty())
            text = cell.od;
        else if (cell.od.isEmpty() || !twoLines)
            text = fit(cell.mark, cell.shortMark);
        else
            text = fit(cell.mark, cell.shortMark) + QLatin1Char('\n') + cell.od;
        plateGrid->item(row, column)->setText(text);
    }
}
