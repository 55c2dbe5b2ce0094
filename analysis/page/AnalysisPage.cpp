#include "analysis/page/AnalysisPage.h"

#include "analysis/LisMessages.h"
#include "analysis/ResultsCsv.h"
#include "analysis/page/AnalysisReport.h"
#include "analysis/page/AnalysisWorkbook.h"
#include "analysis/page/CalculationPanel.h"
#include "analysis/page/CurveChart.h"
#include "analysis/page/LayoutEditor.h"
#include "analysis/page/PlateFiles.h"
#include "analysis/page/WorklistDialog.h"
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
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QKeyEvent>
#include <QAbstractItemView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QSettings>
#include <QSplitter>
#include <QTabWidget>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

#include <algorithm>

using namespace analysis;

namespace {
const QString settingsGroup = QStringLiteral("analysis");
const QString keyOperator = QStringLiteral("analysis/operator");
const QString keyLastTestSystem = QStringLiteral("analysis/lastTestSystem");
const QString systemsGroup = QStringLiteral("analysis/testSystems");
constexpr qint64 largestLayoutFile = 1 << 20; ///< a layout is a few kilobytes
constexpr qint64 largestWorklist = 1 << 20;   ///< a plate's list is a few kilobytes

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

/// The page's lines one under the other, asking no more height than their least: a
/// wrapped hint never makes the page scroll at a size where everything fits.
class TLinesLayout : public QVBoxLayout
{
public:
    using QVBoxLayout::QVBoxLayout;
    bool hasHeightForWidth() const override { return false; }
};

QString fixed(const std::optional<double> &value, int decimals)
{
    return value ? QString::number(*value, 'f', decimals) : QString();
}
} // namespace

TAnalysisPage::TAnalysisPage(TPageHost &host, const TReaderPage &reader, QWidget *parent)
    : QWidget(parent), m_host(host), m_reader(reader)
{
    odlgTable.title = QStringLiteral("Таблица оптических плотностей");
    odlgTable.filter = QStringLiteral("Таблица ОП, CSV или книга (*.xls *.txt *.csv *.xlsx)|*.xls;*.txt;*.csv;*.xlsx|"
                                      "Все файлы (*)|*");
    odlgTable.memoryKey = dialogKey::measureOpen;
    dlgLayout.filter = QStringLiteral("Раскладка планшета (*.json)|*.json");
    dlgLayout.defaultExt = QStringLiteral(".json");
    dlgLayout.memoryKey = QStringLiteral("analysisLayout");
    sdlgResults.memoryKey = QStringLiteral("analysisResults");
    odlgWorklist.title = QStringLiteral("Рабочий список");
    odlgWorklist.filter = QStringLiteral("Рабочий список CSV (*.csv *.txt)|*.csv;*.txt|Список сканера штрихкодов (*.txt)|*.txt|"
                                         "Все файлы (*)|*");
    odlgWorklist.memoryKey = QStringLiteral("analysisWorklist");
    sdlgLis.title = QStringLiteral("Результаты для ЛИС");
    sdlgLis.filter = QStringLiteral("ASTM E1394 / LIS2-A2 (*.astm)|*.astm|ASTM E1394 в кадрах LIS1-A (*.astm)|*.astm|"
                                    "HL7 v2.5.1 ORU^R01 (*.hl7)|*.hl7");
    sdlgLis.memoryKey = QStringLiteral("analysisLis");

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
    // The page is read whole at the window's drawn size; only a window made smaller
    // than that scrolls it.
    QWidget *content = scrolledContent(this);
    auto *layout = new TLinesLayout(content);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    // Two short lines above the tabs: where the table comes from, and whose run it is.
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
    cbTestSystem->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    edOperator = new QLineEdit(this);
    edOperator->setAccessibleName(QStringLiteral("Оператор:"));
    // The layout's files and the list of names under one button beside the name.
    btnLayoutMenu = new QPushButton(QStringLiteral("Раскладка"), this);
    auto *menu = new QMenu(btnLayoutMenu);
    actOpenLayout = menu->addAction(QStringLiteral("Открыть раскладку..."));
    actSaveLayout = menu->addAction(QStringLiteral("Сохранить раскладку..."));
    // Sample IDs and dilutions from a worklist go onto the layout too.
    actWorklist = menu->addAction(QStringLiteral("Рабочий список..."));
    menu->addSeparator();
    actForgetTestSystem = menu->addAction(QStringLiteral("Удалить из списка..."));
    btnLayoutMenu->setMenu(menu);
    auto *source = new QHBoxLayout;
    source->setSpacing(4);
    source->addWidget(lbSource, 1);
    source->addWidget(btnTakeReaderTable);
    source->addWidget(btnOpenTable);
    auto *run = new QHBoxLayout;
    run->setSpacing(4);
    run->addWidget(new QLabel(QStringLiteral("Тест-система:"), this));
    run->addWidget(cbTestSystem, 2);
    run->addWidget(btnLayoutMenu);
    run->addWidget(new QLabel(QStringLiteral("Оператор:"), this));
    run->addWidget(edOperator, 1);
    layout->addLayout(source);
    layout->addLayout(run);

    tabs = new QTabWidget(this);
    layoutEditor = new TLayoutEditor(tabs);
    calculation = new TCalculationPanel(tabs);
    // The settings are longer than the drawn window is high: they scroll in their tab.
    auto *settings = new QScrollArea(tabs);
    settings->setWidgetResizable(true);
    settings->setFrameShape(QFrame::NoFrame);
    settings->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    settings->setWidget(calculation);
    tabs->addTab(layoutEditor, QStringLiteral("Раскладка планшета"));
    tabs->addTab(settings, QStringLiteral("Расчет"));
    tabs->addTab(CreateResultsTab(), QStringLiteral("Результаты"));
    layout->addWidget(tabs, 1);
}

