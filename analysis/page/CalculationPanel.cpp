#include "analysis/page/CalculationPanel.h"

#include "common/StyledWidgets.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

using namespace analysis;

namespace {
QString numberText(const std::optional<double> &value) { return value ? QString::number(*value, 'g', 6) : QString(); }

/// An optional limit: empty is none; anything else must be a number.
std::optional<double> limit(const QLineEdit *field, const QString &name, QStringList *complaints)
{
    if (field->text().trimmed().isEmpty())
        return std::nullopt;
    const auto value = parseNumber(field->text());
    if (!value && complaints)
        *complaints << QStringLiteral("В поле «%1» не число: «%2».").arg(name, field->text());
    return value;
}
} // namespace

TCalculationPanel::TCalculationPanel(QWidget *parent) : QWidget(parent)
{
    CreateLayout();
    setSettings({});
}

void TCalculationPanel::CreateLayout()
{
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(6, 6, 6, 6);
    grid->setVerticalSpacing(3);
    const auto formula = [this] {
        // A muted blue that tells the formula from the fields, readable on any desktop.
        auto *label = new QLabel(this);
        setTextTint(label, QColor(0x30, 0x50, 0x7a));
        label->setWordWrap(true);
        return label;
    };
    const auto field = [this](const QString &caption) {
        auto *edit = new QLineEdit(this);
        edit->setAccessibleName(caption);
        edit->setMaximumWidth(80);
        return edit;
    };
    // Two columns, a label and its field, each formula under what it explains: the
    // panel is read whole at the window's drawn size and with a larger desktop font.
    int row = 0;
    const auto pair = [&](const QString &caption, QWidget *widget) {
        auto *label = new QLabel(caption, this);
        label->setWordWrap(true);
        grid->addWidget(label, row, 0);
        grid->addWidget(widget, row++, 1);
    };
    const auto wide = [&](QWidget *widget) { grid->addWidget(widget, row++, 0, 1, 3); };
    chckBlank = new QCheckBox(QStringLiteral("Вычитать бланк"), this);
    lbBlankFormula = formula();
    wide(chckBlank);
    wide(lbBlankFormula);

    pair(QStringLiteral("K− не больше:"), edNegativeMax = field(QStringLiteral("K− не больше:")));
    pair(QStringLiteral("K+ не меньше:"), edPositiveMin = field(QStringLiteral("K+ не меньше:")));
    pair(QStringLiteral("CV контролей не больше, %:"), edCvMax = field(QStringLiteral("CV контролей не больше, %:")));
    lbControlFormula = formula();
    wide(lbControlFormula);

    chckQualitative = new QCheckBox(QStringLiteral("Качественный анализ (cut-off)"), this);
    wide(chckQualitative);
    cbCutoffForm = new QComboBox(this);
    cbCutoffForm->setAccessibleName(QStringLiteral("Cut-off:"));
    cbCutoffForm->addItem(QStringLiteral("среднее K− + k"), int(TCutoffForm::NegativePlus));
    cbCutoffForm->addItem(QStringLiteral("среднее K− × k"), int(TCutoffForm::NegativeTimes));
    cbCutoffForm->addItem(QStringLiteral("среднее K+ × k"), int(TCutoffForm::PositiveTimes));
    cbCutoffForm->addItem(QStringLiteral("фиксированный"), int(TCutoffForm::Fixed));
    pair(QStringLiteral("Cut-off:"), cbCutoffForm);
    pair(QStringLiteral("k или значение:"), edCutoffValue = field(QStringLiteral("k или значение:")));
    pair(QStringLiteral("Серая зона, ± %:"), edGreyZone = field(QStringLiteral("Серая зона, ± %:")));
    lbCutoffFormula = formula();
    wide(lbCutoffFormula);
    lbVerdictFormula = formula();
    wide(lbVerdictFormula);

    chckQuantitative = new QCheckBox(QStringLiteral("Количественный анализ (калибровочная кривая)"), this);
    wide(chckQuantitative);
    cbModel = new QComboBox(this);
    cbModel->setAccessibleName(QStringLiteral("Модель:"));
    for (const TCurveModel model : {TCurveModel::FourPL, TCurveModel::FivePL, TCurveModel::Linear, TCurveModel::PointToPoint})
        cbModel->addItem(modelName(model), int(model));
    cbWeighting = new QComboBox(this);
    cbWeighting->setAccessibleName(QStringLiteral("Вес:"));
    cbWeighting->addItem(QStringLiteral("без веса"), int(TWeighting::None));
    cbWeighting->addItem(QStringLiteral("1/Y"), int(TWeighting::InverseY));
    cbWeighting->addItem(QStringLiteral("1/Y²"), int(TWeighting::InverseY2));
    pair(QStringLiteral("Модель:"), cbModel);
    pair(QStringLiteral("Вес:"), cbWeighting);
    lbCurveFormula = formula();
    wide(lbCurveFormula);
    auto *range = new QWidget(this);
    auto *rangeLayout = new QHBoxLayout(range);
    rangeLayout->setContentsMargins(0, 0, 0, 0);
    rangeLayout->addWidget(edRecoveryLow = field(QStringLiteral("Обратный расчет от, %:")));
    rangeLayout->addWidget(new QLabel(QStringLiteral("…"), range));
    rangeLayout->addWidget(edRecoveryHigh = field(QStringLiteral("Обратный расчет до, %:")));
    pair(QStringLiteral("Обратный расчет калибраторов, %:"), range);
    pair(QStringLiteral("Единицы:"), edUnit = field(QStringLiteral("Единицы:")));
    pair(QStringLiteral("CV повторов образца не больше, %:"), edSampleCvMax = field(QStringLiteral("CV повторов образца не больше, %:")));
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(2, 1); // the fields keep to the left, the formulas take the rest

    const auto changed = [this] {
        RefreshFormulas();
        Q_EMIT settingsChanged();
    };
    for (QCheckBox *box : {chckBlank, chckQualitative, chckQuantitative})
        connect(box, &QCheckBox::toggled, this, changed);
    for (QLineEdit *edit : {edNegativeMax, edPositiveMin, edCvMax, edCutoffValue, edGreyZone, edSampleCvMax, edRecoveryLow,
                            edRecoveryHigh, edUnit})
        connect(edit, &QLineEdit::textChanged, this, changed);
    for (QComboBox *box : {cbCutoffForm, cbModel, cbWeighting})
        connect(box, qOverload<int>(&QComboBox::currentIndexChanged), this, changed);
}

