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
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);

    auto *tools = new QGridLayout;
    tools->setHorizontalSpacing(6);
    tools->setVerticalSpacing(2);
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
    // Two pairs a row: the page is read whole at the window's drawn width.
    tools->addWidget(new QLabel(QStringLiteral("Роль:"), this), 0, 0);
    tools->addWidget(cbRole, 0, 1);
    tools->addWidget(new QLabel(QStringLiteral("Повторы:"), this), 0, 2);
    tools->addWidget(spinReplicates, 0, 3);
    tools->addWidget(new QLabel(QStringLiteral("Порядок:"), this), 1, 0);
    tools->addWidget(cbOrder, 1, 1);
    tools->addWidget(new QLabel(QStringLiteral("Разведение:"), this), 1, 2);
    tools->addWidget(edDilution, 1, 3);
    tools->addWidget(new QLabel(QStringLiteral("ID / концентрации:"), this), 2, 0);
    tools->addWidget(edValues, 2, 1, 1, 4);
    tools->setColumnStretch(4, 1);
    layout->addLayout(tools);

    plateGrid = new QTableWidget(plateRows, plateColumns, this);
    plateGrid->setAccessibleName(QStringLiteral("Раскладка планшета"));
    plateGrid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    plateGrid->setSelectionMode(QAbstractItemView::ExtendedSelection);
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
    // Every cell holds its mark or ID over its density ("К 400" / "0.044"), the density
    // whole at any font; at the window's drawn width twelve columns leave a long mark
    // ("К 0.005") cut short rather than pushing the density out of its cell.
    const QFontMetrics cell(small);
    plateGrid->setWordWrap(false);
    plateGrid->horizontalHeader()->setMinimumSectionSize(cell.horizontalAdvance(QStringLiteral("0.000")) + 10);
    plateGrid->verticalHeader()->setMinimumSectionSize(2 * cell.height() + 4);
    plateGrid->setMinimumHeight(plateGrid->horizontalHeader()->sizeHint().height() + plateRows * (2 * cell.height() + 4) + 4);
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
    foot->addWidget(btnPasteList);
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
        QString text = roleMark(well.role);
        if (well.role == TWellRole::Standard)
            text += QLatin1Char(' ') + QString::number(well.concentration, 'g', 4) + (well.masked ? QLatin1Char(' ') + outlierMark : QString());
        else if (well.role == TWellRole::Sample)
            text = well.dilution != 1 ? QStringLiteral("%1 ×%2").arg(well.id).arg(well.dilution) : well.id;
        if (m_od[size_t(i)])
            text += QLatin1Char('\n') + QString::number(*m_od[size_t(i)], 'f', 3);
        QTableWidgetItem *item = plateGrid->item(i / plateColumns, i % plateColumns);
        item->setText(text);
        item->setBackground(roleColour(well.role));
        item->setForeground(QColor(Qt::black));
        item->setToolTip(QStringLiteral("%1 %2").arg(wellName(i), well.role == TWellRole::Empty ? QString() : roleName(well.role)));
    }
}