QWidget *TAnalysisPage::CreateResultsTab()
{
    auto *page = new QWidget(tabs);
    auto *layout = new QVBoxLayout(page);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    lbSummary = new QLabel(page);
    lbSummary->setWordWrap(true);
    lbSummary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lbProblems = new QLabel(page);
    lbProblems->setWordWrap(true);
    setTextTint(lbProblems, QColor(0xa0, 0x10, 0x10)); // a warning's red, readable on any desktop
    // What the run is and what is wrong with it above the results, each as long as it
    // needs: the words scroll in their own box, never the page.
    auto *words = new QScrollArea(page);
    words->setWidgetResizable(true);
    words->setFrameShape(QFrame::NoFrame);
    words->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto *wordsContent = new QWidget(words);
    auto *wordsLayout = new QVBoxLayout(wordsContent);
    wordsLayout->setContentsMargins(0, 0, 0, 0);
    wordsLayout->setSpacing(2);
    wordsLayout->addWidget(lbSummary);
    wordsLayout->addWidget(lbProblems);
    wordsLayout->addStretch();
    words->setWidget(wordsContent);
    words->setMinimumHeight(2 * fontMetrics().height() + 4); // two lines at least
    layout->addWidget(words, 1);

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
    // Each list shows its header and a few rows at least, and scrolls its own rows.
    for (QTableWidget *table : {resultsTable, standardsTable})
        table->setMinimumHeight(table->horizontalHeader()->sizeHint().height() + 2 * table->verticalHeader()->defaultSectionSize());
    curveSide->addWidget(curveChart);
    curveSide->addWidget(standardsTable);
    curveSide->setStretchFactor(0, 3);
    curveSide->setStretchFactor(1, 1);
    splitter->addWidget(resultsTable);
    splitter->addWidget(curveSide);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    layout->addWidget(splitter, 3);

    auto *buttons = new QHBoxLayout;
    btnExportXlsx = new QPushButton(QStringLiteral("В Excel..."), page);
    btnExportCsv = new QPushButton(QStringLiteral("В CSV..."), page);
    btnPrint = new QPushButton(QStringLiteral("Печать..."), page);
    btnLis = new QPushButton(QStringLiteral("В ЛИС..."), page);
    for (QPushButton *button : {btnExportXlsx, btnExportCsv, btnLis, btnPrint})
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
    connectGuarded(m_host, actSaveLayout, &QAction::triggered, this, &TAnalysisPage::actSaveLayoutExecute);
    connectGuarded(m_host, actOpenLayout, &QAction::triggered, this, &TAnalysisPage::actOpenLayoutExecute);
    connectGuarded(m_host, actForgetTestSystem, &QAction::triggered, this, &TAnalysisPage::actForgetTestSystemExecute);
    on(btnExportXlsx, &TAnalysisPage::btnExportXlsxClick);
    on(btnExportCsv, &TAnalysisPage::btnExportCsvClick);
    on(btnPrint, &TAnalysisPage::btnPrintClick);
    connectGuarded(m_host, actWorklist, &QAction::triggered, this, &TAnalysisPage::actWorklistExecute);
    on(btnLis, &TAnalysisPage::btnLisClick);
    connectGuarded(m_host, cbTestSystem->lineEdit(), &QLineEdit::editingFinished, this, &TAnalysisPage::TestSystemChosen);
    connect(cbTestSystem, &QComboBox::activated, this, [this] { TestSystemChosen(); });
    cbTestSystem->view()->installEventFilter(this);
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
        dialog.initialDir = m_host.settings().dialogFolder(
            dialog.memoryKey, &dialog == &dlgLayout && !m_layoutsFolder.isEmpty() ? m_layoutsFolder : m_host.handOverFolder());
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
    TakeTable(*plateFiles::readPlate(m_reader.odTableText).od, m_reader.odTableText, fileSystemName(m_reader.odInstrumentName),
              m_reader.odReadAt);
    m_host.ShowStatus(QStringLiteral("Таблица взята со страницы «Ридер ОП»."));
}

