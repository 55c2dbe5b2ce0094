#include "analysis/page/AnalysisPage.h"

#include "analysis/ResultsCsv.h"
#include "analysis/page/AnalysisReport.h"
#include "analysis/page/AnalysisWorkbook.h"
#include "analysis/page/CalculationPanel.h"
#include "analysis/page/CurveChart.h"
#include "analysis/page/LayoutEditor.h"
#include "common/Contrast.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "common/WholeFile.h"
#include "measure/MeasureData.h"
#include "measure/PlateWorkbook.h"
#include "measure/PrintService.h"
#include "measure/ReaderPage.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

using namespace analysis;

namespace {
const QString settingsGroup = QStringLiteral("analysis");
const QString keyOperator = QStringLiteral("analysis/operator");
const QString keyLastTestSystem = QStringLiteral("analysis/lastTestSystem");
const QString systemsGroup = QStringLiteral("analysis/testSystems");
constexpr qint64 largestLayoutFile = 1 << 20; ///< a layout is a few kilobytes

/// A test system's name as a settings key: any character, no separators.
QString systemKey(const QString &name)
{
    return systemsGroup + QLatin1Char('/') + QString::fromLatin1(name.toUtf8().toHex());
}

QString shown(const QString &path) { return QDir::toNativeSeparators(path); }

void setCell(QTableWidget *table, int row, int column, const QString &text)
{
    auto *item = new QTableWidgetItem(text);
    item->setFlags(item->flags() & ~Qt::ItemIsEditable);
    table->setItem(row, column, item);
}

QString fixed(const std::optional<double> &value, int decimals)
{
    return value ? QString::number(*value, 'f', decimals) : QString();
}
} // namespace

TAnalysisPage::TAnalysisPage(TPageHost &host, const TReaderPage &reader, QWidget *parent)
    : QWidget(parent), m_host(host), m_reader(reader)
{
    odlgTable.title = QStringLiteral("Таблица оптических плотностей");
    odlgTable.filter = QStringLiteral("Таблица ОП (*.xls *.txt)|*.xls;*.txt|Все файлы (*)|*");
    odlgTable.memoryKey = dialogKey::measureOpen;
    dlgLayout.filter = QStringLiteral("Раскладка планшета (*.json)|*.json");
    dlgLayout.defaultExt = QStringLiteral(".json");
    dlgLayout.memoryKey = QStringLiteral("analysisLayout");
    sdlgResults.memoryKey = QStringLiteral("analysisResults");

    CreateLayout();
    // The last test system and its layout are offered again; the operator is asked once.
    QSettings &store = m_host.settings().store();
    m_restoring = true;
    edOperator->setText(store.value(keyOperator).toString());
    cbTestSystem->addItems(RememberedTestSystems());
    cbTestSystem->setCurrentText(store.value(keyLastTestSystem).toString());
    m_restoring = false;
    TestSystemChosen();
    ConnectHandlers();
    Recalculate();
}

void TAnalysisPage::CreateLayout()
{
    // The window keeps its drawn size: at it the page scrolls, and it fills a grown one.
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto *scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll);
    auto *content = new QWidget(scroll);
    scroll->setWidget(content);
    auto *layout = new QVBoxLayout(content);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);
    // Three short lines, so that the page is read whole at the window's drawn width.
    auto *bar = new QVBoxLayout;
    bar->setSpacing(2);
    lbSource = new QLabel(this);
    lbSource->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbSource->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // a long name never widens the page
    btnTakeReaderTable = new QPushButton(QStringLiteral("Из «Ридер ОП»"), this);
    btnOpenTable = new QPushButton(QStringLiteral("Открыть таблицу..."), this);
    cbTestSystem = new QComboBox(this);
    cbTestSystem->setEditable(true);
    cbTestSystem->setInsertPolicy(QComboBox::NoInsert);
    cbTestSystem->setAccessibleName(QStringLiteral("Тест-система:"));
    cbTestSystem->setMinimumContentsLength(10);
    edOperator = new QLineEdit(this);
    edOperator->setAccessibleName(QStringLiteral("Оператор:"));
    btnSaveLayout = new QPushButton(QStringLiteral("Сохранить раскладку..."), this);
    btnOpenLayout = new QPushButton(QStringLiteral("Открыть раскладку..."), this);
    auto *source = new QHBoxLayout;
    source->addWidget(lbSource, 1);
    source->addWidget(btnTakeReaderTable);
    source->addWidget(btnOpenTable);
    auto *run = new QHBoxLayout;
    run->addWidget(new QLabel(QStringLiteral("Тест-система:"), this));
    run->addWidget(cbTestSystem, 2);
    run->addWidget(new QLabel(QStringLiteral("Оператор:"), this));
    run->addWidget(edOperator, 1);
    auto *layoutFile = new QHBoxLayout;
    layoutFile->addWidget(btnOpenLayout);
    layoutFile->addWidget(btnSaveLayout);
    layoutFile->addStretch();
    bar->addLayout(source);
    bar->addLayout(run);
    bar->addLayout(layoutFile);
    layout->addLayout(bar);

    tabs = new QTabWidget(this);
    layoutEditor = new TLayoutEditor(tabs);
    calculation = new TCalculationPanel(tabs);
    tabs->addTab(layoutEditor, QStringLiteral("Раскладка планшета"));
    tabs->addTab(calculation, QStringLiteral("Расчет"));
    tabs->addTab(CreateResultsTab(), QStringLiteral("Результаты"));
    layout->addWidget(tabs, 1);
}

