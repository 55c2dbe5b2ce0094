#pragma once
// "Анализ планшета": the lab's second view of the optical density table, beside the
// instrument's own protocol. The table comes from the reader page's last complete
// table or from a saved table file; the plate's layout, the calculation settings and
// the results are on three tabs; the results go to a workbook, a CSV file and paper.
// The page never talks to the instrument.

#include "analysis/PlateAnalysis.h"
#include "analysis/page/RunIdentity.h"
#include "common/Dialogs.h"

#include <QByteArray>
#include <QDateTime>
#include <QWidget>

#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;
class QTextDocument;
class TCalculationPanel;
class TCurveChart;
class TLayoutEditor;
class TPageHost;
class TPrintService;
class TReaderPage;

class TAnalysisPage : public QWidget
{
    Q_OBJECT
public:
    TAnalysisPage(TPageHost &host, const TReaderPage &reader, QWidget *parent = nullptr);

    // ---- Components -------------------------------------------------------------------
    QLabel *lbSource = nullptr;
    QPushButton *btnTakeReaderTable = nullptr, *btnOpenTable = nullptr;
    QComboBox *cbTestSystem = nullptr;
    QLineEdit *edOperator = nullptr;
    QPushButton *btnLayoutMenu = nullptr; ///< "Раскладка": the layout's files, the list of names
    QAction *actOpenLayout = nullptr, *actSaveLayout = nullptr, *actWorklist = nullptr, *actForgetTestSystem = nullptr;
    QTabWidget *tabs = nullptr;
    TLayoutEditor *layoutEditor = nullptr;
    TCalculationPanel *calculation = nullptr;
    QLabel *lbSummary = nullptr, *lbProblems = nullptr;
    QTableWidget *resultsTable = nullptr;
    TCurveChart *curveChart = nullptr;
    QTableWidget *standardsTable = nullptr; ///< the calibrators: OD, residual, read back
    QPushButton *btnExportXlsx = nullptr, *btnExportCsv = nullptr, *btnPrint = nullptr;
    QPushButton *btnLis = nullptr;
    TFileDialogState odlgTable, dlgLayout, sdlgResults, odlgWorklist, sdlgLis;

    // ---- Handlers ---------------------------------------------------------------------
    void btnTakeReaderTableClick();
    void btnOpenTableClick();
    void actSaveLayoutExecute();
    void actOpenLayoutExecute();
    /// "Удалить из списка...": the test system named, with its layout and settings, is
    /// forgotten once the user says so.
    void actForgetTestSystemExecute();
    void btnExportXlsxClick();
    void btnExportCsvClick();
    void btnPrintClick();
    /// A worklist file onto the layout's samples, after its mapping is shown.
    void actWorklistExecute();
    /// The samples' results as a message for the LIS, in the format chosen.
    void btnLisClick();
    /// The test system chosen or typed: its remembered layout and settings come back.
    void TestSystemChosen();

    /// Where the layout dialog starts until it has been used: a folder of sample layouts
    /// (the demo's), instead of the documents folder.
    void offerLayoutsFrom(const QString &folder) { m_layoutsFolder = folder; }

    /// The analysis as it stands and the run it belongs to.
    const analysis::TAnalysis &result() const { return m_result; }
    TRunIdentity identity() const;
    /// The table analysed in the instrument's own text, 873 bytes as the program keeps
    /// them; empty when there is none (no table, or one read from a workbook or a CSV).
    const QByteArray &table() const { return m_table; }
    bool hasTable() const { return m_hasTable; }
    /// What judges the run's controls against the runs before it: the Westgard rules
    /// violated, a line each, which the result then lists. None: no such judgement.
    void setControlJudge(std::function<QStringList()> judge) { m_controlJudge = std::move(judge); }
    /// The printout: identity, settings, the plate's layout with its ODs, the controls,
    /// the curve and the results.
    std::unique_ptr<QTextDocument> reportDocument() const;

Q_SIGNALS:
    /// The user is done with the analysis as it stands: exported or printed it.
    void analysisFinished();

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void CreateLayout();
    void ConnectHandlers();
    QWidget *CreateResultsTab();
    /// Takes a plate's densities, read or opened.
    /// Takes the plate's densities; `instrumentText` is the table as the instrument sent
    /// it, when the plate came in that form.
    void TakeTable(const analysis::TPlateOd &od, const QByteArray &instrumentText, const QString &fileName,
                   const QDateTime &readAt);
    void Recalculate();
    bool Choose(TFileDialogState &dialog, bool save);
    void ShowResults();
    /// The layout and settings of the test system named, kept for the next run.
    void Remember();
    QStringList RememberedTestSystems() const;
    /// Asks, then forgets the test system `name`: its place in the list, layout and settings.
    void ForgetTestSystem(const QString &name);
    QString BaseName() const;

    TPageHost &m_host;
    const TReaderPage &m_reader;
    TPrintService *m_printService = nullptr; ///< made at the first print
    bool m_hasTable = false;     ///< a table read or opened; none yet at the start
    QByteArray m_table;          ///< the instrument's text of the table, when it came so
    QByteArray m_readerTableTaken; ///< the reader's table taken last: a newer one is taken on arrival
    QString m_tableFile;
    QString m_layoutsFolder; ///< sample layouts, or empty
    QDateTime m_readAt;
    analysis::TPlateOd m_od{};
    analysis::TAnalysis m_result;
    QStringList m_inputComplaints;
    std::function<QStringList()> m_controlJudge;
    bool m_restoring = false;
    int m_csvType = 1; ///< the CSV type chosen last: 1 for a spreadsheet, 2 for a LIS
    int m_lisType = 1; ///< the LIS format chosen last: 1 ASTM, 2 ASTM in frames, 3 HL7
};