void TAnalysisPage::btnOpenTableClick()
{
    if (!Choose(odlgTable, false))
        return;
    const QString path = odlgTable.fileName;
    const QFileInfo info(path);
    // A pipe or a device would hold the window; a huge file is no plate. The table on
    // the page stays until another one is read whole.
    const auto refuse = [&](const QString &why) {
        m_host.ReportError(QStringLiteral("Таблица из файла \"%1\" не открыта: %2.").arg(shown(path), why));
    };
    if (!info.isFile())
        return refuse(QStringLiteral("это не файл"));
    if (info.size() > plateFiles::largestFile)
        return refuse(QStringLiteral("в нем %1 байт, для таблицы планшета это слишком много").arg(info.size()));
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return refuse(file.errorString());
    const QByteArray bytes = file.read(plateFiles::largestFile);
    const plateFiles::TPlateRead read = plateFiles::readPlate(bytes);
    if (!read.od)
        return refuse(read.error);
    const bool instrumentText = bytes.size() == od::tableLength && od::tableLayoutProblem(bytes).isEmpty();
    TakeTable(*read.od, instrumentText ? bytes : QByteArray(), info.fileName(), {});
    m_host.ShowStatus(QStringLiteral("Таблица открыта из файла (%1): %2").arg(read.kind, info.fileName()));
}

