#include "testdb/UnitBDTS_TreeTS.h"

#include "testdb/BDTSLists.h"
#include "testdb/BDTSTransfer.h"
#include "testdb/BDTSTreeView.h"
#include "testdb/BdtFile.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

namespace {

QPushButton *makeButton(const QString &caption, const QString &hint, bool enabled, QWidget *parent)
{
    auto *button = new QPushButton(caption, parent);
    button->setToolTip(hint);
    button->setEnabled(enabled);
    return button;
}

} // namespace

TFrameBDTS::TFrameBDTS(QWidget *parent) : QWidget(parent)
{
    RzLabel1 = new QLabel(QStringLiteral("Перепрограммирование базы данных тест-систем."), this);

    RzGroupBox1 = new QGroupBox(QStringLiteral("Список ТС в приборе:"), this);
    TreeViewTav = new TBDTSTreeView(TBDTSTreeView::TSelection::SeveralOfOneParent, RzGroupBox1);
    btnReadBDTSFromTav = makeButton(QStringLiteral(" из прибора"),
                                    QStringLiteral("Чтение БД ТС из прибора."), true, RzGroupBox1);
    btnSaveBDTSinFile = makeButton(QStringLiteral("в файл..."),
                                   QStringLiteral("Запись БД ТС в файл."), false, RzGroupBox1);
    btnDeleteTS = makeButton(QStringLiteral("удалить"),
                             QStringLiteral("Выбор для удаления:\nShift + левый клик - непрерывно,\n"
                                            "Ctrl + левый клик - выборочно."),
                             false, RzGroupBox1);
    btnSaveAddTs = makeButton(QStringLiteral("в прибор"),
                              QStringLiteral("Запись БД ТС в прибор."), false, RzGroupBox1);

    RzGroupBox2 = new QGroupBox(QStringLiteral("Список ТС в файле:"), this);
    TreeViewFile = new TBDTSTreeView(TBDTSTreeView::TSelection::OneNode, RzGroupBox2);
    btnReadBDTSFromFile = makeButton(QStringLiteral("из файла..."),
                                     QStringLiteral("Чтение БД ТС из файла."), true, RzGroupBox2);
    btnWriteBDTSInTav = makeButton(QStringLiteral("в прибор"),
                                   QStringLiteral("Запись БД ТС из файла в прибор."), false,
                                   RzGroupBox2);

    RzGroupBox3 = new QGroupBox(QStringLiteral("Дополнительный список ТС:"), this);
    TreeViewAdd = new TBDTSTreeView(TBDTSTreeView::TSelection::OneNode, RzGroupBox3);
    btnAddTSInTav = makeButton(QStringLiteral("<<< Добавить в список прибора"),
                               QStringLiteral("Дополнение списка ТС прибора\nнедостающими из файла."),
                               false, RzGroupBox3);

    // Two rows of two: four captions side by side do not fit half the page.
    auto *deviceRow = new QGridLayout;
    deviceRow->setSpacing(3);
    deviceRow->addWidget(btnReadBDTSFromTav, 0, 0);
    deviceRow->addWidget(btnSaveBDTSinFile, 0, 1);
    deviceRow->addWidget(btnDeleteTS, 1, 0);
    deviceRow->addWidget(btnSaveAddTs, 1, 1);
    auto *deviceBox = new QVBoxLayout(RzGroupBox1);
    deviceBox->addWidget(TreeViewTav, 1);
    deviceBox->addLayout(deviceRow);

    auto *fileRow = new QHBoxLayout;
    fileRow->addWidget(btnReadBDTSFromFile);
    fileRow->addWidget(btnWriteBDTSInTav);
    auto *fileBox = new QVBoxLayout(RzGroupBox2);
    fileBox->addWidget(TreeViewFile, 1);
    fileBox->addLayout(fileRow);

    auto *addBox = new QVBoxLayout(RzGroupBox3);
    addBox->addWidget(TreeViewAdd, 1);
    addBox->addWidget(btnAddTSInTav);

    auto *right = new QVBoxLayout;
    right->addWidget(RzGroupBox2, 1);
    right->addWidget(RzGroupBox3, 1);
    auto *lists = new QHBoxLayout;
    lists->addWidget(RzGroupBox1, 1);
    lists->addLayout(right, 1);
    auto *frame = new QVBoxLayout(this);
    frame->addWidget(RzLabel1);
    frame->addLayout(lists, 1);

    for (QPushButton *button : {btnReadBDTSFromTav, btnDeleteTS, btnSaveAddTs, btnReadBDTSFromFile,
                                btnWriteBDTSInTav, btnAddTSInTav})
        m_ownEnabled.insert(button, button->isEnabled());
}

