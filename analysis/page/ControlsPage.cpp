#include "analysis/page/ControlsPage.h"

#include "analysis/PlateLayout.h"
#include "analysis/page/LeveyJenningsChart.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "measure/PrintService.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include <cmath>

using namespace westgard;

namespace {
const QString keyLastTestSystem = QStringLiteral("controls/lastTestSystem");
const QString keyLastControl = QStringLiteral("controls/lastControl");
const QString printTitle = QStringLiteral("Контроли");
const QString chartImage = QStringLiteral("lorit:levey-jennings.png");
constexpr int chartWidth = 1600, chartHeight = 800; ///< px of the picture, drawn smaller on paper
constexpr int largestBaselineRuns = 1000;

QString escaped(const QString &text) { return text.toHtmlEscaped(); }

QString timeText(const QDateTime &time)
{
    return time.isValid() ? time.toString(QStringLiteral("dd.MM.yyyy HH:mm")) : QStringLiteral("—");
}

QString baselineText(const TControlState &state)
{
    if (!state.baseline)
        return state.note;
    const QString mean = QString::number(state.baseline->mean, 'g', 6), sd = QString::number(state.baseline->sd, 'g', 4);
    return state.baselinePoints > 0
               ? QStringLiteral("Среднее %1, SD %2 — по первым сериям контроля (%3)").arg(mean, sd).arg(state.baselinePoints)
               : QStringLiteral("Среднее %1, SD %2 — заданы").arg(mean, sd);
}

void setCell(QTableWidget *table, int row, int column, const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table->setItem(row, column, item);
}

/// A name a PDF can go under: letters, digits and a few signs, the rest "_".
QString fileNamePart(QString text)
{
    text.replace(QChar(0x2212), QLatin1Char('-'));
    for (QChar &ch : text)
        if (!ch.isLetterOrNumber() && ch != QLatin1Char('-') && ch != QLatin1Char('+'))
            ch = QLatin1Char('_');
    return text;
}
} // namespace

TControlsPage::TControlsPage(TPageHost &host, const TControlHistory &history, QWidget *parent)
    : QWidget(parent), m_host(host), m_history(history)
{
    CreateLayout();
    ConnectHandlers();
    // The history is read when the page is shown: an archive is not opened for a page
    // nobody looks at, nor before the program knows its working folder.
}

