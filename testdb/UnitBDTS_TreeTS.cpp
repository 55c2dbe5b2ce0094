#include "testdb/UnitBDTS_TreeTS.h"

#include "common/PageHost.h"
#include "common/Settings.h"

#include "testdb/BDTSDatabase.h"
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
    for (TFileDialogState *dialog : {&SaveDialog, &OpenDialog}) {
        dialog->filter = QStringLiteral("Файлы данных (*.bdt)|*.bdt");
        dialog->defaultExt = QStringLiteral(".bdt");
    }
    SaveDialog.memoryKey = dialogKey::databaseSave;
    OpenDialog.memoryKey = dialogKey::databaseOpen;
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

TFrameBDTS::~TFrameBDTS()
{
    if (m_transfer)
        m_transfer->setView(nullptr);
}

void TFrameBDTS::setExchange(TBDTSDatabase *database, TBDTSTransfer *transfer, TPageHost *host)
{
    m_database = database;
    m_transfer = transfer;
    m_host = host;
    transfer->setView(this);
    const auto on = [this](QPushButton *button, void (TFrameBDTS::*handler)()) {
        connect(button, &QPushButton::clicked, this,
                [this, handler] { m_host->Guarded([this, handler] { (this->*handler)(); }); });
    };
    on(btnReadBDTSFromTav, &TFrameBDTS::btnReadBDTSFromTavClick);
    on(btnSaveBDTSinFile, &TFrameBDTS::btnSaveBDTSinFileClick);
    on(btnDeleteTS, &TFrameBDTS::btnDeleteTSClick);
    on(btnSaveAddTs, &TFrameBDTS::btnSaveAddTsClick);
    on(btnReadBDTSFromFile, &TFrameBDTS::btnReadBDTSFromFileClick);
    on(btnWriteBDTSInTav, &TFrameBDTS::btnWriteBDTSInTavClick);
    on(btnAddTSInTav, &TFrameBDTS::btnAddTSInTavClick);
    connect(TreeViewTav, &TBDTSTreeView::Click, this, &TFrameBDTS::TreeViewTavClick);
    connect(transfer, &TBDTSTransfer::runningChanged, this, &TFrameBDTS::setTransferRunning);
    connect(database, &TBDTSDatabase::changed, this, &TFrameBDTS::showSide);
    connect(database, &TBDTSDatabase::confirmedChanged, this, &TFrameBDTS::showDeviceCount);
    setTransferRunning(transfer->running());
    // What the database holds already; a list never made keeps its bare caption.
    if (database->deviceListLoaded)
        showSide(TBDTSSide::Device);
    if (database->fileListLoaded)
        showSide(TBDTSSide::File);
    if (database->addImage)
        showSide(TBDTSSide::Add);
}