QWidget *TAnalysisPage::CreateResultsTab()
{
    auto *page = new QWidget(tabs);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);
    lbSummary = new QLabel(page);
    lbSummary->setWordWrap(true);
    lbSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbProblems = new QLabel(page);
    lbProblems->setWordWrap(true);
    setTextTint(lbProblems, QColor(0xa0, 0x10, 0x10)); // a warning's red, readable on any desktop
    layout->addWidget(lbSummary);
    layout->addWidget(lbProblems);

    auto *splitter = new QSplitter(Qt::Horizontal, page);
    resultsTable = new QTableWidget(0, 8, splitter);
    resultsTable->setAccessibleName(QStringLiteral("Результаты"));
    resultsTable->setHorizontalHeaderLabels({QStringLiteral("ID"), QStringLiteral("Лунки"), QStringLiteral("ОП испр."),
                                             QStringLiteral("CV, %"), QStringLiteral("Индекс"),
                                             QStringLiteral("Концентрация"), QStringLiteral("Результат"),
                                             QStringLiteral("Примечание")});
    resultsTable->verticalHeader()->hide();
    resultsTable->verticalHeader()->setDefaultSectionSize(resultsTable->fontMetrics().height() + 6);
    resultsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    resultsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    auto *curveSide = new QSplitter(Qt::Vertical, splitter);
    curveChart = new TCurveChart(curveSide);
    standardsTable = new QTableWidget(0, 6, curveSide);
    standardsTable->setAccessibleName(QStringLiteral("Калибраторы"));
    standardsTable->setHorizontalHeaderLabels({QStringLiteral("Лунка"), QStringLiteral("Конц."), QStringLiteral("ОП испр."),
                                               QStringLiteral("Остаток"), QStringLiteral("Обратный расчет"),
                                               QStringLiteral("Извлечение, %")});
    standardsTable->verticalHeader()->hide();
    standardsTable->verticalHeader()->setDefaultSectionSize(standardsTable->fontMetrics().height() + 6);
    standardsTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    standardsTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    curveSide->addWidget(curveChart);
    curveSide->addWidget(standardsTable);
    curveSide->setStretchFactor(0, 3);
    curveSide->setStretchFactor(1, 1);
    splitter->addWidget(resultsTable);
    splitter->addWidget(curveSide);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 1);

    auto *buttons = new QHBoxLayout;
    btnExportXlsx = new QPushButton(QStringLiteral("В Excel..."), page);
    btnExportCsv = new QPushButton(QStringLiteral("В CSV..."), page);
    btnPrint = new QPushButton(QStringLiteral("Печать..."), page);
    for (QPushButton *button : {btnExportXlsx, btnExportCsv, btnPrint})
        buttons->addWidget(button);
    buttons->addStretch();
    layout->addLayout(buttons);
    return page;
}

