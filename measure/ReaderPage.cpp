#include "measure/ReaderPage.h"

#include "common/FontScale.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "link/Line.h"
#include "link/ContactSearch.h"
#include "measure/MeasureData.h"
#include "measure/MeasurementNotice.h"
#include "measure/ODTableExchange.h"
#include "measure/OleContainer.h"
#include "measure/PlateLegend.h"
#include "measure/PlateWorkbook.h"
#include "measure/PrintDocuments.h"
#include "measure/PrintService.h"
#include "measure/SaveChoices.h"
#include "measure/UserData.h"

#include <QCheckBox>
#include <QDir>
#include <QEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <stdexcept>
#include <utility>

namespace {
void setCell(QTableWidget *grid, int row, int column, const QString &text,
             Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter)
{
    QTableWidgetItem *item = grid->item(row, column);
    if (!item) {
        item = new QTableWidgetItem;
        grid->setItem(row, column, item);
    }
    item->setText(text);
    item->setTextAlignment(alignment);
}

const QString odTableActivity = QStringLiteral("прием оптических плотностей");
constexpr int gridPanelWidth = 447;    ///< px: the grid and its frame
constexpr int captionColumnWidth = 15; ///< px: the row letters
constexpr int gridRowHeight = 17;      ///< px
// The room the page leaves beside the grid and under its controls at the window's
// opening size: the grid grows only with what the window gains beyond it.
constexpr int roomBesideGrid = 20, roomBelowControls = 48; ///< px
} // namespace