void TFrameBDTS::Enter()
{
    if (m_transfer)
        m_transfer->RequestTopSpeed();
}

void TFrameBDTS::setExchange(TBDTSLists *lists, TBDTSTransfer *transfer)
{
    m_lists = lists;
    m_transfer = transfer;
    const auto on = [this](QPushButton *button, void (TFrameBDTS::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { m_transfer->host().Guarded([this, handler] { (this->*handler)(); }); });
    };
    on(btnReadBDTSFromTav, &TFrameBDTS::btnReadBDTSFromTavClick);
    on(btnSaveBDTSinFile, &TFrameBDTS::btnSaveBDTSinFileClick);
    on(btnDeleteTS, &TFrameBDTS::btnDeleteTSClick);
    on(btnSaveAddTs, &TFrameBDTS::btnSaveAddTsClick);
    on(btnReadBDTSFromFile, &TFrameBDTS::btnReadBDTSFromFileClick);
    on(btnWriteBDTSInTav, &TFrameBDTS::btnWriteBDTSInTavClick);
    on(btnAddTSInTav, &TFrameBDTS::btnAddTSInTavClick);
    connect(transfer, &TBDTSTransfer::runningChanged, this, &TFrameBDTS::setTransferRunning);
    setTransferRunning(transfer->running());
}

void TFrameBDTS::setButtonEnabled(QPushButton *button, bool enabled)
{
    const auto gated = m_ownEnabled.find(button);
    if (gated == m_ownEnabled.end()) {
        button->setEnabled(enabled);
        return;
    }
    *gated = enabled;
    applyEnabled(button, enabled);
}

void TFrameBDTS::applyEnabled(QPushButton *button, bool own)
{
    button->setEnabled(button == m_stopButton || (own && !m_transferRunning));
}

void TFrameBDTS::setTransferRunning(bool running)
{
    m_transferRunning = running;
    if (running && !m_stopButton) {
        // A transfer that no button started (the window asked) is a reading.
        m_stopButton = m_starting ? m_starting : btnReadBDTSFromTav;
        m_stopButtonCaption = m_stopButton->text();
        m_stopButtonHint = m_stopButton->toolTip();
        m_stopButton->setText(QStringLiteral("Стоп"));
        m_stopButton->setToolTip(QStringLiteral("Остановить обмен с прибором."));
    } else if (!running && m_stopButton) {
        m_stopButton->setText(m_stopButtonCaption);
        m_stopButton->setToolTip(m_stopButtonHint);
        m_stopButton = nullptr;
    }
    for (auto it = m_ownEnabled.cbegin(); it != m_ownEnabled.cend(); ++it)
        applyEnabled(it.key(), it.value());
}

void TFrameBDTS::showDeviceTree(bool shown)
{
    TreeViewTav->setVisible(shown);
}

void TFrameBDTS::showDeviceCount(int tsCount)
{
    RzGroupBox1->setTitle(m_deviceListConfirmed
                                  ? QStringLiteral("Список ТС в приборе (%1):").arg(tsCount)
                                  : QStringLiteral("Список ТС не подтверждён прибором (%1):").arg(tsCount));
}

void TFrameBDTS::setDeviceListConfirmed(bool confirmed)
{
    m_deviceListConfirmed = confirmed;
    // Before the first reading the tree holds nothing that could pass for the instrument's.
    if (m_lists && m_lists->deviceListLoaded)
        showDeviceCount(m_lists->deviceTSCount);
}