void TAnalysisPage::ConnectHandlers()
{
    const auto on = [this](QPushButton *button, void (TAnalysisPage::*handler)()) {
        connectGuarded(m_host, button, &QPushButton::clicked, this, handler);
    };
    on(btnTakeReaderTable, &TAnalysisPage::btnTakeReaderTableClick);
    on(btnOpenTable, &TAnalysisPage::btnOpenTableClick);
    on(btnSaveLayout, &TAnalysisPage::btnSaveLayoutClick);
    on(btnOpenLayout, &TAnalysisPage::btnOpenLayoutClick);
    on(btnExportXlsx, &TAnalysisPage::btnExportXlsxClick);
    on(btnExportCsv, &TAnalysisPage::btnExportCsvClick);
    on(btnPrint, &TAnalysisPage::btnPrintClick);
    connectGuarded(m_host, cbTestSystem->lineEdit(), &QLineEdit::editingFinished, this, &TAnalysisPage::TestSystemChosen);
    connect(cbTestSystem, &QComboBox::activated, this, [this] { TestSystemChosen(); });
    connect(edOperator, &QLineEdit::textChanged, this,
            [this](const QString &name) { m_host.settings().store().setValue(keyOperator, name.trimmed()); });
    const auto changed = [this] {
        Remember();
        Recalculate();
    };
    connect(layoutEditor, &TLayoutEditor::layoutChanged, this, changed);
    connect(calculation, &TCalculationPanel::settingsChanged, this, changed);
}

void TAnalysisPage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Arriving after a new table was read: that table is the one to analyse.
    if (m_reader.odTableText.size() == od::tableLength && m_reader.odTableText != m_readerTableTaken)
        btnTakeReaderTableClick();
}

bool TAnalysisPage::Choose(TFileDialogState &dialog, bool save)
{
    // The window knows its folders only once it has started: the dialogs start where
    // they were left, else where the copies for other programs go.
    if (dialog.initialDir.isEmpty())
        dialog.initialDir = m_host.settings().dialogFolder(dialog.memoryKey, m_host.handOverFolder());
    return save ? m_host.dialogs()->executeSave(m_host.dialogParent(), dialog)
                : m_host.dialogs()->executeOpen(m_host.dialogParent(), dialog);
}

void TAnalysisPage::btnTakeReaderTableClick()
{
    if (m_reader.odTableText.size() != od::tableLength) {
        m_host.ShowStatus(QStringLiteral("На странице «Ридер ОП» нет принятой таблицы."));
        return;
    }
    m_readerTableTaken = m_reader.odTableText;
    TakeTable(m_reader.odTableText, fileSystemName(m_reader.odInstrumentName), m_reader.odReadAt);
    m_host.ShowStatus(QStringLiteral("Таблица взята со страницы «Ридер ОП»."));
}

void TAnalysisPage::btnOpenTableClick()
{
    if (!Choose(odlgTable, false))
        return;
    const QString path = odlgTable.fileName;
    const QFileInfo info(path);
    // A pipe or a device would hold the window; a file of another length is no table.
    if (!info.isFile()) {
        m_host.ReportError(QStringLiteral("\"%1\" не файл.").arg(shown(path)));
        return;
    }
    if (info.size() != od::tableLength) {
        m_host.ReportError(QStringLiteral("Файл \"%1\" не таблица оптических плотностей: в нем %2 байт, а в таблице %3.")
                               .arg(shown(path))
                               .arg(info.size())
                               .arg(od::tableLength));
        return;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_host.ReportError(QStringLiteral("Не удалось прочитать файл \"%1\": %2").arg(shown(path), file.errorString()));
        return;
    }
    TakeTable(file.read(od::tableLength), info.fileName(), {});
    m_host.ShowStatus(QStringLiteral("Таблица открыта из файла: ") + info.fileName());
}

void TAnalysisPage::TakeTable(const QByteArray &table, const QString &fileName, const QDateTime &readAt)
{
    m_table = table;
    m_tableFile = fileName;
    m_readAt = readAt;
    const auto values = od::tableValues(table);
    for (int i = 0; i < wellCount; ++i)
        m_od[size_t(i)] = plate::opticalDensity(values[size_t(i)]);
    layoutEditor->setDensities(m_od);
    Recalculate();
}