TAnalysisSettings TCalculationPanel::settings(QStringList *complaints) const
{
    TAnalysisSettings s;
    s.subtractBlank = chckBlank->isChecked();
    s.negativeMax = limit(edNegativeMax, QStringLiteral("K− не больше"), complaints);
    s.positiveMin = limit(edPositiveMin, QStringLiteral("K+ не меньше"), complaints);
    s.controlCvMax = limit(edCvMax, QStringLiteral("CV контролей не больше"), complaints);
    s.qualitative = chckQualitative->isChecked();
    s.cutoffForm = TCutoffForm(cbCutoffForm->currentData().toInt());
    const auto value = parseNumber(edCutoffValue->text());
    if (s.qualitative && !value && complaints)
        *complaints << QStringLiteral("В поле «k или значение» не число: «%1».").arg(edCutoffValue->text());
    s.cutoffValue = value.value_or(NAN);
    s.greyZonePercent = limit(edGreyZone, QStringLiteral("Серая зона"), complaints).value_or(0);
    s.quantitative = chckQuantitative->isChecked();
    s.model = TCurveModel(cbModel->currentData().toInt());
    s.weighting = TWeighting(cbWeighting->currentData().toInt());
    s.sampleCvMax = limit(edSampleCvMax, QStringLiteral("CV повторов образца не больше"), complaints);
    s.recoveryLow = limit(edRecoveryLow, QStringLiteral("Обратный расчет от"), complaints).value_or(s.recoveryLow);
    s.recoveryHigh = limit(edRecoveryHigh, QStringLiteral("Обратный расчет до"), complaints).value_or(s.recoveryHigh);
    s.unit = edUnit->text().trimmed();
    // Settings that are numbers but make no sense stop the results as a typo does.
    if (const QString problem = settingsProblem(s); !problem.isEmpty() && complaints && std::isfinite(s.cutoffValue))
        *complaints << problem;
    return s;
}