void TControlsPage::CreateLayout()
{
    // The window keeps its drawn size: at it the page scrolls, and it fills a grown one.
    QWidget *content = scrolledContent(this);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);

    cbTestSystem = new QComboBox(content);
    cbTestSystem->setAccessibleName(QStringLiteral("Тест-система:"));
    cbTestSystem->setMinimumContentsLength(12);
    cbTestSystem->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbControl = new QComboBox(content);
    cbControl->setAccessibleName(QStringLiteral("Контроль:"));
    cbControl->setMinimumContentsLength(6);
    auto *choice = new QHBoxLayout;
    choice->addWidget(new QLabel(QStringLiteral("Тест-система:"), content));
    choice->addWidget(cbTestSystem, 2);
    choice->addWidget(new QLabel(QStringLiteral("Контроль:"), content));
    choice->addWidget(cbControl, 1);
    choice->addStretch();
    layout->addLayout(choice);

    // The baseline: the first N runs of the control, or the mean and SD typed.
    rbFirstRuns = new QRadioButton(QStringLiteral("Базовая линия по первым сериям:"), content);
    sbFirstRuns = new QSpinBox(content);
    sbFirstRuns->setRange(leastBaselineRuns, largestBaselineRuns);
    sbFirstRuns->setAccessibleName(QStringLiteral("Число первых серий"));
    rbTyped = new QRadioButton(QStringLiteral("Заданы: среднее"), content);
    edMean = new QLineEdit(content);
    edMean->setAccessibleName(QStringLiteral("Среднее"));
    edSd = new QLineEdit(content);
    edSd->setAccessibleName(QStringLiteral("SD"));
    for (QLineEdit *field : {edMean, edSd})
        field->setMaximumWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("0000.00000")) + 12);
    // Two short rows, so that the page is read whole at the window's drawn width.
    auto *fromRuns = new QHBoxLayout;
    fromRuns->addWidget(rbFirstRuns);
    fromRuns->addWidget(sbFirstRuns);
    fromRuns->addStretch();
    auto *typed = new QHBoxLayout;
    typed->addWidget(rbTyped);
    typed->addWidget(edMean);
    typed->addWidget(new QLabel(QStringLiteral("SD"), content));
    typed->addWidget(edSd);
    typed->addStretch();
    layout->addLayout(fromRuns);
    layout->addLayout(typed);
    lbBaseline = new QLabel(content);
    lbBaseline->setWordWrap(true);
    lbBaseline->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(lbBaseline);

    auto *splitter = new QSplitter(Qt::Vertical, content);
    chart = new TLeveyJenningsChart(splitter);
    auto *listSide = new QWidget(splitter);
    auto *list = new QVBoxLayout(listSide);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(2);
    lbSummary = new QLabel(listSide);
    lbSummary->setWordWrap(true);
    violationsTable = new QTableWidget(0, 5, listSide);
    violationsTable->setAccessibleName(QStringLiteral("Нарушения правил Вестгарда"));
    violationsTable->setHorizontalHeaderLabels({QStringLiteral("Серия"), QStringLiteral("Время"), QStringLiteral("Правило"),
                                                QStringLiteral("Что нарушено"), QStringLiteral("Решение")});
    violationsTable->verticalHeader()->hide();
    violationsTable->verticalHeader()->setDefaultSectionSize(violationsTable->fontMetrics().height() + 6);
    violationsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    violationsTable->horizontalHeader()->setSectionResizeMode(3, QHeaderView::Stretch);
    violationsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    violationsTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->addWidget(lbSummary);
    list->addWidget(violationsTable, 1);
    splitter->addWidget(chart);
    splitter->addWidget(listSide);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);

    auto *buttons = new QHBoxLayout;
    btnPrint = new QPushButton(QStringLiteral("Печать..."), content);
    buttons->addWidget(btnPrint);
    buttons->addStretch();
    layout->addLayout(buttons);
}

void TControlsPage::ConnectHandlers()
{
    connectGuarded(m_host, btnPrint, &QPushButton::clicked, this, &TControlsPage::btnPrintClick);
    connect(cbTestSystem, &QComboBox::activated, this, [this] { m_host.Guarded([this] { TestSystemChosen(); }); });
    connect(cbControl, &QComboBox::activated, this, [this] { m_host.Guarded([this] { ControlChosen(); }); });
    const auto changed = [this] {
        if (!m_updating)
            m_host.Guarded([this] { BaselineChanged(); });
    };
    connect(rbTyped, &QRadioButton::toggled, this, changed);
    connect(sbFirstRuns, &QSpinBox::valueChanged, this, changed);
    connect(edMean, &QLineEdit::editingFinished, this, changed);
    connect(edSd, &QLineEdit::editingFinished, this, changed);
}

void TControlsPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Runs archived while the page was away are on it when it comes back.
    Reload();
}

QString TControlsPage::TestSystem() const { return cbTestSystem->currentText(); }
QString TControlsPage::Control() const { return cbControl->currentText(); }

void TControlsPage::Reload()
{
    if (!isVisible())
        return; // read again when shown
    QSettings &store = m_host.settings().store();
    const QString wanted = cbTestSystem->count() > 0 ? TestSystem() : store.value(keyLastTestSystem).toString();
    m_updating = true;
    cbTestSystem->clear();
    cbTestSystem->addItems(m_history.testSystems());
    if (const int at = cbTestSystem->findText(wanted); at >= 0)
        cbTestSystem->setCurrentIndex(at);
    m_updating = false;
    TestSystemChosen();
}