void TAnalysisPage::TestSystemChosen()
{
    const QString name = cbTestSystem->currentText().trimmed();
    if (m_restoring)
        return;
    QSettings &store = m_host.settings().store();
    // Written only when it changes: the page's arrival writes no settings.
    if (store.value(keyLastTestSystem).toString() != name)
        store.setValue(keyLastTestSystem, name);
    const QString key = systemKey(name);
    QString error;
    const auto layout = name.isEmpty() ? std::nullopt : layoutFromJson(store.value(key + QStringLiteral("/layout")).toByteArray(), &error);
    if (layout) {
        // A known test system: its layout and settings as they were left.
        layoutEditor->setLayout(*layout);
        calculation->fromJson(QJsonDocument::fromJson(store.value(key + QStringLiteral("/settings")).toByteArray()).object());
    } else {
        // A new name: the layout on screen becomes its layout.
        TPlateLayout renamed = layoutEditor->layout();
        renamed.name = name;
        layoutEditor->setLayout(renamed);
        Remember();
    }
    Recalculate();
}

void TAnalysisPage::Remember()
{
    const QString name = cbTestSystem->currentText().trimmed();
    if (m_restoring || name.isEmpty())
        return;
    TPlateLayout layout = layoutEditor->layout();
    layout.name = name;
    QSettings &store = m_host.settings().store();
    store.setValue(systemKey(name) + QStringLiteral("/layout"), layoutToJson(layout));
    store.setValue(systemKey(name) + QStringLiteral("/settings"), QJsonDocument(calculation->toJson()).toJson(QJsonDocument::Compact));
    if (cbTestSystem->findText(name) < 0)
        cbTestSystem->addItem(name);
}

QStringList TAnalysisPage::RememberedTestSystems() const
{
    QSettings &store = m_host.settings().store();
    store.beginGroup(systemsGroup);
    QStringList names;
    for (const QString &key : store.childGroups())
        names << QString::fromUtf8(QByteArray::fromHex(key.toLatin1()));
    store.endGroup();
    names.sort(Qt::CaseInsensitive);
    return names;
}

void TAnalysisPage::btnSaveLayoutClick()
{
    TPlateLayout layout = layoutEditor->layout();
    layout.name = cbTestSystem->currentText().trimmed();
    dlgLayout.fileName = layout.name.isEmpty() ? QStringLiteral("Раскладка") : layout.name;
    if (!Choose(dlgLayout, true))
        return;
    const QString reason = writeFileWhole(dlgLayout.fileName, layoutToJson(layout));
    if (!reason.isEmpty()) {
        m_host.ReportError(QStringLiteral("Раскладка не записана в файл \"%1\": %2").arg(shown(dlgLayout.fileName), reason));
        return;
    }
    m_host.ShowStatus(QStringLiteral("Раскладка записана в файл: ") + QFileInfo(dlgLayout.fileName).fileName());
}

void TAnalysisPage::btnOpenLayoutClick()
{
    if (!Choose(dlgLayout, false))
        return;
    const QString path = dlgLayout.fileName;
    const QFileInfo info(path);
    QFile file(path);
    QString error;
    std::optional<TPlateLayout> layout;
    if (!info.isFile() || info.size() > largestLayoutFile)
        error = QStringLiteral("это не файл раскладки");
    else if (!file.open(QIODevice::ReadOnly))
        error = file.errorString();
    else
        layout = layoutFromJson(file.readAll(), &error);
    if (!layout) {
        m_host.ReportError(QStringLiteral("Раскладка из файла \"%1\" не открыта: %2.").arg(shown(path), error));
        return;
    }
    layoutEditor->setLayout(*layout);
    if (!layout->name.isEmpty()) {
        m_restoring = true;
        cbTestSystem->setCurrentText(layout->name);
        m_restoring = false;
        m_host.settings().store().setValue(keyLastTestSystem, layout->name);
    }
    Remember();
    Recalculate();
    m_host.ShowStatus(QStringLiteral("Раскладка открыта из файла: ") + info.fileName());
}

QString TAnalysisPage::BaseName() const
{
    QString base = QFileInfo(m_tableFile.trimmed()).completeBaseName();
    if (base.isEmpty())
        base = m_readAt.isValid() ? QStringLiteral("TavDat_") + m_readAt.toString(QStringLiteral("yyyy_MM_dd_HH_mm_ss"))
                                  : QStringLiteral("TavDat");
    return base + QStringLiteral("_анализ");
}

TRunIdentity TAnalysisPage::identity() const
{
    TRunIdentity run;
    run.instrumentFile = m_tableFile.trimmed();
    run.readAt = m_readAt;
    run.operatorName = edOperator->text().trimmed();
    run.testSystem = cbTestSystem->currentText().trimmed();
    run.settings = calculation->describe();
    return run;
}

