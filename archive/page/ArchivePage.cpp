#include "archive/page/ArchivePage.h"

#include "archive/RunArchive.h"
#include "archive/page/RunRecorder.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "common/SpreadsheetCsv.h"
#include "common/WholeFile.h"
#include "measure/MeasureData.h"
#include "measure/PlateWorkbook.h"
#include "measure/PrintDocuments.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlError>
#include <QSqlQuery>
#include <QStackedWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

#include <xlsxwriter.h>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace archive;

namespace {
QString shownTime(const QString &stored)
{
    return timeFromStored(stored).toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"));
}
} // namespace

// ---- The list's model --------------------------------------------------------------------

QVariant TArchiveRunsModel::data(const QModelIndex &index, int role) const
{
    const QVariant value = QSqlQueryModel::data(index, role);
    if (role != Qt::DisplayRole)
        return value;
    switch (index.column()) {
    case columnTime:
        return shownTime(value.toString());
    case columnSource: {
        const QString source = value.toString();
        return sourceText(source.section(QLatin1Char(':'), 0, 0), source.endsWith(QLatin1String(":file")));
    }
    case columnValidity:
        return validityText(value);
    default:
        return value;
    }
}

void TArchiveRunsModel::sort(int column, Qt::SortOrder order)
{
    m_sortColumn = column;
    m_order = order;
    if (m_db.isValid())
        select(m_db, m_filter);
}

QString TArchiveRunsModel::select(const QSqlDatabase &db, const TRunFilter &filter)
{
    m_db = db;
    m_filter = filter;
    const TRunQuery built = runQuery(filter, m_sortColumn, m_order);
    QSqlQuery query(db);
    query.prepare(built.sql);
    for (const QVariant &value : built.values)
        query.addBindValue(value);
    if (!query.exec())
        return query.lastError().text();
    setQuery(std::move(query));
    const QStringList captions{QStringLiteral("№"),         QStringLiteral("Время"),  QStringLiteral("Файл прибора"),
                               QStringLiteral("Тест-система"), QStringLiteral("Оператор"), QStringLiteral("Источник"),
                               QStringLiteral("Анализ"),    QStringLiteral("Образцов")};
    for (int column = 0; column < captions.size(); ++column)
        setHeaderData(column, Qt::Horizontal, captions[column]);
    return lastError().isValid() ? lastError().text() : QString();
}

// ---- The page ----------------------------------------------------------------------------

TArchivePage::TArchivePage(TPageHost &host, TRunRecorder &recorder, QWidget *parent)
    : QWidget(parent), m_host(host), m_recorder(recorder)
{
    sdlgExport.memoryKey = QStringLiteral("archiveExport");
    CreateLayout();
    ConnectHandlers();
}

TArchivePage::~TArchivePage()
{
    // The model's query belongs to the archive's connection: it goes first.
    if (m_model)
        m_model->clear();
}