void TCalculationPanel::setSettings(const TAnalysisSettings &s)
{
    const QSignalBlocker blockers[] = {QSignalBlocker(chckBlank), QSignalBlocker(chckQualitative),
                                       QSignalBlocker(chckQuantitative), QSignalBlocker(edNegativeMax),
                                       QSignalBlocker(edPositiveMin), QSignalBlocker(edCvMax),
                                       QSignalBlocker(edCutoffValue), QSignalBlocker(edGreyZone),
                                       QSignalBlocker(cbCutoffForm), QSignalBlocker(cbModel), QSignalBlocker(cbWeighting),
                                       QSignalBlocker(edSampleCvMax), QSignalBlocker(edRecoveryLow),
                                       QSignalBlocker(edRecoveryHigh), QSignalBlocker(edUnit)};
    chckBlank->setChecked(s.subtractBlank);
    edNegativeMax->setText(numberText(s.negativeMax));
    edPositiveMin->setText(numberText(s.positiveMin));
    edCvMax->setText(numberText(s.controlCvMax));
    chckQualitative->setChecked(s.qualitative);
    cbCutoffForm->setCurrentIndex(cbCutoffForm->findData(int(s.cutoffForm)));
    edCutoffValue->setText(numberText(s.cutoffValue));
    edGreyZone->setText(numberText(s.greyZonePercent));
    chckQuantitative->setChecked(s.quantitative);
    cbModel->setCurrentIndex(cbModel->findData(int(s.model)));
    cbWeighting->setCurrentIndex(cbWeighting->findData(int(s.weighting)));
    edSampleCvMax->setText(numberText(s.sampleCvMax));
    edRecoveryLow->setText(numberText(s.recoveryLow));
    edRecoveryHigh->setText(numberText(s.recoveryHigh));
    edUnit->setText(s.unit);
    RefreshFormulas();
}

QJsonObject TCalculationPanel::toJson() const
{
    return {{QStringLiteral("blank"), chckBlank->isChecked()},
            {QStringLiteral("negativeMax"), edNegativeMax->text()},
            {QStringLiteral("positiveMin"), edPositiveMin->text()},
            {QStringLiteral("cvMax"), edCvMax->text()},
            {QStringLiteral("qualitative"), chckQualitative->isChecked()},
            {QStringLiteral("cutoffForm"), cbCutoffForm->currentData().toInt()},
            {QStringLiteral("cutoffValue"), edCutoffValue->text()},
            {QStringLiteral("greyZone"), edGreyZone->text()},
            {QStringLiteral("quantitative"), chckQuantitative->isChecked()},
            {QStringLiteral("model"), cbModel->currentData().toInt()},
            {QStringLiteral("weighting"), cbWeighting->currentData().toInt()},
            {QStringLiteral("sampleCvMax"), edSampleCvMax->text()},
            {QStringLiteral("recoveryLow"), edRecoveryLow->text()},
            {QStringLiteral("recoveryHigh"), edRecoveryHigh->text()},
            {QStringLiteral("unit"), edUnit->text()}};
}