void TAnalysisPage::btnExportXlsxClick()
{
    sdlgResults.filter = QStringLiteral("Книга Excel (*.xlsx)|*.xlsx");
    sdlgResults.filterIndex = 1;
    sdlgResults.defaultExt = QStringLiteral(".xlsx");
    sdlgResults.fileName = BaseName();
    if (!Choose(sdlgResults, true))
        return;
    const QString error = writeAnalysisWorkbook(sdlgResults.fileName, m_od, layoutEditor->layout(), m_result, identity(),
                                                calculation->settings());
    if (!error.isEmpty()) {
        m_host.ReportError(error);
        return;
    }
    m_host.ShowStatus(QStringLiteral("Результаты записаны в книгу: ") + QFileInfo(sdlgResults.fileName).fileName());
    Q_EMIT analysisFinished();
}

void TAnalysisPage::btnExportCsvClick()
{
    // A spreadsheet on a Russian desktop first; a LIS's once chosen stays chosen.
    sdlgResults.filter = QStringLiteral("CSV для Excel/LibreOffice (*.csv)|*.csv|CSV для ЛИС (*.csv)|*.csv");
    sdlgResults.filterIndex = m_csvType;
    sdlgResults.defaultExt = QStringLiteral(".csv");
    sdlgResults.fileName = BaseName();
    if (!Choose(sdlgResults, true))
        return;
    m_csvType = sdlgResults.filterIndex == 2 ? 2 : 1;
    const TCsvDialect dialect = m_csvType == 2 ? TCsvDialect::Lis : TCsvDialect::Spreadsheet;
    const QString reason = writeFileWhole(sdlgResults.fileName, resultsCsv(layoutEditor->layout(), m_result, dialect));
    if (!reason.isEmpty()) {
        m_host.ReportError(QStringLiteral("Результаты не записаны в файл \"%1\": %2").arg(shown(sdlgResults.fileName), reason));
        return;
    }
    m_host.ShowStatus(QStringLiteral("Результаты записаны в файл: ") + QFileInfo(sdlgResults.fileName).fileName());
    Q_EMIT analysisFinished();
}

void TAnalysisPage::btnPrintClick()
{
    if (!m_printService)
        m_printService = new TPrintService(m_host.dialogParent(), m_host.dialogs());
    // A PDF of it is proposed under the name its files get, in the documents folder.
    m_printService->setDocumentName(BaseName(), m_host.handOverFolder());
    m_printService->previewDocument([this] { return reportDocument(); }, QStringLiteral("Анализ планшета"));
    Q_EMIT analysisFinished();
}

std::unique_ptr<QTextDocument> TAnalysisPage::reportDocument() const
{
    return analysisReport(m_od, layoutEditor->layout(), m_result, identity());
}

void TAnalysisPage::Recalculate()
{
    m_inputComplaints.clear();
    const TAnalysisSettings settings = calculation->settings(&m_inputComplaints);
    if (m_table.isEmpty()) {
        m_result = {};
        m_result.problems << QStringLiteral("Нет таблицы ОП: возьмите ее со страницы «Ридер ОП» или откройте файл таблицы.");
    } else if (!m_inputComplaints.isEmpty()) {
        m_result = {};
    } else {
        m_result = analysePlate(m_od, layoutEditor->layout(), settings);
    }
    ShowResults();
}