void TAnalysisPage::TakeTable(const TPlateOd &od, const QByteArray &instrumentText, const QString &fileName,
                              const QDateTime &readAt)
{
    m_hasTable = true;
    m_table = instrumentText;
    m_tableFile = fileName;
    m_readAt = readAt;
    m_od = od;
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

void TAnalysisPage::actForgetTestSystemExecute()
{
    const QString name = cbTestSystem->currentText().trimmed();
    if (cbTestSystem->findText(name) < 0) {
        m_host.ShowStatus(name.isEmpty() ? QStringLiteral("Выберите в списке тест-систему, которую удалить.")
                                         : QStringLiteral("Тест-системы «%1» нет в списке.").arg(name));
        return;
    }
    ForgetTestSystem(name);
}

void TAnalysisPage::ForgetTestSystem(const QString &name)
{
    if (!m_host.dialogs()->askYesNo(m_host.dialogParent(), QStringLiteral("Удалить из списка"),
                                    QStringLiteral("Удалить тест-систему «%1» из списка? Ее раскладка и настройки расчета "
                                                   "будут забыты.")
                                        .arg(name)))
        return;
    QSettings &store = m_host.settings().store();
    store.remove(systemKey(name));
    if (store.value(keyLastTestSystem).toString() == name)
        store.remove(keyLastTestSystem);
    // The plate on screen stays as it is, without a name if it was this one's: nothing
    // of the run is lost, and no later change writes the name back.
    const bool shown = cbTestSystem->currentText().trimmed() == name;
    m_restoring = true;
    const int index = cbTestSystem->findText(name);
    if (index >= 0)
        cbTestSystem->removeItem(index);
    if (shown) {
        cbTestSystem->setCurrentIndex(-1);
        cbTestSystem->setEditText(QString());
        TPlateLayout unnamed = layoutEditor->layout();
        unnamed.name.clear();
        layoutEditor->setLayout(unnamed);
    }
    m_restoring = false;
    m_host.ShowStatus(QStringLiteral("Тест-система «%1» удалена из списка.").arg(name));
}

bool TAnalysisPage::eventFilter(QObject *watched, QEvent *event)
{
    // Delete on a name in the open list forgets that name, once the user says so.
    if (watched == cbTestSystem->view() && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent *>(event)->key() == Qt::Key_Delete) {
        const QString name = cbTestSystem->view()->currentIndex().data().toString();
        if (!name.isEmpty()) {
            cbTestSystem->hidePopup();
            // The question opens after the list has closed.
            QMetaObject::invokeMethod(this, [this, name] { m_host.Guarded([this, name] { ForgetTestSystem(name); }); }, Qt::QueuedConnection);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
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

void TAnalysisPage::actSaveLayoutExecute()
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

void TAnalysisPage::actOpenLayoutExecute()
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

void TAnalysisPage::actWorklistExecute()
{
    if (!Choose(odlgWorklist, false))
        return;
    const QString path = odlgWorklist.fileName;
    const QFileInfo info(path);
    QFile file(path);
    // A pipe or a device would hold the window; a list for one plate is small.
    if (!info.isFile() || info.size() > largestWorklist) {
        m_host.ReportError(QStringLiteral("\"%1\" не рабочий список: это не файл или он больше 1 МБ.").arg(shown(path)));
        return;
    }
    if (!file.open(QIODevice::ReadOnly)) {
        m_host.ReportError(QStringLiteral("Не удалось прочитать файл \"%1\": %2").arg(shown(path), file.errorString()));
        return;
    }
    odlgWorklist.initialDir = info.absolutePath();
    const TWorklistKind kind = odlgWorklist.filterIndex == 2 ? TWorklistKind::Barcodes : TWorklistKind::Csv;
    TWorklistDialog dialog(file.readAll(), info.fileName(), layoutEditor->layout(), kind, m_host.dialogParent());
    if (m_host.dialogs()->runDialog(dialog) != QDialog::Accepted) {
        m_host.ShowStatus(QStringLiteral("Рабочий список не применен."));
        return;
    }
    const TWorklistMapping &mapping = dialog.mapping();
    const auto given = std::count_if(mapping.rows.begin(), mapping.rows.end(), [](const auto &row) { return row.has_value(); });
    layoutEditor->setLayout(dialog.appliedLayout());
    Remember();
    Recalculate();
    m_host.ShowStatus(QStringLiteral("Рабочий список применен: образцов %1 из файла %2").arg(given).arg(info.fileName()));
}

void TAnalysisPage::btnLisClick()
{
    if (m_result.samples.empty()) {
        m_host.ShowStatus(QStringLiteral("На раскладке нет образцов: передавать в ЛИС нечего."));
        return;
    }
    // Named by the run and the time, so that a folder a LIS watches never gets the
    // same name twice; the format chosen last is proposed again.
    const QDateTime now = QDateTime::currentDateTime();
    const TRunIdentity run = identity();
    sdlgLis.filterIndex = m_lisType;
    const QString folder = sdlgLis.initialDir.isEmpty()
                               ? m_host.settings().dialogFolder(sdlgLis.memoryKey, m_host.handOverFolder())
                               : sdlgLis.initialDir;
    const QString base = QFileInfo(lisFileName(run, now, TLisFormat::Astm)).completeBaseName().replace(QLatin1Char('.'), QLatin1Char('_'));
    const auto taken = [&folder](const QString &stem) {
        return QFileInfo::exists(QDir(folder).filePath(stem + QStringLiteral(".astm")))
               || QFileInfo::exists(QDir(folder).filePath(stem + QStringLiteral(".hl7")));
    };
    QString stem = base;
    for (int n = 2; taken(stem); ++n)
        stem = base + QLatin1Char('_') + QString::number(n);
    sdlgLis.fileName = stem;
    if (!Choose(sdlgLis, true))
        return;
    sdlgLis.initialDir = QFileInfo(sdlgLis.fileName).absolutePath(); // the LIS's folder again next time
    m_lisType = std::clamp(sdlgLis.filterIndex, 1, 3);
    const TLisFormat format = m_lisType == 3 ? TLisFormat::Hl7 : m_lisType == 2 ? TLisFormat::AstmFramed : TLisFormat::Astm;
    const QByteArray message = lisMessage(format, m_result, {run, now, QCoreApplication::applicationVersion()});
    const QString reason = writeFileWhole(sdlgLis.fileName, message);
    if (!reason.isEmpty()) {
        m_host.ReportError(QStringLiteral("Результаты для ЛИС не записаны в файл \"%1\": %2").arg(shown(sdlgLis.fileName), reason));
        return;
    }
    m_host.ShowStatus(QStringLiteral("Результаты для ЛИС записаны в файл: ") + QFileInfo(sdlgLis.fileName).fileName()
                      + (m_result.valid ? QString() : QStringLiteral(" (анализ недостоверен: результаты не переданы)")));
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
    if (!m_hasTable) {
        m_result = {};
        m_result.problems << QStringLiteral("Нет таблицы ОП: возьмите ее со страницы «Ридер ОП» или откройте файл таблицы.");
    } else if (!m_inputComplaints.isEmpty()) {
        m_result = {};
    } else {
        m_result = analysePlate(m_od, layoutEditor->layout(), settings);
        if (m_controlJudge)
            m_result.problems << m_controlJudge();
    }
    ShowResults();
}

void TAnalysisPage::ShowResults()
{
    lbSource->setText(!m_hasTable ? QStringLiteral("Таблицы нет.")
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
    if (!!m_hasTable)
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
    for (QPushButton *button : {btnExportXlsx, btnExportCsv, btnLis, btnPrint})
        button->setEnabled(!!m_hasTable);
}