void TFrameBDTS::showAddCount(int tsCount)
{
    RzGroupBox3->setTitle(QStringLiteral("Дополнительный список ТС (%1):").arg(tsCount));
}

void TFrameBDTS::setSaveDeviceEnabled(bool enabled)
{
    setButtonEnabled(btnSaveBDTSinFile, enabled);
}

void TFrameBDTS::setDeleteEnabled(bool enabled)
{
    setButtonEnabled(btnDeleteTS, enabled);
}

void TFrameBDTS::setAddEnabled(bool enabled)
{
    setButtonEnabled(btnAddTSInTav, enabled);
}

void TFrameBDTS::startOrStop(QPushButton *button, void (TFrameBDTS::*start)())
{
    if (m_transferRunning && button == m_stopButton) {
        m_transfer->Stop();
        return;
    }
    m_starting = button;
    const auto done = qScopeGuard([this] { m_starting = nullptr; });
    (this->*start)();
}

void TFrameBDTS::prepareDialog(TBdtFileDialog &dialog) const
{
    if (dialog.initialDir.isEmpty())
        dialog.initialDir = m_lists->programFolder() + QStringLiteral("FilesInTavelon");
}

QString TFrameBDTS::chooseFile(TBdtFileDialog &dialog)
{
    const QString path = m_transfer->host().ExecuteFileDialog(dialog);
    if (path.isEmpty())
        return path;
    const TPathParts parts = splitChosenPath(path);
    m_transfer->host().SetLastFile(parts.folder, parts.name);
    return path;
}

void TFrameBDTS::btnReadBDTSFromTavClick()
{
    startOrStop(btnReadBDTSFromTav, &TFrameBDTS::startReading);
}

void TFrameBDTS::startReading()
{
    m_transfer->RequestDatabase();
}

void TFrameBDTS::btnSaveBDTSinFileClick()
{
    TBDTSHost &host = m_transfer->host();
    prepareDialog(SaveDialog);
    m_transfer->bdtSavePath.clear();
    const QString path = chooseFile(SaveDialog);
    if (path.isEmpty())
        return;
    m_transfer->bdtSavePath = path;
    const TPathParts parts = splitChosenPath(path);
    if (m_lists->deviceImage) {
        writeBdtFile(path, *m_lists->deviceImage);
        host.ShowStatus(QStringLiteral("БД ТС записана в файл: ") + parts.name);
    }
    SaveDialog.initialDir = parts.folder;
}

void TFrameBDTS::btnReadBDTSFromFileClick()
{
    TBDTSHost &host = m_transfer->host();
    TBDTSLists &lists = *m_lists;
    prepareDialog(OpenDialog);
    m_transfer->bdtOpenPath.clear();
    // The loaded image is discarded before the dialog opens and stays so when the user
    // cancels; a chosen file that is refused brings it back with its list.
    std::optional<QByteArray> previous = std::exchange(lists.fileImage, std::nullopt);
    const QString path = chooseFile(OpenDialog);
    if (path.isEmpty())
        return;
    m_transfer->bdtOpenPath = path;
    const TPathParts parts = splitChosenPath(path);
    OpenDialog.initialDir = parts.folder;
    host.ShowStatus(QStringLiteral("Чтение из файла ") + parts.name);
    QByteArray bytes;
    try {
        bytes = readBdtFile(path);
    } catch (...) {
        lists.fileImage = std::move(previous);
        throw;
    }
    switch (checkDatabaseFile(bytes)) {
    case TFileCheck::Database:
        break;
    case TFileCheck::NoSignature:
        lists.fileImage = std::move(previous);
        host.ShowStatus(QStringLiteral("Файл %1 не содержит БД ТС.").arg(parts.name));
        return;
    case TFileCheck::BadCount:
    case TFileCheck::NoFinalPage:
        lists.fileImage = std::move(previous);
        host.ShowStatus(QStringLiteral("Неверный формат файла."));
        return;
    }

    const int pageCount = headerCount(bytes).value_or(0);
    // A database whose normal form the header cannot count is refused like any other
    // file that is no database: it could never be written into the instrument.
    if (!TBDTSLists::NormalFormFits(bytes, pageCount)) {
        lists.fileImage = std::move(previous);
        host.ShowStatus(tooManyPagesText());
        return;
    }

    TreeViewFile->hide();
    TreeViewAdd->hide();
    lists.fileImage = std::move(bytes);
    lists.fileRecords.assign(size_t(pageCount), TTSRecordRef{});
    lists.ParseImage(TBDTSSide::File, pageCount);
    const bool rebuilt = lists.RebuildImage(TBDTSSide::File).has_value();
    lists.fileListLoaded = true;
    RzGroupBox2->setTitle(QStringLiteral("Список ТС в файле (%1):").arg(lists.fileTSCount));
    if (rebuilt)
        host.ShowStatus(QStringLiteral("Считано из файла %1 %2 ТС").arg(parts.name).arg(lists.fileTSCount));
    TreeViewFile->show();
    setButtonEnabled(btnWriteBDTSInTav, true);
    lists.BuildAdditionalList();
    TreeViewAdd->show();
    lists.WriteListFile(*TreeViewFile, QString::fromLatin1(fileListFile));
}