void TArchivePage::CreateLayout()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    stack = new QStackedWidget(this);
    outer->addWidget(stack);

    auto *list = new QWidget(stack);
    auto *layout = new QVBoxLayout(list);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(3);
    // Two short rows of filters: the page is read whole at the window's drawn width.
    auto *filters = new QGridLayout;
    filters->setHorizontalSpacing(4);
    filters->setVerticalSpacing(2);
    chckPeriod = new QCheckBox(QStringLiteral("С:"), list);
    chckPeriod->setAccessibleName(QStringLiteral("Период с:"));
    edFrom = new QDateEdit(QDate::currentDate().addMonths(-1), list);
    edFrom->setAccessibleName(QStringLiteral("Период с:"));
    edTo = new QDateEdit(QDate::currentDate(), list);
    edTo->setAccessibleName(QStringLiteral("по:"));
    for (QDateEdit *date : {edFrom, edTo}) {
        date->setCalendarPopup(true);
        date->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
        date->setEnabled(false);
    }
    cbTestSystem = new QComboBox(list);
    cbTestSystem->setEditable(true);
    cbTestSystem->setInsertPolicy(QComboBox::NoInsert);
    cbTestSystem->setAccessibleName(QStringLiteral("Тест-система:"));
    cbTestSystem->setMinimumContentsLength(8);
    edSampleId = new QLineEdit(list);
    edSampleId->setAccessibleName(QStringLiteral("ID образца:"));
    edSampleId->setPlaceholderText(QStringLiteral("начало ID"));
    edSampleId->setClearButtonEnabled(true);
    cbVerdict = new QComboBox(list);
    cbVerdict->setAccessibleName(QStringLiteral("Результат:"));
    cbVerdict->addItem(QStringLiteral("любой"), QString());
    for (const QString &verdict : {verdict::positive, verdict::doubtful, verdict::negative})
        cbVerdict->addItem(verdictWords(verdict), verdict);
    cbVerdict->addItem(QStringLiteral("анализ недостоверен"), invalidRuns);
    // The longest verdict would widen the page beyond the window's drawn width.
    cbVerdict->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    cbVerdict->setMinimumContentsLength(8);
    cbTestSystem->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    edSampleId->setMinimumWidth(edFrom->sizeHint().width());
    // Label and field, twice a row; the test system has a row of its own.
    filters->addWidget(chckPeriod, 0, 0);
    filters->addWidget(edFrom, 0, 1);
    filters->addWidget(new QLabel(QStringLiteral("по:"), list), 0, 2);
    filters->addWidget(edTo, 0, 3);
    filters->addWidget(new QLabel(QStringLiteral("Тест-система:"), list), 1, 0);
    filters->addWidget(cbTestSystem, 1, 1, 1, 3);
    filters->addWidget(new QLabel(QStringLiteral("ID образца:"), list), 2, 0);
    filters->addWidget(edSampleId, 2, 1);
    filters->addWidget(new QLabel(QStringLiteral("Результат:"), list), 2, 2);
    filters->addWidget(cbVerdict, 2, 3);
    filters->setColumnStretch(1, 1);
    filters->setColumnStretch(3, 1);
    layout->addLayout(filters);

    runsView = new QTableView(list);
    runsView->setAccessibleName(QStringLiteral("Запуски"));
    m_model = new TArchiveRunsModel(this);
    runsView->setModel(m_model);
    runsView->setSelectionBehavior(QAbstractItemView::SelectRows);
    runsView->setSelectionMode(QAbstractItemView::ExtendedSelection);
    runsView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    runsView->verticalHeader()->hide();
    runsView->verticalHeader()->setDefaultSectionSize(runsView->fontMetrics().height() + 6);
    runsView->horizontalHeader()->setStretchLastSection(true);
    runsView->horizontalHeader()->setSortIndicator(columnTime, Qt::DescendingOrder);
    runsView->setSortingEnabled(true);
    runsView->setWordWrap(false);
    layout->addWidget(runsView, 1);

    auto *buttons = new QHBoxLayout;
    lbCount = new QLabel(list);
    lbCount->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred); // a long path never widens the page
    btnOpenRun = new QPushButton(QStringLiteral("Открыть"), list);
    btnExportCsv = new QPushButton(QStringLiteral("В CSV..."), list);
    btnExportXlsx = new QPushButton(QStringLiteral("В Excel..."), list);
    buttons->addWidget(lbCount, 1);
    for (QPushButton *button : {btnOpenRun, btnExportCsv, btnExportXlsx}) {
        button->setEnabled(false); // until runs are chosen
        buttons->addWidget(button);
    }
    layout->addLayout(buttons);
    stack->addWidget(list);

    auto *shown = new QWidget(stack);
    auto *runLayout = new QVBoxLayout(shown);
    runLayout->setContentsMargins(4, 4, 4, 4);
    auto *top = new QHBoxLayout;
    btnBack = new QPushButton(QStringLiteral("К списку"), shown);
    lbRunTitle = new QLabel(shown);
    lbRunTitle->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    top->addWidget(btnBack);
    top->addWidget(lbRunTitle, 1);
    runLayout->addLayout(top);
    runView = new QTextBrowser(shown);
    runView->setAccessibleName(QStringLiteral("Запуск"));
    runView->setReadOnly(true);
    runView->setOpenLinks(false);
    runLayout->addWidget(runView, 1);
    stack->addWidget(shown);
}

