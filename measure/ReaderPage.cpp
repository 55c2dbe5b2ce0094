// The reader page: the optical density table fetched from the instrument, shown in
// the grid, saved to files and handed to the spreadsheet program.

#include "app/MainLoritS_TreeTS.h"
#include "link/TMSComm.h"
#include "measure/MeasureData.h"
#include "measure/OleContainer.h"

#include <QCheckBox>
#include <QFrame>
#include <QPushButton>
#include <QTableWidget>

#include <stdexcept>

const QString TFormMainLoritS_D7::excelTempFile = QStringLiteral("TempBDTS.xls");

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
} // namespace

void TFormMainLoritS_D7::SetUpGrid()
{
    // Every value cell is blanked; the last table stays kept for saving.
    for (int row = 1; row <= 8; ++row) {
        for (int column = 0; column < StringGrid1->columnCount(); ++column)
            StringGrid1->setItem(row, column, new QTableWidgetItem(column == 0 ? QString(QChar(64 + row)) : QString()));
    }
    for (int column = 1; column <= 12; ++column) {
        for (int row = 0; row < StringGrid1->rowCount(); ++row)
            StringGrid1->setItem(row, column, new QTableWidgetItem(row == 0 ? QString::number(column) : QString()));
        StringGrid1->setColumnWidth(column, 35);
    }
    RzPanel7->setFixedWidth(447);
}

void TFormMainLoritS_D7::ClearODValues()
{
    for (int row = 1; row <= od::rowCount; ++row)
        for (int column = 1; column <= od::columnCount; ++column)
            setCell(StringGrid1, row, column, QString());
}

void TFormMainLoritS_D7::RequestODTable()
{
    OleContainer1->DestroyObject();
    SendToDevice(QByteArrayLiteral("G"));
    ++odTablesAwaited;
    odTableText.clear();
    // The values of the last table would no longer be what "Данные в файл" writes.
    ClearODValues();
}

void TFormMainLoritS_D7::btnReadOPClick()
{
    if (!MSComm1->PortOpen()) {
        ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    if (LineBusy()) {
        ShowStatus(LineBusyText());
        return;
    }
    replyBuffer.clear();
    RequestODTable();
}

void TFormMainLoritS_D7::ReplyODMeasured()
{
    MeasurementNotice(QStringLiteral("Оптические плотности измерены"), chckAutoReadOP, m_autoTableDeferred,
                      &TFormMainLoritS_D7::RequestODTable);
}

void TFormMainLoritS_D7::ReplyODTable()
{
    if (odTablesAwaited < 1) {
        replyBuffer.clear();
        return;
    }
    // The instrument sends the table in pieces; only its length tells it is complete.
    const int length = int(qMin<qsizetype>(replyBuffer.size(), od::tableLength));
    ShowStatus(QString::number(length));
    SetProgress(length * 100 / od::tableLength);
    if (length < od::tableLength)
        return;
    // The table ends at its length; what follows it is the next reply.
    const QByteArray table = replyBuffer.left(od::tableLength);
    replyBuffer.remove(0, od::tableLength);
    --odTablesAwaited;

    const auto values = od::tableValues(table);
    for (int row = 1; row <= od::rowCount; ++row)
        for (int column = 1; column <= od::columnCount; ++column)
            setCell(StringGrid1, row, column, fromCp1251(values[size_t((row - 1) * od::columnCount + column - 1)]),
                    Qt::AlignRight | Qt::AlignVCenter);
    SetProgress(0);
    ShowStatus(QStringLiteral("Оптические плотности приняты"));
    odTableText = table;
    odTableText[0] = ' ';
    btnReadOP->setEnabled(true);
    btnSaveOP->setEnabled(true);
    btnCreateExcel->setEnabled(true);
    if (chckAutoSaveOP->isChecked() && !LineBusy()) {
        SendToDevice(QByteArrayLiteral("D"));
        ++odFileNamesAwaited;
    }
}

void TFormMainLoritS_D7::ReplyODFileName()
{
    if (odFileNamesAwaited < 1) {
        replyBuffer.clear();
        return;
    }
    if (replyBuffer.size() < od::fileNameReplyLength)
        return;
    --odFileNamesAwaited;
    // The whole reply, its '2' included, is the name. It is consumed before anything
    // is written, so that a refused name or a failed write does not swallow the
    // replies that follow.
    const QByteArray name = od::fileNameOfReply(replyBuffer.left(od::fileNameReplyLength));
    replyBuffer.remove(0, od::fileNameReplyLength);
    const QString shownName = writeIntoFolder(programFolder, name, odTableText,
                                              QStringLiteral("Прибор прислал недопустимое имя файла"),
                                              QStringLiteral("данные не записаны."));
    ShowStatus(QStringLiteral("Данные записаны в файл: ") + shownName);
}

void TFormMainLoritS_D7::btnSaveOPClick()
{
    if (!dialogs()->executeSave(this, sdlgSaveTavDat))
        return;
    const QString path = sdlgSaveTavDat.fileName;
    writeWholeFile(path, odTableText);
    ShowStatus(QStringLiteral("Данные записаны в файл."));
    // Kept in the container as an icon, not opened.
    OleContainer1->CreateObjectFromFile(path, true);
}

void TFormMainLoritS_D7::btnCreateExcelClick()
{
    excelTempPath = programFolder + excelTempFile;
    writeWholeFile(excelTempPath, odTableText);
    OleContainer1->CreateObjectFromFile(excelTempPath, true);
    OleContainer1->DoVerb(1);
}

void TFormMainLoritS_D7::btnFileToExcelClick()
{
    if (!dialogs()->executeOpen(this, odlgOpenFileToExcel))
        return;
    OleContainer1->CreateObjectFromFile(odlgOpenFileToExcel.fileName, true);
    OleContainer1->DoVerb(1);
}

void TFormMainLoritS_D7::ForgetAwaitedReplies()
{
    // The instrument went away: what it had been asked for will never come.
    odTablesAwaited = 0;
    odFileNamesAwaited = 0;
    protocolLengthsAwaited = 0;
    protocolLength = 0;
}