void TFrameBDTS::btnWriteBDTSInTavClick()
{
    startOrStop(btnWriteBDTSInTav, &TFrameBDTS::startWritingFile);
}

void TFrameBDTS::startWritingFile()
{
    m_transfer->StartWriting(m_lists->fileImage, m_lists->filePageCount);
}

void TFrameBDTS::btnSaveAddTsClick()
{
    startOrStop(btnSaveAddTs, &TFrameBDTS::startWritingDevice);
}

void TFrameBDTS::startWritingDevice()
{
    m_transfer->StartWriting(m_lists->deviceImage, m_lists->devicePageCount);
}

void TFrameBDTS::btnAddTSInTavClick()
{
    TBDTSHost &host = m_transfer->host();
    TBDTSLists &lists = *m_lists;
    const int added = lists.addTSCount;
    host.ShowStatus(QStringLiteral("Включение в список прибора дополнительно %1 ТС").arg(added));
    if (!lists.deviceImage || !lists.addImage)
        return;
    const int pageCount = lists.devicePageCount + lists.addPageCount - 1;
    if (!pageCountFits(pageCount)) {
        host.ShowStatus(tooManyPagesText()); // the header holds three digits
        return;
    }
    // The additional pages overwrite the final page and end with one of their own.
    QByteArray &image = *lists.deviceImage;
    image.truncate(std::max<qsizetype>(bdt::headerSize, image.size() - bdt::pageSize));
    image.append(*lists.addImage);
    lists.devicePageCount = pageCount;
    if (image.size() / bdt::pageSize != lists.devicePageCount)
        host.ShowStatus(QStringLiteral("Ошибка добавления в список прибора."));
    image.replace(bdt::signatureSize, bdt::headerSize - bdt::signatureSize, countField(pageCount));
    host.ShowStatus(QStringLiteral("В список прибора добавлено %1 ТС").arg(added));
    lists.devicePageCount = headerCount(image).value_or(0);
    lists.deviceRecords.assign(size_t(lists.devicePageCount), TTSRecordRef{});
    lists.ParseImage(TBDTSSide::Device, lists.devicePageCount);
    lists.BuildAdditionalList();
    showDeviceCount(lists.deviceTSCount);
    setButtonEnabled(btnSaveAddTs, true);
}

void TFrameBDTS::btnDeleteTSClick()
{
    TBDTSLists &lists = *m_lists;
    lists.DeleteSelectedNodes(*TreeViewTav);
    const int before = lists.deviceTSCount;
    const bool rebuilt = lists.RebuildImage(TBDTSSide::Device).has_value();
    lists.ParseImage(TBDTSSide::Device, lists.devicePageCount);
    showDeviceCount(lists.deviceTSCount);
    setButtonEnabled(btnSaveAddTs, true);
    lists.BuildAdditionalList();
    if (rebuilt)
        m_transfer->host().ShowStatus(
                QStringLiteral("Из списка прибора удалено %1 ТС").arg(before - lists.deviceTSCount));
}
