#pragma once
// "Контроли": a test system's controls followed across runs. The lab chooses the test
// system and the control, sets the baseline (the first N runs, or the mean and SD of
// the kit's insert), reads the Levey–Jennings chart and the list of violated Westgard
// rules, and prints both. The runs come from a history the window gives; the page
// never changes it. Each control's baseline is remembered per test system.

#include "analysis/ControlHistory.h"

#include <QWidget>

#include <memory>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;
class QTextDocument;
class TLeveyJenningsChart;
class TPageHost;
class TPrintService;

class TControlsPage : public QWidget
{
    Q_OBJECT
public:
    TControlsPage(TPageHost &host, const TControlHistory &history, QWidget *parent = nullptr);

    // ---- Components -------------------------------------------------------------------
    QComboBox *cbTestSystem = nullptr, *cbControl = nullptr;
    QRadioButton *rbFirstRuns = nullptr, *rbTyped = nullptr;
    QSpinBox *sbFirstRuns = nullptr;
    QLineEdit *edMean = nullptr, *edSd = nullptr;
    QLabel *lbBaseline = nullptr; ///< the baseline in use, or why the rules are not judged
    TLeveyJenningsChart *chart = nullptr;
    QLabel *lbSummary = nullptr;
    QTableWidget *violationsTable = nullptr;
    QPushButton *btnPrint = nullptr;

    // ---- Handlers ---------------------------------------------------------------------
    void TestSystemChosen();
    void ControlChosen();
    /// The baseline's choice, N, the mean or the SD changed: kept and judged again.
    void BaselineChanged();
    void btnPrintClick();

    /// The history has new runs: the lists and the chart again, the choices kept; a page
    /// not shown reads them when it is.
    void Reload();

    /// The test system's controls as judged now.
    const westgard::TJudgement &judgement() const { return m_judgement; }
    /// The printout: the test system, the control, its baseline, the chart and the
    /// violations.
    std::unique_ptr<QTextDocument> reportDocument() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void CreateLayout();
    void ConnectHandlers();
    /// Shows the control's baseline setting without judging again.
    void ShowBaselineSetting();
    void Judge();
    void ShowControl();
    QString TestSystem() const;
    QString Control() const;
    westgard::TBaselineSetting BaselineSetting() const;

    TPageHost &m_host;
    const TControlHistory &m_history;
    TPrintService *m_printService = nullptr; ///< made at the first print
    westgard::TJudgement m_judgement;
    bool m_updating = false; ///< the page sets its own fields: no handler answers
};
