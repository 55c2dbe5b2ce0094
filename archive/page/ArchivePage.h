#pragma once
// "Архив": the runs the program has kept, latest first, sorted by any column and
// filtered by days, test system, sample ID and verdict; a run opened shows its plate
// and analysis as they were when it was finished with (the analysis's own printout,
// read-only), or its table or protocol; the chosen runs go to a CSV file or a workbook.
// The page asks the recorder for the archive and never writes to it.

#include "archive/RunQuery.h"
#include "common/Dialogs.h"

#include <QSqlQueryModel>
#include <QWidget>

#include <memory>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTableView;
class QTextBrowser;
class QTextDocument;
class TPageHost;
class TRunRecorder;

/// The runs as the list shows them: the query's rows, with times, sources and
/// validity in words. Sorting asks the archive again in the new order.
class TArchiveRunsModel : public QSqlQueryModel
{
    Q_OBJECT
public:
    using QSqlQueryModel::QSqlQueryModel;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    void sort(int column, Qt::SortOrder order) override;
    /// Runs the query for the filter in the present order; empty text or the error.
    QString select(const QSqlDatabase &db, const archive::TRunFilter &filter);
    int sortColumn() const { return m_sortColumn; }

private:
    QSqlDatabase m_db;
    archive::TRunFilter m_filter;
    int m_sortColumn = archive::columnTime;
    Qt::SortOrder m_order = Qt::DescendingOrder;
};

class TArchivePage : public QWidget
{
    Q_OBJECT
public:
    TArchivePage(TPageHost &host, TRunRecorder &recorder, QWidget *parent = nullptr);
    ~TArchivePage() override;

    // ---- Components -------------------------------------------------------------------
    QCheckBox *chckPeriod = nullptr;
    QDateEdit *edFrom = nullptr, *edTo = nullptr;
    QComboBox *cbTestSystem = nullptr, *cbVerdict = nullptr;
    QLineEdit *edSampleId = nullptr;
    QTableView *runsView = nullptr;
    QLabel *lbCount = nullptr;
    QPushButton *btnOpenRun = nullptr, *btnExportCsv = nullptr, *btnExportXlsx = nullptr;
    QStackedWidget *stack = nullptr;
    QLabel *lbRunTitle = nullptr;
    QTextBrowser *runView = nullptr; ///< the run opened, read-only
    QPushButton *btnBack = nullptr;
    TFileDialogState sdlgExport;

    TArchiveRunsModel &model() const { return *m_model; }
    /// The filter as the fields set it.
    archive::TRunFilter filter() const;

    // ---- Handlers ---------------------------------------------------------------------
    /// Lists the runs again as the filters and the order say.
    void Refresh();
    void btnOpenRunClick();
    void btnExportCsvClick();
    void btnExportXlsxClick();
    void btnBackClick();
    /// Opens the run in the view (its id), as when it was finished with.
    void OpenRun(qint64 id);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateLayout();
    void ConnectHandlers();
    void FillTestSystems();
    std::vector<qint64> SelectedRuns() const;
    bool ChooseExportFile(const QString &filter, const QString &extension);

    TPageHost &m_host;
    TRunRecorder &m_recorder;
    TArchiveRunsModel *m_model = nullptr;
    std::unique_ptr<QTextDocument> m_document; ///< what the view shows
    bool m_stale = true; ///< runs came while the page was hidden: listed again when shown
};