void TArchivePage::ConnectHandlers()
{
    const auto on = [this](QPushButton *button, void (TArchivePage::*handler)()) {
        connectGuarded(m_host, button, &QPushButton::clicked, this, handler);
    };
    on(btnOpenRun, &TArchivePage::btnOpenRunClick);
    on(btnExportCsv, &TArchivePage::btnExportCsvClick);
    on(btnExportXlsx, &TArchivePage::btnExportXlsxClick);
    on(btnBack, &TArchivePage::btnBackClick);
    const auto refresh = [this] { m_host.Guarded([this] { Refresh(); }); };
    connect(chckPeriod, &QCheckBox::toggled, this, [this, refresh](bool on) {
        edFrom->setEnabled(on);
        edTo->setEnabled(on);
        refresh();
    });
    connect(edFrom, &QDateEdit::dateChanged, this, refresh);
    connect(edTo, &QDateEdit::dateChanged, this, refresh);
    connect(cbTestSystem, &QComboBox::activated, this, refresh);
    connect(cbTestSystem->lineEdit(), &QLineEdit::editingFinished, this, refresh);
    connect(edSampleId, &QLineEdit::editingFinished, this, refresh);
    connect(edSampleId, &QLineEdit::textChanged, this, [this, refresh](const QString &text) {
        if (text.isEmpty()) // the clear button
            refresh();
    });
    connect(cbVerdict, &QComboBox::activated, this, refresh);
    // A new order or filter empties the selection without a word: the buttons follow.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        for (QPushButton *button : {btnOpenRun, btnExportCsv, btnExportXlsx})
            button->setEnabled(false);
        // The time is read whole; the rows fetched so far say how wide it is.
        runsView->hideColumn(columnId);
        runsView->resizeColumnToContents(columnTime);
    });
    connect(runsView->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
        const bool any = !SelectedRuns().empty();
        for (QPushButton *button : {btnOpenRun, btnExportCsv, btnExportXlsx})
            button->setEnabled(any);
    });
    connect(runsView, &QTableView::activated, this, [this](const QModelIndex &index) {
        const qint64 id = m_model->data(m_model->index(index.row(), columnId)).toLongLong();
        m_host.Guarded([this, id] { OpenRun(id); });
    });
    connect(&m_recorder, &TRunRecorder::archiveReplacing, this, [this] { m_model->clear(); });
    connect(&m_recorder, &TRunRecorder::runsChanged, this, [this] {
        if (isVisible())
            m_host.Guarded([this] { Refresh(); });
        else
            m_stale = true;
    });
}

void TArchivePage::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_stale)
        m_host.Guarded([this] { Refresh(); });
}

TRunFilter TArchivePage::filter() const
{
    TRunFilter filter;
    if (chckPeriod->isChecked()) {
        filter.from = edFrom->date();
        filter.to = edTo->date();
    }
    filter.testSystem = cbTestSystem->currentText().trimmed();
    filter.sampleId = edSampleId->text().trimmed();
    filter.verdict = cbVerdict->currentData().toString();
    return filter;
}

void TArchivePage::Refresh()
{
    m_stale = false;
    TRunArchive *runs = m_recorder.archive();
    if (!runs) {
        m_model->clear();
        lbCount->setText(QStringLiteral("Архив недоступен."));
        return;
    }
    FillTestSystems();
    const QString error = m_model->select(runs->database(), filter());
    if (!error.isEmpty()) {
        m_host.ReportError(QStringLiteral("Архив не прочитан: %1").arg(error));
        return;
    }
    lbCount->setText(QStringLiteral("Архив: %1").arg(QDir::toNativeSeparators(runs->path())));
    lbCount->setToolTip(lbCount->text());
}