TReaderPage::TReaderPage(TPageHost &host, TLine &link, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(link)
{
    CreateLayout();
    ConnectHandlers();
    ConnectExchange();
    odlgOpenFileToExcel.filter = QStringLiteral("Таблица Excel (*.xls)|*.xls");
    odlgOpenFileToExcel.defaultExt = QStringLiteral(".xls");
    odlgOpenFileToExcel.fileName = QStringLiteral("TavDat_");
}

void TReaderPage::ConnectHandlers()
{
    const auto on = [this](QPushButton *button, auto handler) {
        connectGuarded(m_host, button, &QPushButton::clicked, this, handler);
    };
    on(btnReadOP, &TReaderPage::btnReadOPClick);
    on(btnSaveOP, &TReaderPage::btnSaveOPClick);
    on(btnCreateExcel, &TReaderPage::btnCreateExcelClick);
    on(btnFileToExcel, &TReaderPage::btnFileToExcelClick);
    on(btnPrintOP, &TReaderPage::btnPrintOPClick);
    connectGuarded(m_host, chckColourScale, &QCheckBox::toggled, this, &TReaderPage::RefreshPlateColours);
    // The scale is a habit of its user: the next run starts with it as it was left.
    chckColourScale->setChecked(m_host.settings().colourScale());
    connect(chckColourScale, &QCheckBox::toggled, this, [this](bool on) { m_host.settings().setColourScale(on); });
    connectGuarded(m_host, plateLegend, &TPlateLegend::scaleChanged, this, &TReaderPage::RefreshPlateColours);
}

void TReaderPage::ConnectExchange()
{
    m_exchange = new TODTableExchange(this);
    m_link.Serve(*m_exchange);
    // Replies and notices come from the line, which runs its handlers guarded already.
    connect(&m_link, &TLine::notice, this, [this](char code) {
        if (code == 'G')
            ReplyODMeasured();
    });
    connect(m_exchange, &TODTableExchange::tableReceived, this, &TReaderPage::ReplyODTable);
    connect(m_exchange, &TODTableExchange::nameReceived, this, &TReaderPage::ReplyODFileName);
}

void TReaderPage::CreateLayout()
{
    auto *pageLayout = new QVBoxLayout(this);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    RzPanel6 = new TShadowPanel(this);
    RzPanel6->setGradient(QColor(0xdc, 0xe6, 0xf4), QColor(0x9c, 0xb2, 0xd4));
    pageLayout->addWidget(RzPanel6);

    auto *layout = new QVBoxLayout(RzPanel6);
    layout->setContentsMargins(8, 4, 8, 4);
    layout->setSpacing(4);
    auto *title = new QLabel(QStringLiteral("Чтение оптических плотностей из ТАВЕЛОН."), RzPanel6);
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    layout->addWidget(title);

    RzPanel7 = new QFrame(RzPanel6);
    RzPanel7->setFrameShape(QFrame::StyledPanel);
    RzPanel7->setAutoFillBackground(true);
    auto *gridLayout = new QVBoxLayout(RzPanel7);
    gridLayout->setContentsMargins(4, 2, 6, 4); // the drawn grid left 2 px more on its right
    gridLayout->setSpacing(2);
    gridLayout->addWidget(new QLabel(QStringLiteral("Таблица оптических плотностей."), RzPanel7));

    StringGrid1 = new QTableWidget(od::rowCount + 1, od::columnCount + 1, RzPanel7);
    StringGrid1->horizontalHeader()->hide();
    StringGrid1->verticalHeader()->hide();
    StringGrid1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    StringGrid1->setFrameShape(QFrame::NoFrame);
    StringGrid1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    StringGrid1->verticalHeader()->setMinimumSectionSize(1);
    StringGrid1->horizontalHeader()->setMinimumSectionSize(1);
    // Six-character values in columns of at least 35 pixels: a small font, and no
    // eliding (the value cells are right-aligned, so only a leading blank can fall off).
    StringGrid1->setFont(fontScale::scaled(StringGrid1->font(), 10.0 / 11));
    StringGrid1->setTextElideMode(Qt::ElideNone);
    StringGrid1->setWordWrap(false);
    // The drawn size is the least the grid takes, and what it asks for; the columns
    // and rows share whatever more the window gives it.
    StringGrid1->setMinimumSize(px(captionColumnWidth + od::columnCount * od::gridColumnWidth),
                                px((od::rowCount + 1) * gridRowHeight));
    StringGrid1->setSizeAdjustPolicy(QAbstractScrollArea::AdjustToContentsOnFirstShow);
    FitGridToItsRoom(StringGrid1->minimumSize());
    StringGrid1->viewport()->installEventFilter(this);
    gridLayout->addWidget(StringGrid1, 1);
    RzPanel7->setMinimumWidth(px(gridPanelWidth));
    auto *gridRow = new QHBoxLayout;
    gridRow->addWidget(RzPanel7, 1);
    gridRow->addSpacerItem(new QSpacerItem(px(roomBesideGrid), 0, QSizePolicy::Preferred, QSizePolicy::Minimum));
    layout->addLayout(gridRow, 1);
    RzPanel6->addShadowed(RzPanel7);
    layout->addSpacing(TShadowPanel::shadowDepth);

    btnReadOP = new QPushButton(QStringLiteral("Принять данные"), RzPanel6);
    btnSaveOP = new QPushButton(QStringLiteral("Данные в файл"), RzPanel6);
    btnCreateExcel = new QPushButton(QStringLiteral("Данные в Excel"), RzPanel6);
    btnFileToExcel = new QPushButton(QStringLiteral("Из файла в Excel"), RzPanel6);
    btnSaveOP->setEnabled(false);
    btnCreateExcel->setEnabled(false);
    auto *buttons = new QHBoxLayout;
    for (QPushButton *button : {btnReadOP, btnSaveOP, btnCreateExcel, btnFileToExcel})
        buttons->addWidget(button);
    layout->addLayout(buttons);

    chckAutoReadOP = new QCheckBox(QStringLiteral("автоприем данных"), RzPanel6);
    chckAutoSaveOP = new QCheckBox(QStringLiteral("автосохранение данных"), RzPanel6);
    chckColourScale = new QCheckBox(QStringLiteral("Цветовая шкала"), RzPanel6);
    btnPrintOP = new QPushButton(QStringLiteral("Печать…"), RzPanel6);
    btnPrintOP->setEnabled(false);
    auto *checks = new QHBoxLayout;
    checks->addWidget(chckAutoReadOP);
    checks->addWidget(chckAutoSaveOP);
    checks->addStretch();
    layout->addLayout(checks);
    // A row of its own, so that the page needs no more width than it always has.
    auto *extras = new QHBoxLayout;
    extras->addWidget(chckColourScale);
    extras->addStretch();
    btnOpenFolder = userData::openFolderButton(m_host, RzPanel6);
    extras->addWidget(btnOpenFolder);
    extras->addWidget(btnPrintOP);
    layout->addLayout(extras);
    plateLegend = new TPlateLegend(RzPanel6);
    plateLegend->hide(); // shown while the colour scale is on
    layout->addWidget(plateLegend);
    layout->addSpacerItem(new QSpacerItem(0, px(roomBelowControls), QSizePolicy::Minimum, QSizePolicy::Preferred));
    OleContainer1 = new TOleContainer(RzPanel6); // hidden and disabled
}

void TReaderPage::SetUpGrid()
{
    // Every value cell is blanked; the last table stays kept for saving.
    for (int row = 1; row <= od::rowCount; ++row) {
        for (int column = 0; column < StringGrid1->columnCount(); ++column)
            StringGrid1->setItem(row, column, new QTableWidgetItem(column == 0 ? QString(QChar('A' - 1 + row)) : QString()));
    }
    for (int column = 1; column <= od::columnCount; ++column) {
        for (int row = 0; row < StringGrid1->rowCount(); ++row)
            StringGrid1->setItem(row, column, new QTableWidgetItem(row == 0 ? QString::number(column) : QString()));
    }
    FitGridToItsRoom(StringGrid1->viewport()->size());
}

int TReaderPage::px(int designPx) const
{
    return fontScale::px(this, designPx);
}

void TReaderPage::FitGridToItsRoom(const QSize &room)
{
    // The row letters keep their column; the twelve columns and nine rows share the
    // rest evenly, never below their drawn sizes.
    const int caption = px(captionColumnWidth);
    const int width = qMax(room.width() - caption, od::columnCount * px(od::gridColumnWidth));
    const int height = qMax(room.height(), (od::rowCount + 1) * px(gridRowHeight));
    StringGrid1->setColumnWidth(0, caption);
    for (int c = 1; c <= od::columnCount; ++c)
        StringGrid1->setColumnWidth(c, width * c / od::columnCount - width * (c - 1) / od::columnCount);
    for (int r = 0; r <= od::rowCount; ++r)
        StringGrid1->setRowHeight(r, height * (r + 1) / (od::rowCount + 1) - height * r / (od::rowCount + 1));
}

bool TReaderPage::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == StringGrid1->viewport() && event->type() == QEvent::Resize)
        FitGridToItsRoom(StringGrid1->viewport()->size());
    return QWidget::eventFilter(watched, event);
}