void TCalculationPanel::fromJson(const QJsonObject &json)
{
    setSettings({});
    if (json.isEmpty())
        return;
    chckBlank->setChecked(json.value(QStringLiteral("blank")).toBool(true));
    edNegativeMax->setText(json.value(QStringLiteral("negativeMax")).toString());
    edPositiveMin->setText(json.value(QStringLiteral("positiveMin")).toString());
    edCvMax->setText(json.value(QStringLiteral("cvMax")).toString());
    chckQualitative->setChecked(json.value(QStringLiteral("qualitative")).toBool(true));
    if (const int i = cbCutoffForm->findData(json.value(QStringLiteral("cutoffForm")).toInt()); i >= 0)
        cbCutoffForm->setCurrentIndex(i);
    edCutoffValue->setText(json.value(QStringLiteral("cutoffValue")).toString());
    edGreyZone->setText(json.value(QStringLiteral("greyZone")).toString());
    chckQuantitative->setChecked(json.value(QStringLiteral("quantitative")).toBool(true));
    if (const int i = cbModel->findData(json.value(QStringLiteral("model")).toInt()); i >= 0)
        cbModel->setCurrentIndex(i);
    if (const int i = cbWeighting->findData(json.value(QStringLiteral("weighting")).toInt()); i >= 0)
        cbWeighting->setCurrentIndex(i);
    // Settings kept before these fields came: the defaults stay.
    for (const auto &[key, edit] : {std::pair{"sampleCvMax", edSampleCvMax}, std::pair{"recoveryLow", edRecoveryLow},
                                    std::pair{"recoveryHigh", edRecoveryHigh}, std::pair{"unit", edUnit}})
        if (json.contains(QLatin1String(key)))
            edit->setText(json.value(QLatin1String(key)).toString());
}

void TCalculationPanel::RefreshFormulas()
{
    const TAnalysisSettings s = settings();
    lbBlankFormula->setText(s.subtractBlank ? QStringLiteral("ОП испр. = ОП − среднее бланков")
                                            : QStringLiteral("ОП испр. = ОП"));
    lbControlFormula->setText(QStringLiteral("CV = SD / среднее × 100 %; пустое поле — не проверять"));
    lbCutoffFormula->setText(std::isfinite(s.cutoffValue) ? cutoffFormula(s) : QString());
    lbVerdictFormula->setText(verdictRule(s));
    lbCurveFormula->setText(modelFormula(s.model) + QStringLiteral("; концентрация — только внутри диапазона калибраторов"));
    for (QWidget *w : std::initializer_list<QWidget *>{cbCutoffForm, edCutoffValue, edGreyZone, lbCutoffFormula, lbVerdictFormula})
        w->setEnabled(s.qualitative);
    for (QWidget *w : std::initializer_list<QWidget *>{cbModel, cbWeighting, lbCurveFormula})
        w->setEnabled(s.quantitative);
}

QStringList TCalculationPanel::describe() const
{
    const TAnalysisSettings s = settings();
    QStringList lines;
    lines << lbBlankFormula->text();
    QStringList limits;
    if (s.negativeMax)
        limits << QStringLiteral("K− ≤ %1").arg(*s.negativeMax);
    if (s.positiveMin)
        limits << QStringLiteral("K+ ≥ %1").arg(*s.positiveMin);
    if (s.controlCvMax)
        limits << QStringLiteral("CV ≤ %1 %").arg(*s.controlCvMax);
    lines << QStringLiteral("Пределы контролей: ") + (limits.isEmpty() ? QStringLiteral("не проверяются") : limits.join(QStringLiteral(", ")));
    if (s.qualitative)
        lines << lbCutoffFormula->text() << lbVerdictFormula->text();
    if (s.quantitative) {
        lines << QStringLiteral("Кривая: %1, %2; %3").arg(modelName(s.model), cbWeighting->currentText(), modelFormula(s.model));
        lines << QStringLiteral("Обратный расчет калибраторов: %1–%2 %; единицы: %3")
                     .arg(s.recoveryLow)
                     .arg(s.recoveryHigh)
                     .arg(s.unit.isEmpty() ? QStringLiteral("—") : s.unit);
    }
    if (s.sampleCvMax)
        lines << QStringLiteral("CV повторов образца ≤ %1 %").arg(*s.sampleCvMax);
    return lines;
}