void TArchivePage::FillTestSystems()
{
    TRunArchive *runs = m_recorder.archive();
    if (!runs)
        return;
    const QString typed = cbTestSystem->currentText();
    QStringList names{QString()};
    QSqlQuery query(runs->database());
    if (query.exec(QStringLiteral("SELECT DISTINCT test_system FROM runs WHERE test_system <> '' ORDER BY test_system")))
        while (query.next())
            names << query.value(0).toString();
    const QSignalBlocker quiet(cbTestSystem);
    cbTestSystem->clear();
    cbTestSystem->addItems(names);
    cbTestSystem->setCurrentText(typed);
}

std::vector<qint64> TArchivePage::SelectedRuns() const
{
    std::vector<qint64> ids;
    for (const QModelIndex &row : runsView->selectionModel()->selectedRows(columnId))
        ids.push_back(m_model->data(row).toLongLong());
    std::sort(ids.begin(), ids.end(), std::greater<>()); // latest first, as listed
    return ids;
}

void TArchivePage::btnOpenRunClick()
{
    const std::vector<qint64> ids = SelectedRuns();
    const QModelIndex current = runsView->currentIndex();
    const qint64 id = current.isValid() ? m_model->data(m_model->index(current.row(), columnId)).toLongLong()
                                        : (ids.empty() ? 0 : ids.front());
    if (id != 0)
        OpenRun(id);
}