void TReaderPage::ClearODValues()
{
    for (int row = 1; row <= od::rowCount; ++row)
        for (int column = 1; column <= od::columnCount; ++column)
            setCell(StringGrid1, row, column, QString());
    RefreshPlateColours();
}

void TReaderPage::RefreshPlateColours()
{
    const bool on = chckColourScale->isChecked();
    plateLegend->setVisible(on);
    const plate::TValues values = od::tableValues(odTableText);
    const auto range = on ? plate::scaleRange(plateLegend->scale(), values) : std::nullopt;
    colourPlateCells(StringGrid1, values, range);
    plateLegend->setRange(range);
}

void TReaderPage::btnPrintOPClick()
{
    if (!m_printService)
        m_printService = new TPrintService(m_host.dialogParent(), m_host.dialogs());
    m_printService->setDocumentName(plate::handOverBaseName(odInstrumentName, odReadAt), m_host.handOverFolder());
    const auto colours = chckColourScale->isChecked() ? plateLegend->range() : std::nullopt;
    // On screen first; the preview leads to the printer or a PDF file.
    m_printService->previewPlate(od::tableValues(odTableText),
                                 printing::plateTitle(fileSystemName(odInstrumentName), odReadAt), colours);
}

void TReaderPage::RequestODTable()
{
    // Made while the instrument is being looked for or another exchange runs, the
    // request waits for the line.
    m_link.Submit(*m_exchange, odTableActivity, [this] { BeginODTable(); });
}

void TReaderPage::BeginODTable()
{
    OleContainer1->DestroyObject();
    m_exchange->start();
    odTableText.clear();
    odInstrumentName.clear();
    odReadAt = {};
    // The values of the last table would no longer be what "Данные в файл" writes.
    ClearODValues();
}

void TReaderPage::Enter()
{
    m_link.search->RequestTopSpeed();
    SetUpGrid();
}

void TReaderPage::btnReadOPClick()
{
    RequestODTable();
}

void TReaderPage::ReplyODMeasured()
{
    if (TakeMeasurementNotice(m_host, m_link, *m_exchange, QStringLiteral("Оптические плотности измерены"),
                              chckAutoReadOP->isChecked(), odTableActivity, [this] { BeginODTable(); }))
        btnReadOP->setEnabled(true);
}

