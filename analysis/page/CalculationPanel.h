#pragma once
// The calculation settings ("Расчет"), each switchable and shown with its formula:
// blank subtraction, the controls' limits, the cut-off and grey zone, the standard
// curve's model and weighting, the calibrators' recovery range, the samples' CV limit
// and the unit of concentrations.

#include "analysis/PlateAnalysis.h"

#include <QJsonObject>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;

class TCalculationPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TCalculationPanel(QWidget *parent = nullptr);

    /// The settings as shown; a field that holds no number adds its complaint.
    analysis::TAnalysisSettings settings(QStringList *complaints = nullptr) const;
    void setSettings(const analysis::TAnalysisSettings &settings);
    /// The settings kept per test system between runs.
    QJsonObject toJson() const;
    void fromJson(const QJsonObject &json);
    /// The settings as lines of text, for the printout.
    QStringList describe() const;

    QCheckBox *chckBlank = nullptr, *chckQualitative = nullptr, *chckQuantitative = nullptr;
    QLineEdit *edNegativeMax = nullptr, *edPositiveMin = nullptr, *edCvMax = nullptr;
    QLineEdit *edSampleCvMax = nullptr, *edRecoveryLow = nullptr, *edRecoveryHigh = nullptr, *edUnit = nullptr;
    QComboBox *cbCutoffForm = nullptr;
    QLineEdit *edCutoffValue = nullptr, *edGreyZone = nullptr;
    QComboBox *cbModel = nullptr, *cbWeighting = nullptr;
    QLabel *lbBlankFormula = nullptr, *lbControlFormula = nullptr, *lbCutoffFormula = nullptr,
           *lbVerdictFormula = nullptr, *lbCurveFormula = nullptr;

Q_SIGNALS:
    void settingsChanged();

private:
    void CreateLayout();
    void RefreshFormulas();
};
