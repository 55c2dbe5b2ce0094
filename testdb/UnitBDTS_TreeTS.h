#pragma once
// The database frame of the page "БД ТС": the instrument's list, the file's list and
// the additional list, each in its group box with its buttons, and the handlers of
// those buttons. The lists are TBDTSDatabase's, which the frame shows and hands the
// user's selection; the exchange with the instrument is TBDTSTransfer's, which tells the
// frame as its TBDTSView when a reading replaces the instrument's list. The window is
// reached through the page interface.

#include "common/Dialogs.h"
#include "common/WorkPage.h"
#include "testdb/BDTSView.h"

#include <QHash>
#include <QPointer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QPushButton;
class TBDTSDatabase;
class TBDTSTransfer;
class TPageHost;
enum class TBDTSSide;
class TBDTSTreeView;

class TFrameBDTS : public QWidget, public TBDTSView, public TWorkPage
{
    Q_OBJECT
public:
    explicit TFrameBDTS(QWidget *parent = nullptr);
    ~TFrameBDTS() override;

    /// Connects the buttons to their handlers and shows the database; the frame uses the
    /// database, the transfer and the window's services from then on.
    void setExchange(TBDTSDatabase *database, TBDTSTransfer *transfer, TPageHost *host);

    /// Sets a button's state by its own rule. While a transfer runs, the buttons that
    /// would start another transfer or change an image stay disabled and take the
    /// state set last when it ends; the button that started it reads "Стоп" and stays
    /// enabled.
    void setButtonEnabled(QPushButton *button, bool enabled);
    void setTransferRunning(bool running);
    /// The button that reads "Стоп" while a transfer runs; nullptr when none runs.
    QPushButton *stopButton() const { return m_stopButton; }

    // --- TWorkPage ---
    /// Arriving here asks for 115200, unless an exchange holds the line.
    void Enter() override;
    /// While it reads, the read button is "Стоп": a key that reads must not stop.
    QPushButton *ReadButton() const override { return m_stopButton == btnReadBDTSFromTav ? nullptr : btnReadBDTSFromTav; }
    QPushButton *SaveButton() const override { return btnSaveBDTSinFile; }

    // --- TBDTSView ---
    void showDeviceTree(bool shown) override;

    /// The click on the instrument's tree: reports the selected nodes and enables
    /// deleting them.
    void TreeViewTavClick();
    void btnReadBDTSFromTavClick();
    void btnSaveBDTSinFileClick();
    void btnReadBDTSFromFileClick();
    void btnWriteBDTSInTavClick();
    void btnSaveAddTsClick();
    void btnAddTSInTavClick();
    void btnDeleteTSClick();

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

    TFileDialogState SaveDialog;
    TFileDialogState OpenDialog;

private:
    /// Shows the side's list, its caption and the buttons its state enables.
    void showSide(TBDTSSide side);
    /// The caption of RzGroupBox1 with the instrument's test-system count; it names the
    /// list the instrument's only while that is known to be so.
    void showDeviceCount();
    /// The dialog's folder on its first use: FilesInTavelon in the program folder.
    void prepareDialog(TFileDialogState &dialog) const;
    /// The chosen path, or an empty text; the folder and name parts become the window's
    /// last file.
    QString chooseFile(TFileDialogState &dialog, bool save);
    /// A button that starts a transfer: it starts one, or stops the one it started.
    void startOrStop(QPushButton *button, void (TFrameBDTS::*start)());
    void startReading();
    void startWritingFile();
    void startWritingDevice();
    void applyEnabled(QPushButton *button, bool own);

    TBDTSDatabase *m_database = nullptr;
    QPointer<TBDTSTransfer> m_transfer;
    TPageHost *m_host = nullptr;
    QPushButton *m_requested = nullptr; ///< the button whose transfer was asked for last
    QHash<QPushButton *, bool> m_ownEnabled; ///< the gated buttons and their own state
    bool m_transferRunning = false;
    QPushButton *m_starting = nullptr;   ///< the button whose click is starting a transfer
    QPushButton *m_stopButton = nullptr; ///< reads "Стоп" while the transfer it started runs
    QString m_stopButtonCaption, m_stopButtonHint; ///< its own, given back at the end
};