void TControlsPage::TestSystemChosen()
{
    QSettings &store = m_host.settings().store();
    const QString wanted = cbControl->count() > 0 ? Control() : store.value(keyLastControl).toString();
    m_updating = true;
    cbControl->clear();
    cbControl->addItems(m_history.controls(TestSystem()));
    if (const int at = cbControl->findText(wanted); at >= 0)
        cbControl->setCurrentIndex(at);
    m_updating = false;
    if (!TestSystem().isEmpty())
        store.setValue(keyLastTestSystem, TestSystem());
    Judge();
    ControlChosen();
}

void TControlsPage::ControlChosen()
{
    if (!Control().isEmpty())
        m_host.settings().store().setValue(keyLastControl, Control());
    ShowBaselineSetting();
    ShowControl();
}

void TControlsPage::ShowBaselineSetting()
{
    const bool any = !Control().isEmpty();
    const TBaselineSetting setting = any ? storedBaseline(m_host.settings().store(), TestSystem(), Control()) : TBaselineSetting{};
    m_updating = true;
    rbTyped->setChecked(setting.typed);
    rbFirstRuns->setChecked(!setting.typed);
    sbFirstRuns->setValue(setting.firstRuns);
    // Figures typed once stay in their fields while the first runs are the baseline.
    edMean->setText(std::isfinite(setting.mean) ? QString::number(setting.mean, 'g', 6) : QString());
    edSd->setText(setting.sd > 0 ? QString::number(setting.sd, 'g', 6) : QString());
    m_updating = false;
    for (QWidget *widget : std::initializer_list<QWidget *>{rbFirstRuns, rbTyped})
        widget->setEnabled(any);
    sbFirstRuns->setEnabled(any && !setting.typed);
    edMean->setEnabled(any && setting.typed);
    edSd->setEnabled(any && setting.typed);
}

TBaselineSetting TControlsPage::BaselineSetting() const
{
    TBaselineSetting setting;
    setting.typed = rbTyped->isChecked();
    setting.firstRuns = sbFirstRuns->value();
    setting.mean = analysis::parseNumber(edMean->text()).value_or(std::nan(""));
    setting.sd = analysis::parseNumber(edSd->text()).value_or(std::nan(""));
    return setting;
}

void TControlsPage::BaselineChanged()
{
    if (Control().isEmpty())
        return;
    // Typing starts from the baseline the runs gave: the insert's figures replace it.
    if (rbTyped->isChecked() && edMean->text().trimmed().isEmpty() && edSd->text().trimmed().isEmpty())
        if (const TControlState *state = m_judgement.control(Control()); state && state->baseline) {
            m_updating = true;
            edMean->setText(QString::number(state->baseline->mean, 'g', 6));
            edSd->setText(QString::number(state->baseline->sd, 'g', 6));
            m_updating = false;
        }
    storeBaseline(m_host.settings().store(), TestSystem(), Control(), BaselineSetting());
    sbFirstRuns->setEnabled(!rbTyped->isChecked());
    edMean->setEnabled(rbTyped->isChecked());
    edSd->setEnabled(rbTyped->isChecked());
    Judge();
    ShowControl();
}

void TControlsPage::Judge()
{
    const QString system = TestSystem();
    m_judgement = system.isEmpty() ? TJudgement{} : judge(m_history.allSeries(system), storedBaselines(m_host.settings().store(), system));
}

