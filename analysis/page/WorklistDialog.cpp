#include "analysis/page/WorklistDialog.h"

#include "common/StyledWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace analysis;

namespace {
void setCell(QTableWidget *table, int row, int column, const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table->setItem(row, column, item);
}

QString dilutionText(double dilution) { return QString::number(dilution, 'g', 6); }
} // namespace

TWorklistDialog::TWorklistDialog(const QByteArray &bytes, const QString &fileName, const TPlateLayout &layout,
                                 TWorklistKind kind, QWidget *parent)
    : QDialog(parent), m_bytes(bytes), m_layout(layout)
{
    setWindowTitle(QStringLiteral("Рабочий список"));
    auto *outer = new QVBoxLayout(this);
    lbFile = new QLabel(QStringLiteral("Файл: ") + fileName, this);
    lbFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lbFile);

    auto *choices = new QGridLayout;
    cbKind = new QComboBox(this);
    cbKind->addItem(QStringLiteral("CSV: ID и разведение"), int(TWorklistKind::Csv));
    cbKind->addItem(QStringLiteral("список сканера штрихкодов"), int(TWorklistKind::Barcodes));
    cbKind->setCurrentIndex(kind == TWorklistKind::Barcodes ? 1 : 0);
    cbKind->setAccessibleName(QStringLiteral("Формат:"));
    chkHeader = new QCheckBox(QStringLiteral("Первая строка — заголовок"), this);
    cbOrder = new QComboBox(this);
    cbOrder->addItem(QStringLiteral("по столбцам (A1, B1 …)"), int(TWellOrder::ByColumns));
    cbOrder->addItem(QStringLiteral("по строкам (A1, A2 …)"), int(TWellOrder::ByRows));
    // The layout's own numbering tells in which order its samples were laid out.
    cbOrder->setCurrentIndex(numberingOrder(layout) == TWellOrder::ByRows ? 1 : 0);
    cbOrder->setAccessibleName(QStringLiteral("Порядок мест:"));
    choices->addWidget(new QLabel(QStringLiteral("Формат:"), this), 0, 0);
    choices->addWidget(cbKind, 0, 1);
    choices->addWidget(chkHeader, 0, 2);
    choices->addWidget(new QLabel(QStringLiteral("Порядок мест:"), this), 1, 0);
    choices->addWidget(cbOrder, 1, 1);
    choices->setColumnStretch(3, 1);
    outer->addLayout(choices);

    mappingTable = new QTableWidget(0, 5, this);
    mappingTable->setAccessibleName(QStringLiteral("Раскладка по списку"));
    mappingTable->setHorizontalHeaderLabels({QStringLiteral("Место"), QStringLiteral("Лунки"), QStringLiteral("Было"),
                                             QStringLiteral("ID"), QStringLiteral("Разведение")});
    mappingTable->verticalHeader()->hide();
    mappingTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    mappingTable->horizontalHeader()->setStretchLastSection(true);
    mappingTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    outer->addWidget(mappingTable, 1);

    lbComplaints = new QLabel(this);
    lbComplaints->setWordWrap(true);
    lbComplaints->setTextInteractionFlags(Qt::TextSelectableByMouse);
    outer->addWidget(lbComplaints);

    auto *buttons = new QHBoxLayout;
    btnApply = new QPushButton(QStringLiteral("Применить"), this);
    btnCancel = new QPushButton(QStringLiteral("Отмена"), this);
    btnApply->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(btnApply);
    buttons->addWidget(btnCancel);
    outer->addLayout(buttons);
    resize(560, 480);

    connect(btnApply, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(cbKind, &QComboBox::currentIndexChanged, this, [this] { Remap(false); });
    connect(cbOrder, &QComboBox::currentIndexChanged, this, [this] { Remap(false); });
    connect(chkHeader, &QCheckBox::toggled, this, [this] { Remap(true); });
    Remap(false);
}

void TWorklistDialog::Remap(bool headerChosen)
{
    const auto kind = TWorklistKind(cbKind->currentData().toInt());
    const TWorklist list = parseWorklist(m_bytes, kind, headerChosen ? std::optional<bool>(chkHeader->isChecked()) : std::nullopt);
    {
        const QSignalBlocker quiet(chkHeader);
        chkHeader->setEnabled(kind == TWorklistKind::Csv);
        chkHeader->setChecked(list.hasHeader);
    }
    m_mapping = mapWorklist(list, m_layout, TWellOrder(cbOrder->currentData().toInt()));

    mappingTable->setRowCount(int(m_mapping.positions.size()));
    for (int row = 0; row < int(m_mapping.positions.size()); ++row) {
        const TSamplePosition &position = m_mapping.positions[size_t(row)];
        const auto &given = m_mapping.rows[size_t(row)];
        QStringList wells;
        for (const int well : position.wells)
            wells << wellName(well);
        setCell(mappingTable, row, 0, QString::number(row + 1));
        setCell(mappingTable, row, 1, wells.join(QStringLiteral(", ")));
        setCell(mappingTable, row, 2, position.id);
        setCell(mappingTable, row, 3, given ? given->id : QStringLiteral("— (остается)"));
        setCell(mappingTable, row, 4, given && given->dilution ? dilutionText(*given->dilution)
                                                               : dilutionText(position.dilution) + QStringLiteral(" (как было)"));
    }
    const int given = int(std::count_if(m_mapping.rows.begin(), m_mapping.rows.end(), [](const auto &r) { return r.has_value(); }));
    QStringList lines;
    for (const TWorklistComplaint &complaint : m_mapping.complaints)
        lines << complaintText(complaint);
    if (lines.isEmpty())
        lbComplaints->setText(QStringLiteral("Образцов в списке: %1, мест на раскладке: %2.").arg(given).arg(m_mapping.positions.size()));
    else
        lbComplaints->setText(QStringLiteral("Список не применить, пока в нем ошибки:\n") + lines.join(QLatin1Char('\n')));
    setTextTint(lbComplaints, lines.isEmpty() ? palette().color(QPalette::WindowText) : QColor(0xa0, 0x10, 0x10));
    btnApply->setEnabled(m_mapping.applicable());
}

TPlateLayout TWorklistDialog::appliedLayout() const
{
    return applyWorklist(m_layout, m_mapping);
}