void TFrameBDTS::showSide(TBDTSSide side)
{
    const TBDTSDatabase &db = *m_database;
    switch (side) {
    case TBDTSSide::Device:
        TreeViewTav->showKeyTree(db.deviceTree);
        showDeviceCount();
        setButtonEnabled(btnSaveBDTSinFile, db.deviceListLoaded);
        break;
    case TBDTSSide::File:
        TreeViewFile->showKeyTree(db.fileTree);
        RzGroupBox2->setTitle(QStringLiteral("Список ТС в файле (%1):").arg(db.fileTSCount));
        setButtonEnabled(btnWriteBDTSInTav, db.fileListLoaded);
        break;
    case TBDTSSide::Add:
        TreeViewAdd->showKeyTree(db.addTree);
        RzGroupBox3->setTitle(QStringLiteral("Дополнительный список ТС (%1):").arg(db.addTSCount));
        setButtonEnabled(btnAddTSInTav, db.addEnabled());
        break;
    }
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
        // The button of the transfer that runs reads "Стоп": a writing that waited for
        // the line was asked for by its write button; anything else is a reading.
        const bool writing = m_transfer && m_transfer->state() == TTransferState::Writing;
        QPushButton *asked = m_starting ? m_starting : m_requested;
        if (writing)
            m_stopButton = asked && asked != btnReadBDTSFromTav ? asked : btnWriteBDTSInTav;
        else
            m_stopButton = btnReadBDTSFromTav;
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

void TFrameBDTS::showDeviceCount()
{
    // Before the first reading the tree holds nothing that could pass for the instrument's.
    if (!m_database->deviceListLoaded)
        return;
    const int tsCount = m_database->deviceTSCount;
    RzGroupBox1->setTitle(m_database->deviceListConfirmed
                                  ? QStringLiteral("Список ТС в приборе (%1):").arg(tsCount)
                                  : QStringLiteral("Список ТС не подтверждён прибором (%1):").arg(tsCount));
}

void TFrameBDTS::TreeViewTavClick()
{
    const qsizetype selected = TreeViewTav->selectedItems().size();
    setButtonEnabled(btnDeleteTS, selected > 0);
    if (selected > 0 && m_transfer)
        m_host->ShowStatus(QStringLiteral("Выбрано  позиций:%1.").arg(selected));
}

void TFrameBDTS::startOrStop(QPushButton *button, void (TFrameBDTS::*start)())
{
    if (m_transferRunning && button == m_stopButton) {
        m_transfer->cancel();
        return;
    }
    m_starting = button;
    m_requested = button;
    const auto done = qScopeGuard([this] { m_starting = nullptr; });
    (this->*start)();
}

void TFrameBDTS::prepareDialog(TFileDialogState &dialog) const
{
    if (dialog.initialDir.isEmpty())
        dialog.initialDir = m_database->programFolder() + QStringLiteral("FilesInTavelon");
}

QString TFrameBDTS::chooseFile(TFileDialogState &dialog, bool save)
{
    // The dialog proposes no name of its own: the folder is where it starts.
    TFileDialogState shown = dialog;
    shown.fileName.clear();
    TDialogs *dialogs = m_host->dialogs();
    QWidget *parent = m_host->dialogParent();
    if (!(save ? dialogs->executeSave(parent, shown) : dialogs->executeOpen(parent, shown)))
        return {};
    const QString path = shown.fileName;
    const TPathParts parts = splitChosenPath(path);
    m_host->lastFileFolder() = parts.folder;
    m_host->lastFileName() = parts.name;
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
    TPageHost &host = *m_host;
    prepareDialog(SaveDialog);
    m_transfer->bdtSavePath.clear();
    const QString path = chooseFile(SaveDialog, true);
    if (path.isEmpty())
        return;
    m_transfer->bdtSavePath = path;
    const TPathParts parts = splitChosenPath(path);
    if (m_database->deviceImage) {
        writeBdtFile(path, *m_database->deviceImage);
        host.ShowStatus(QStringLiteral("БД ТС записана в файл: ") + parts.name);
    }
    SaveDialog.initialDir = parts.folder;
}

void TFrameBDTS::btnReadBDTSFromFileClick()
{
    TPageHost &host = *m_host;
    prepareDialog(OpenDialog);
    m_transfer->bdtOpenPath.clear();
    const QString path = chooseFile(OpenDialog, false);
    if (path.isEmpty()) {
        // The loaded image goes when the user cancels; its list stays on screen.
        m_database->DropFileImage();
        return;
    }
    m_transfer->bdtOpenPath = path;
    const TPathParts parts = splitChosenPath(path);
    OpenDialog.initialDir = parts.folder;
    host.ShowStatus(QStringLiteral("Чтение из файла ") + parts.name);
    // A file that cannot be read, or is refused, leaves the loaded image and its list.
    m_database->LoadFile(readBdtFile(path), parts.name);
}

void TFrameBDTS::btnWriteBDTSInTavClick()
{
    startOrStop(btnWriteBDTSInTav, &TFrameBDTS::startWritingFile);
}

void TFrameBDTS::startWritingFile()
{
    m_transfer->StartWriting(m_database->fileImage, m_database->filePageCount);
}

void TFrameBDTS::btnSaveAddTsClick()
{
    startOrStop(btnSaveAddTs, &TFrameBDTS::startWritingDevice);
}

void TFrameBDTS::startWritingDevice()
{
    m_transfer->StartWriting(m_database->deviceImage, m_database->devicePageCount);
}

void TFrameBDTS::btnAddTSInTavClick()
{
    if (m_database->AppendMissing())
        setButtonEnabled(btnSaveAddTs, true);
}

void TFrameBDTS::btnDeleteTSClick()
{
    m_database->DeleteKeys(TreeViewTav->selectedKeys());
    setButtonEnabled(btnSaveAddTs, true);
}
