#pragma once
// The database frame of the page "БД ТС": the instrument's list, the file's list and
// the additional list, each in its group box with its buttons. The frame only holds the
// widgets; the lists' state and operations live in TBDTSLists, the exchange handlers
// are connected by whoever drives the buttons.

#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class TBDTSTreeView;

class TFrameBDTS : public QWidget
{
    Q_OBJECT
public:
    explicit TFrameBDTS(QWidget *parent = nullptr);

    // Owned through the Qt parent chain.
    QLabel *RzLabel1 = nullptr;

    QGroupBox *RzGroupBox1 = nullptr; ///< "Список ТС в приборе:"
    TBDTSTreeView *TreeViewTav = nullptr;
    QPushButton *btnReadBDTSFromTav = nullptr;
    QPushButton *btnSaveBDTSinFile = nullptr;
    QPushButton *btnDeleteTS = nullptr;
    QPushButton *btnSaveAddTs = nullptr;

    QGroupBox *RzGroupBox2 = nullptr; ///< "Список ТС в файле:"
    TBDTSTreeView *TreeViewFile = nullptr;
    QPushButton *btnReadBDTSFromFile = nullptr;
    QPushButton *btnWriteBDTSInTav = nullptr;

    QGroupBox *RzGroupBox3 = nullptr; ///< "Дополнительный список ТС:"
    TBDTSTreeView *TreeViewAdd = nullptr;
    QPushButton *btnAddTSInTav = nullptr;
};
