#include "testdb/UnitBDTS_TreeTS.h"

#include "testdb/BDTSTreeView.h"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
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
}
