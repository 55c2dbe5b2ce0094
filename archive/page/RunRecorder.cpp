#include "archive/page/RunRecorder.h"

#include "analysis/ControlHistory.h"
#include "analysis/PlateAnalysis.h"
#include "analysis/page/AnalysisPage.h"
#include "analysis/page/AnalysisReport.h"
#include "analysis/page/CalculationPanel.h"
#include "analysis/page/LayoutEditor.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "link/Line.h"
#include "measure/MeasureData.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QImage>
#include <QJsonDocument>
#include <QTextDocument>
#include <QThread>
#include <QUrl>

using namespace archive;

QString operatorAccount()
{
    // The account's name as the system's environment gives it: USER on Linux,
    // USERNAME on Windows.
    for (const char *name : {"USER", "USERNAME", "LOGNAME"}) {
        const QString account = qEnvironmentVariable(name).trimmed();
        if (!account.isEmpty())
            return account;
    }
    return {};
}

TAnalysisRecord analysisRecord(const analysis::TPlateLayout &layout, const analysis::TAnalysis &result)
{
    using namespace analysis;
    TAnalysisRecord record;
    record.valid = result.valid;
    const bool curve = result.curve && result.curve->ok;
    for (const TSampleResult &sample : result.samples) {
        TResultRow row;
        row.sampleId = sample.id;
        row.role = QStringLiteral("sample");
        row.od = sample.corrected;
        row.concentration = sample.reported;
        row.concentrationText = curve ? sampleConcentrationText(sample, *result.curve) : QString();
        switch (sample.verdict) {
        case TVerdict::Negative: row.verdict = verdict::negative; break;
        case TVerdict::Doubtful: row.verdict = verdict::doubtful; break;
        case TVerdict::Positive: row.verdict = verdict::positive; break;
        case TVerdict::None: break;
        }
        record.results.push_back(row);
    }
    // The controls: their means as the run judged them (the blank's on its own ODs),
    // each also a point of its series across runs.
    const auto control = [&record](const QString &role, const QString &name, const std::optional<double> &value) {
        if (!value)
            return;
        record.results.push_back({{}, role, value, std::nullopt, {}, {}});
        record.controls.push_back({name, *value});
    };
    if (result.blanks.count > 0)
        control(QStringLiteral("blank"), QStringLiteral("blank"), result.blank);
    if (result.negative.count > 0)
        control(QStringLiteral("negative"), QStringLiteral("K-"), result.negative.mean);
    if (result.positive.count > 0)
        control(QStringLiteral("positive"), QStringLiteral("K+"), result.positive.mean);
    record.layoutJson = layoutToJson(layout);
    return record;
}

TRunRecorder::TRunRecorder(TPageHost &host, const TLine &line, QObject *parent)
    : QObject(parent), m_host(host), m_line(line)
{
}

TRunRecorder::~TRunRecorder()
{
    // The check writes its findings here: it ends before this object does.
    if (m_check)
        m_check->wait();
}

void TRunRecorder::watch(const TReaderPage &reader, const TResultPage &results)
{
    const auto guarded = [this](std::function<void()> handler) { m_host.Guarded(handler); };
    connect(&reader, &TReaderPage::tableAccepted, this,
            [this, guarded](const QByteArray &table, const QDateTime &readAt) { guarded([=] { TableAccepted(table, readAt); }); });
    connect(&reader, &TReaderPage::tableNamed, this, [this, guarded](const QByteArray &table, const QByteArray &name) {
        guarded([=] { TableNamed(table, fileSystemName(name)); });
    });
    connect(&results, &TResultPage::protocolReceived, this, [this, guarded](const QByteArray &protocol) {
        const QByteArray name = protocol::autoFileName(protocol);
        guarded([=] { ProtocolReceived(protocol, unsafeNameReason(name).isEmpty() ? fileSystemName(name) : QString()); });
    });
}

void TRunRecorder::watch(const TAnalysisPage &analysis)
{
    const auto guarded = [this](std::function<void()> handler) { m_host.Guarded(handler); };
    connect(&analysis, &TAnalysisPage::analysisFinished, this,
            [this, guarded, page = &analysis] { guarded([=] { AnalysisFinished(*page); }); });
}

QString TRunRecorder::archivePath() const
{
    // A folder of its own: the file's log and shared memory beside it stay together, and
    // the working folder lists the files it always did.
    return QDir::cleanPath(m_host.programFolder() + TRunArchive::folderName + QLatin1Char('/') + TRunArchive::fileName);
}

TRunArchive *TRunRecorder::archive()
{
    if (m_archive && m_archive->isOpen())
        return m_archive.get();
    if (!m_archive || m_archive->path() != archivePath())
        m_archive = std::make_unique<TRunArchive>(archivePath());
    if (!m_archive->open(TRunArchive::TCheck::Structure)) {
        // Said once in a box; afterwards each run that is not kept says so on the status line.
        if (!m_unavailableTold)
            m_host.ReportError(m_archive->error()
                               + QStringLiteral(" Запуски не записываются в архив; остальная работа программы идет как обычно."));
        else
            m_host.ShowStatus(QStringLiteral("Архив недоступен: запуск не записан в архив."));
        m_unavailableTold = true;
        return nullptr;
    }
    m_unavailableTold = false;
    if (!m_archive->setAsideFile().isEmpty())
        TellSetAside();
    StartCheck();
    return m_archive.get();
}

