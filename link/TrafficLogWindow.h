#pragma once
// The window "Журнал обмена": the traffic log of the serial line for service work, with
// a filter, pause, clear and saving to a file. Non-modal; the log listens to the serial
// control only while this window is open, so a closed log costs the line nothing.

#include "common/Dialogs.h"
#include "link/TrafficLog.h"

#include <QPointer>
#include <QWidget>

class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class TMSComm;
class TTrafficLogView;

class TTrafficLogWindow final : public QWidget
{
    Q_OBJECT
public:
    /// A window of its own over `comm`'s line; `dialogs` chooses the file to save to.
    TTrafficLogWindow(TMSComm *comm, TDialogs *dialogs, QWidget *parent = nullptr);
    ~TTrafficLogWindow() override;

    TTrafficLog &log() { return *m_log; }
    /// Where the save dialog opens first.
    void setSaveFolder(const QString &folder) { m_saveState.initialDir = folder; }

    void setFilter(TTrafficFilter filter);
    TTrafficFilter filter() const;
    /// "Сохранить в файл": the lines the filter shows, as UTF-8 text.
    void saveToFile();
    /// Lines the view shows now.
    int shownLineCount() const;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void attach();
    void detach();
    void updateStatus();

    QPointer<TMSComm> m_comm;
    TDialogs *m_dialogs;
    TTrafficLog *m_log;
    TTrafficLogView *m_filtered;
    QListView *m_view;
    QComboBox *m_filterBox;
    QPushButton *m_pause;
    QLabel *m_status;
    TFileDialogState m_saveState;
    bool m_attached = false;
    bool m_following = true; ///< the view was at its end: new lines keep it there
};