void TControlsPage::ShowControl()
{
    const TControlState *state = m_judgement.control(Control());
    violationsTable->setRowCount(0);
    btnPrint->setEnabled(state != nullptr);
    if (!state) {
        chart->clear();
        lbBaseline->setText(cbTestSystem->count() == 0 ? QStringLiteral("Серий с контролями пока нет.") : QString());
        lbSummary->clear();
        return;
    }
    chart->setControl(m_judgement, Control());
    lbBaseline->setText(baselineText(*state));
    setTextTint(lbBaseline, state->baseline ? palette().color(QPalette::WindowText) : QColor(0xa0, 0x10, 0x10));

    const std::vector<TViolation> violations = m_judgement.involving(Control());
    violationsTable->setRowCount(int(violations.size()));
    for (int row = 0; row < int(violations.size()); ++row) {
        const TViolation &violation = violations[size_t(row)];
        setCell(violationsTable, row, 0, violation.runId);
        setCell(violationsTable, row, 1, timeText(violation.time));
        setCell(violationsTable, row, 2, ruleName(violation.rule));
        setCell(violationsTable, row, 3, detail(violation));
        violationsTable->item(row, 3)->setToolTip(describe(violation)); // whole, where the column cuts it
        setCell(violationsTable, row, 4, decisionText(violation));
    }
    if (!violations.empty())
        violationsTable->scrollToBottom(); // the latest run is the one the lab asks about

    int values = 0;
    for (const TControlPoint &point : state->series.points)
        values += point.value && std::isfinite(*point.value);
    QString summary = QStringLiteral("Серий: %1, со значением контроля: %2.").arg(state->series.points.size()).arg(values);
    if (state->baseline) {
        int warnings = 0, rejections = 0;
        for (const TViolation &violation : violations)
            ++(violation.rejects() ? rejections : warnings);
        summary += violations.empty() ? QStringLiteral(" Правила Вестгарда не нарушены.")
                                      : QStringLiteral(" Нарушений: %1 (предупреждений %2, с отбраковкой серии %3).")
                                            .arg(violations.size())
                                            .arg(warnings)
                                            .arg(rejections);
    }
    lbSummary->setText(summary);
}

void TControlsPage::btnPrintClick()
{
    if (!m_judgement.control(Control()))
        return;
    if (!m_printService)
        m_printService = new TPrintService(m_host.dialogParent(), m_host.dialogs());
    m_printService->setDocumentName(QStringLiteral("Контроли_%1_%2").arg(fileNamePart(TestSystem()), fileNamePart(Control())),
                                    m_host.handOverFolder());
    m_printService->previewDocument([this] { return reportDocument(); }, printTitle);
}

std::unique_ptr<QTextDocument> TControlsPage::reportDocument() const
{
    auto document = std::make_unique<QTextDocument>();
    const TControlState *state = m_judgement.control(Control());
    QString html = QStringLiteral("<h3>Контроли</h3><p>Тест-система: %1<br>Контроль: %2<br>")
                       .arg(escaped(TestSystem().isEmpty() ? QStringLiteral("—") : TestSystem()),
                            escaped(Control().isEmpty() ? QStringLiteral("—") : Control()));
    if (!state) {
        document->setHtml(html + QStringLiteral("</p>"));
        return document;
    }
    html += QStringLiteral("Базовая линия: %1<br>%2</p>").arg(escaped(baselineText(*state)), escaped(lbSummary->text()));

    QImage image(chartWidth, chartHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        QFont font = painter.font();
        font.setPixelSize(24);
        painter.setFont(font);
        const std::vector<TViolation> violations = m_judgement.involving(Control());
        TLeveyJenningsChart::paint(painter, QRectF(0, 0, chartWidth, chartHeight), *state, violations,
                                   TLeveyJenningsChart::TColours::paper());
    }
    document->addResource(QTextDocument::ImageResource, QUrl(chartImage), image);
    html += QStringLiteral("<p><img src=\"%1\" width=\"640\" height=\"320\"></p>").arg(chartImage);

    const std::vector<TViolation> violations = m_judgement.involving(Control());
    if (!violations.empty()) {
        // The header row repeats on every page the table runs onto.
        html += QStringLiteral("<table border=\"1\" cellspacing=\"0\" cellpadding=\"3\" width=\"100%\"><thead><tr>"
                               "<th>Серия</th><th>Время</th><th>Правило</th><th>Что нарушено</th><th>Решение</th>"
                               "</tr></thead>");
        for (const TViolation &violation : violations)
            html += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td></tr>")
                        .arg(escaped(violation.runId), timeText(violation.time), ruleName(violation.rule),
                             escaped(detail(violation)), decisionText(violation));
        html += QStringLiteral("</table>");
    }
    document->setHtml(html);
    return document;
}