void TRunRecorder::TellSetAside()
{
    m_host.ReportError(QStringLiteral("Файл архива запусков был поврежден. Он отложен как \"%1\", "
                                      "начат новый архив \"%2\". Остальная работа программы не затронута.")
                           .arg(QDir::toNativeSeparators(m_archive->setAsideFile()),
                                QDir::toNativeSeparators(m_archive->path())));
}

void TRunRecorder::StartCheck()
{
    if (m_check)
        return;
    const QString path = m_archive->path();
    m_check = QThread::create([this, path] { m_checkFindings = TRunArchive::checkFile(path); });
    m_check->setParent(this);
    connect(m_check, &QThread::finished, this, [this] { m_host.Guarded([this] { CheckFinished(); }); });
    m_check->start(QThread::LowPriority);
}

void TRunRecorder::CheckFinished()
{
    m_check->deleteLater();
    m_check = nullptr;
    const QString findings = m_checkFindings;
    if (findings.isEmpty() || findings == QLatin1String("ok") || !m_archive || !m_archive->isOpen())
        return;
    Q_EMIT archiveReplacing();
    if (!m_archive->replaceDamaged(findings)) {
        m_host.ReportError(m_archive->error());
        return;
    }
    TellSetAside();
    Q_EMIT runsChanged();
}

TRunOrigin TRunRecorder::Origin(const QString &kind, const QByteArray &raw, const QDateTime &time) const
{
    TRunOrigin origin;
    origin.kind = kind;
    origin.time = time;
    origin.raw = raw;
    origin.operatorAccount = operatorAccount();
    origin.programVersion = QCoreApplication::applicationVersion();
    origin.port = m_line.OpenPortText();
    return origin;
}

bool TRunRecorder::Written(const TWriteResult &result)
{
    if (!result.ok()) {
        m_host.ReportError(result.error);
        return false;
    }
    Q_EMIT runsChanged();
    return true;
}

void TRunRecorder::TableAccepted(const QByteArray &table, const QDateTime &readAt)
{
    m_lastTableRun = 0;
    m_lastTable = table;
    TRunArchive *runs = archive();
    if (!runs)
        return;
    const TWriteResult written = runs->addRun(Origin(kind::table, table, readAt));
    if (Written(written))
        m_lastTableRun = written.id;
}

void TRunRecorder::TableNamed(const QByteArray &table, const QString &name)
{
    if (m_lastTableRun == 0 || table != m_lastTable)
        return;
    if (TRunArchive *runs = archive())
        Written(runs->setInstrumentFile(m_lastTableRun, name));
}

void TRunRecorder::ProtocolReceived(const QByteArray &protocol, const QString &name)
{
    TRunArchive *runs = archive();
    if (!runs)
        return;
    TRunOrigin origin = Origin(kind::protocol, protocol, QDateTime::currentDateTime());
    origin.instrumentFile = name;
    Written(runs->addRun(origin));
}

westgard::TRunJudgement TRunRecorder::JudgeControls(const TAnalysisPage &page)
{
    const TRunIdentity identity = page.identity();
    if (!page.hasTable() || identity.testSystem.isEmpty())
        return {};
    TRunArchive *runs = archive();
    if (!runs)
        return {};
    // A run kept already is judged with its values of today, once.
    std::optional<qint64> run;
    if (!page.table().isEmpty())
        run = runs->findTable(page.table(), identity.readAt);
    const westgard::TRunValues values = runControls(page.layoutEditor->layout(), page.result(),
                                                    run ? QString::number(*run) : QStringLiteral("new"), identity.readAt);
    if (values.controls.empty())
        return {};
    return judgeRun(m_history, identity.testSystem, values,
                    westgard::storedBaselines(m_host.settings().store(), identity.testSystem));
}

void TRunRecorder::AnalysisFinished(const TAnalysisPage &page)
{
    TRunArchive *runs = archive();
    if (!runs || !page.hasTable())
        return;
    const TRunIdentity identity = page.identity();
    // The run its table came from; a table from a file the archive does not know (or
    // from a workbook or a CSV, which keep no instrument's text) is a run of its own.
    std::optional<qint64> run;
    if (!page.table().isEmpty())
        run = runs->findTable(page.table(), identity.readAt);
    if (!run) {
        TRunOrigin origin = Origin(kind::table, page.table(), identity.readAt);
        origin.fromFile = !identity.readAt.isValid();
        if (origin.fromFile)
            origin.port.clear();
        origin.instrumentFile = identity.instrumentFile;
        const TWriteResult added = runs->addRun(origin);
        if (!Written(added))
            return;
        run = added.id;
    }
    TAnalysisRecord record = analysisRecord(page.layoutEditor->layout(), page.result());
    record.testSystem = identity.testSystem;
    record.operatorName = identity.operatorName;
    record.settingsJson = QJsonDocument(page.calculation->toJson()).toJson(QJsonDocument::Compact);
    record.settingsText = identity.settings;
    record.westgard = westgard::runSummary(JudgeControls(page));
    // The printout as it reads today, its curve picture with it: opened later, the run
    // shows what was signed, whatever later versions of the calculation would say.
    const std::unique_ptr<QTextDocument> report = page.reportDocument();
    record.reportHtml = report->toHtml();
    const QVariant picture = report->resource(QTextDocument::ImageResource, QUrl(analysisReportCurveName()));
    if (picture.canConvert<QImage>() && !picture.value<QImage>().isNull()) {
        QBuffer png(&record.reportImage);
        png.open(QIODevice::WriteOnly);
        picture.value<QImage>().save(&png, "PNG");
        record.reportImageName = analysisReportCurveName();
    }
    if (Written(runs->storeAnalysis(*run, record)))
        m_host.ShowStatus(QStringLiteral("Анализ записан в архив."));
}