void TArchivePage::OpenRun(qint64 id)
{
    TRunArchive *runs = m_recorder.archive();
    const std::optional<TRun> run = runs ? runs->run(id) : std::nullopt;
    if (!run) {
        m_host.ShowStatus(QStringLiteral("Запуск %1 в архиве не найден.").arg(id));
        return;
    }
    const TRunOrigin &origin = run->origin;
    QString title = QStringLiteral("№ %1, %2, %3").arg(id).arg(origin.time.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                                                       sourceText(origin.kind, origin.fromFile));
    if (!origin.instrumentFile.isEmpty())
        title += QStringLiteral(", ") + origin.instrumentFile;
    if (run->analysis && !run->analysis->testSystem.isEmpty())
        title += QStringLiteral(", ") + run->analysis->testSystem;
    // What was kept is shown as it was: the analysis's printout of that day, else the
    // plate or the protocol as the program prints them.
    if (run->analysis && !run->analysis->reportHtml.isEmpty()) {
        m_document = std::make_unique<QTextDocument>();
        if (!run->analysis->reportImage.isEmpty())
            m_document->addResource(QTextDocument::ImageResource, QUrl(run->analysis->reportImageName),
                                    QImage::fromData(run->analysis->reportImage, "PNG"));
        m_document->setHtml(run->analysis->reportHtml);
    } else if (origin.kind == kind::protocol) {
        m_document = printing::protocolDocument(origin.raw);
    } else {
        m_document = printing::plateDocument(od::tableValues(origin.raw), printing::plateTitle(origin.instrumentFile, origin.time));
    }
    QStringList facts{QStringLiteral("Учетная запись: ") + (origin.operatorAccount.isEmpty() ? QStringLiteral("—") : origin.operatorAccount),
                      QStringLiteral("Порт: ") + (origin.port.isEmpty() ? QStringLiteral("—") : origin.port),
                      QStringLiteral("Версия программы: ") + origin.programVersion,
                      QStringLiteral("Записан в архив: ") + run->recordedAt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss"))};
    runView->setDocument(m_document.get());
    runView->setToolTip(facts.join(QLatin1Char('\n')));
    lbRunTitle->setText(title);
    lbRunTitle->setToolTip(title + QLatin1Char('\n') + facts.join(QLatin1Char('\n')));
    stack->setCurrentIndex(1);
}

void TArchivePage::btnBackClick()
{
    stack->setCurrentIndex(0);
    runsView->setFocus();
}

bool TArchivePage::ChooseExportFile(const QString &filter, const QString &extension)
{
    sdlgExport.filter = filter;
    sdlgExport.filterIndex = 1;
    sdlgExport.defaultExt = extension;
    sdlgExport.fileName = QStringLiteral("Архив_") + QDate::currentDate().toString(QStringLiteral("yyyy_MM_dd"));
    if (sdlgExport.initialDir.isEmpty())
        sdlgExport.initialDir = m_host.settings().dialogFolder(sdlgExport.memoryKey, m_host.handOverFolder());
    return m_host.dialogs()->executeSave(m_host.dialogParent(), sdlgExport);
}

void TArchivePage::btnExportCsvClick()
{
    TRunArchive *runs = m_recorder.archive();
    const std::vector<qint64> ids = SelectedRuns();
    if (!runs || ids.empty()
        || !ChooseExportFile(QStringLiteral("CSV для Excel/LibreOffice (*.csv)|*.csv"), QStringLiteral(".csv")))
        return;
    // For a spreadsheet on a Russian desktop: it opens the numbers as numbers.
    QString text = spreadsheetCsv::row(exportColumns());
    for (const TExportRow &row : exportRows(runs->database(), ids)) {
        QStringList fields;
        for (const QVariant &cell : row.cells)
            fields << (cell.typeId() == QMetaType::Double ? spreadsheetCsv::decimalComma(QString::number(cell.toDouble(), 'g', 10))
                                                          : cell.toString());
        text += spreadsheetCsv::row(fields);
    }
    const QString reason = writeFileWhole(sdlgExport.fileName, spreadsheetCsv::encode(text));
    if (!reason.isEmpty()) {
        m_host.ReportError(QStringLiteral("Запуски не записаны в файл \"%1\": %2").arg(QDir::toNativeSeparators(sdlgExport.fileName), reason));
        return;
    }
    m_host.ShowStatus(QStringLiteral("Запуски (%1) записаны в файл: %2").arg(ids.size()).arg(QFileInfo(sdlgExport.fileName).fileName()));
}

void TArchivePage::btnExportXlsxClick()
{
    TRunArchive *runs = m_recorder.archive();
    const std::vector<qint64> ids = SelectedRuns();
    if (!runs || ids.empty() || !ChooseExportFile(QStringLiteral("Книга Excel (*.xlsx)|*.xlsx"), QStringLiteral(".xlsx")))
        return;
    const std::vector<TExportRow> rows = exportRows(runs->database(), ids);
    const QString error = plate::writeWorkbook(sdlgExport.fileName, [&rows](lxw_workbook *book) {
        lxw_worksheet *sheet = workbook_add_worksheet(book, "Запуски");
        lxw_format *bold = workbook_add_format(book);
        format_set_bold(bold);
        int first = LXW_NO_ERROR;
        const auto note = [&first](int error) {
            if (first == LXW_NO_ERROR)
                first = error;
        };
        const QStringList header = exportColumns();
        for (int column = 0; column < header.size(); ++column)
            note(worksheet_write_string(sheet, 0, lxw_col_t(column), header[column].toUtf8().constData(), bold));
        for (size_t r = 0; r < rows.size(); ++r) {
            const QVariantList &cells = rows[r].cells;
            for (int column = 0; column < cells.size(); ++column) {
                const QVariant &cell = cells[column];
                const auto row = lxw_row_t(r + 1);
                if (cell.typeId() == QMetaType::Double || cell.typeId() == QMetaType::LongLong) {
                    if (std::isfinite(cell.toDouble()))
                        note(worksheet_write_number(sheet, row, lxw_col_t(column), cell.toDouble(), nullptr));
                } else if (!cell.toString().isEmpty()) {
                    note(worksheet_write_string(sheet, row, lxw_col_t(column), cell.toString().toUtf8().constData(), nullptr));
                }
            }
        }
        return first;
    });
    if (!error.isEmpty()) {
        m_host.ReportError(error);
        return;
    }
    m_host.ShowStatus(QStringLiteral("Запуски (%1) записаны в книгу: %2").arg(ids.size()).arg(QFileInfo(sdlgExport.fileName).fileName()));
}