void TAnalysisPage::ShowResults()
{
    lbSource->setText(m_table.isEmpty() ? QStringLiteral("Таблицы нет.")
                                        : QStringLiteral("Таблица: %1%2")
                                              .arg(m_tableFile.trimmed().isEmpty() ? QStringLiteral("из прибора") : m_tableFile.trimmed(),
                                                   m_readAt.isValid() ? m_readAt.toString(QStringLiteral(", dd.MM.yyyy HH:mm")) : QString()));
    QStringList summary;
    const auto group = [](const QString &name, const TGroupStats &stats) {
        if (stats.count == 0)
            return QString();
        QString text = QStringLiteral("%1: %2 (лунок %3").arg(name).arg(stats.mean, 0, 'f', 3).arg(stats.count);
        if (stats.cv)
            text += QStringLiteral(", CV %1 %").arg(*stats.cv, 0, 'f', 1);
        return text + QLatin1Char(')');
    };
    for (const QString &part : {group(QStringLiteral("Бланк"), m_result.blanks), group(QStringLiteral("K−"), m_result.negative),
                                group(QStringLiteral("K+"), m_result.positive)})
        if (!part.isEmpty())
            summary << part;
    if (m_result.cutoff)
        summary << QStringLiteral("cut-off: %1, серая зона %2 … %3")
                       .arg(*m_result.cutoff, 0, 'f', 3)
                       .arg(*m_result.greyLow, 0, 'f', 3)
                       .arg(*m_result.greyHigh, 0, 'f', 3);
    if (m_result.curve && m_result.curve->ok) {
        const TStandardCurve &curve = *m_result.curve;
        static const char *const names[] = {"A", "B", "C₅₀", "D", "G"};
        QStringList parameters;
        if (curve.model == TCurveModel::Linear)
            parameters << QStringLiteral("a = %1").arg(curve.parameters[0], 0, 'g', 5)
                       << QStringLiteral("b = %1").arg(curve.parameters[1], 0, 'g', 5);
        else if (curve.model != TCurveModel::PointToPoint)
            for (size_t k = 0; k < curve.parameters.size(); ++k)
                parameters << QStringLiteral("%1 = %2").arg(QString::fromUtf8(names[k])).arg(curve.parameters[k], 0, 'g', 5);
        parameters << QStringLiteral("R² = %1").arg(curve.rSquared, 0, 'f', 4);
        summary << QStringLiteral("Кривая %1: %2").arg(modelName(curve.model), parameters.join(QStringLiteral(", ")));
    }
    if (!m_table.isEmpty())
        summary.prepend(validityText(m_result));
    lbSummary->setText(summary.join(QStringLiteral("; ")));
    lbProblems->setText((m_inputComplaints + m_result.problems).join(QLatin1Char('\n')));

    const bool curve = m_result.curve && m_result.curve->ok;
    resultsTable->setRowCount(int(m_result.samples.size()));
    std::vector<TCurveChart::TSamplePoint> onCurve;
    for (int row = 0; row < int(m_result.samples.size()); ++row) {
        const TSampleResult &sample = m_result.samples[size_t(row)];
        QStringList wells;
        for (const int well : sample.wells)
            wells << wellName(well);
        setCell(resultsTable, row, 0, sample.id);
        setCell(resultsTable, row, 1, wells.join(QStringLiteral(", ")));
        setCell(resultsTable, row, 2, fixed(sample.corrected, 3));
        setCell(resultsTable, row, 3, fixed(sample.cv, 1));
        setCell(resultsTable, row, 4, fixed(sample.index, 2));
        setCell(resultsTable, row, 5, curve ? sampleConcentrationText(sample, *m_result.curve) : QString());
        setCell(resultsTable, row, 6, verdictText(sample.verdict));
        setCell(resultsTable, row, 7, sampleRemark(sample));
        if (sample.concentration.where == TConcentration::Inside && sample.corrected)
            onCurve.push_back({sample.concentration.value, *sample.corrected});
    }
    curveChart->setCurve(m_result.curve, onCurve);
    const std::vector<TStandardRow> standards = standardRows(m_result, calculation->settings());
    standardsTable->setRowCount(int(standards.size()));
    for (int row = 0; row < int(standards.size()); ++row) {
        const TStandardRow &standard = standards[size_t(row)];
        setCell(standardsTable, row, 0, wellName(standard.well) + (standard.masked ? QStringLiteral(" (исключен)") : QString()));
        setCell(standardsTable, row, 1, QString::number(standard.concentration, 'g', 6));
        setCell(standardsTable, row, 2, QString::number(standard.od, 'f', 3));
        setCell(standardsTable, row, 3, QString::number(standard.residual, 'f', 3));
        setCell(standardsTable, row, 4, concentrationText(standard.backCalculated, *m_result.curve));
        setCell(standardsTable, row, 5, standard.recovery ? QString::number(*standard.recovery, 'f', 1) : QString());
        if (!standard.accepted && !standard.masked)
            standardsTable->item(row, 5)->setForeground(
                contrast::readableOn(standardsTable->palette().color(QPalette::Base), QColor(0xa0, 0x10, 0x10), contrast::clear));
    }
    for (QPushButton *button : {btnExportXlsx, btnExportCsv, btnPrint})
        button->setEnabled(!m_table.isEmpty());
}