void TReaderPage::ReplyODTable(const QByteArray &table)
{
    m_host.SetProgress(0);
    btnReadOP->setEnabled(true);
    // The protocol has no checksum, but the table has a fixed layout: one byte of line
    // noise inside it shifts what follows, and such a table is neither shown nor saved.
    const QString problem = od::tableLayoutProblem(table);
    if (!problem.isEmpty()) {
        m_host.ShowStatus(od::refusedTableText(problem));
        return;
    }

    const auto values = od::tableValues(table);
    for (int row = 1; row <= od::rowCount; ++row)
        for (int column = 1; column <= od::columnCount; ++column)
            setCell(StringGrid1, row, column, fromCp1251(values[size_t((row - 1) * od::columnCount + column - 1)]),
                    Qt::AlignRight | Qt::AlignVCenter);
    m_host.ShowStatus(QStringLiteral("Оптические плотности приняты"));
    odTableText = table;
    odTableText[0] = ' ';
    odReadAt = QDateTime::currentDateTime();
    btnSaveOP->setEnabled(true);
    btnCreateExcel->setEnabled(true);
    btnPrintOP->setEnabled(true);
    RefreshPlateColours();
    Q_EMIT tableAccepted(odTableText, odReadAt);
    // The exchange holds the line until the name has come: nothing comes between.
    if (chckAutoSaveOP->isChecked())
        m_exchange->requestName();
}

void TReaderPage::ReplyODFileName(const QByteArray &reply)
{
    // The whole reply, its '2' included, is the name.
    const QByteArray name = od::fileNameOfReply(reply);
    // A name that is no name comes from the line, not from the disk: the status line
    // says so, and line noise cannot raise one error box after another.
    const QString unsafe = unsafeNameReason(name);
    if (!unsafe.isEmpty()) {
        m_host.ShowStatus(QStringLiteral("Прибор прислал недопустимое имя файла \"%1\" (%2); данные не записаны.")
                                  .arg(fileSystemName(name), unsafe));
        return;
    }
    odInstrumentName = name;
    Q_EMIT tableNamed(odTableText, name);
    const QString folder = userData::autoSaveFolder(m_host);
    const QString shownName = writeIntoFolder(folder, name, odTableText,
                                              QStringLiteral("Прибор прислал недопустимое имя файла"),
                                              QStringLiteral("данные не записаны."));
    m_host.ShowStatus(userData::savedText(QStringLiteral("Данные записаны в файл: ") + shownName, folder));
}

void TReaderPage::btnSaveOPClick()
{
    TFileDialogState &dialog = m_host.sdlgSaveTavDat();
    saving::proposeTableSave(dialog, plate::handOverBaseName(odInstrumentName, odReadAt));
    if (!m_host.dialogs()->executeSave(m_host.dialogParent(), dialog))
        return;
    const QString path = dialog.fileName;
    saving::writeTable(path, dialog.filterIndex, odTableText, odInstrumentName, odReadAt);
    m_host.ShowStatus(QStringLiteral("Данные записаны в файл."));
    // Kept in the container as an icon, not opened.
    OleContainer1->CreateObjectFromFile(path, true);
}

void TReaderPage::btnCreateExcelClick()
{
    // A workbook of numbers under a lasting name: the spreadsheet program opens it
    // without an import dialog, and what the user saves there is never replaced.
    const auto book = plate::handOverWorkbook(m_host.handOverFolder(), odTableText, odInstrumentName, odReadAt);
    HandOver(book);
}

void TReaderPage::btnFileToExcelClick()
{
    if (!m_host.dialogs()->executeOpen(m_host.dialogParent(), odlgOpenFileToExcel))
        return;
    HandOver(plate::workbookFromTableFile(odlgOpenFileToExcel.fileName, m_host.handOverFolder()));
}

void TReaderPage::HandOver(const plate::TWorkbookResult &book)
{
    if (!book.error.isEmpty())
        throw std::runtime_error(book.error.toStdString());
    excelTempPath = book.path;
    OleContainer1->OpenLastingFile(book.path);
    m_host.ShowStatus(QStringLiteral("Данные переданы в Excel: ") + QDir::toNativeSeparators(book.path));
}
