#include "app/DemoSession.h"

#include "app/MainLoritS_TreeTS.h"
#include "analysis/page/AnalysisPage.h"
#include "app/ProgramFolder.h"
#include "firmware/FirmwareImage.h"
#include "common/Cp1251.h"
#include "common/WholeFile.h"
#include "sim/InstrumentWindow.h"
#include "sim/commands/MeasureCommands.h"
#include "sim/VirtualBackend.h"
#include "sim/VirtualInstrument.h"
#include "testdb/SampleDatabases.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTimer>

QString demoSettingsFile()
{
    // The real program keeps "<name>/<name>.conf" in the same folder.
    const QString name = QCoreApplication::applicationName();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(name + QLatin1Char('/') + name + QStringLiteral("-demo.conf"));
}

namespace {
/// A sample is written only where no file of its name is: a file there may be one the
/// user saved or put there, and stays.
bool writeSampleWhenMissing(const QString &path, const QByteArray &bytes)
{
    return QFileInfo::exists(path) || writeFileWhole(path, bytes).isEmpty();
}
} // namespace

TDemoSession::TDemoSession(TWindowOptions options) : m_instrument(std::make_unique<TVirtualInstrument>())
{
    if (options.settingsFile.isEmpty())
        options.settingsFile = demoSettingsFile();
    // Every file of the demo goes into its own folder: the real program looks into its
    // folder for the image it offers for a real instrument, and keeps real databases,
    // lists and protocols there.
    TProgramFolder own;
    if (options.programFolder.isEmpty()) {
        own = chooseDemoFolder(QCoreApplication::applicationDirPath(),
                               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
        options.programFolder = own.folder;
    }
    // The demo's tables and workbooks are no lab's results: they stay with it too.
    if (options.documentsFolder.isEmpty())
        options.documentsFolder = options.programFolder;
    options.demo = true;
    m_instrument->setSpeedIndex(1); // 9600: the contact search has work to do
    m_window = std::make_unique<TFormMainLoritS_D7>(new TVirtualBackend(m_instrument.get()), options);
    m_window->setWindowTitle(QStringLiteral("ЛОРИТ-сервис (демонстрация)"));
    if (!own.problem.isEmpty())
        m_window->ReportError(own.problem);
    // Two databases to try the database page on: one as the instrument holds it, one
    // as a newer file with a few more test systems; a sample control program for the
    // page "ПО прибора"; the layout of the virtual instrument's plate for "Анализ планшета".
    const QDir samples(m_window->programFolder() + QString::fromLatin1(tsk::defaultFolder));
    const bool written = samples.mkpath(QStringLiteral("."))
                         && writeSampleWhenMissing(samples.filePath(QString::fromLatin1(sampleDeviceFileName)), sampleDeviceImage())
                         && writeSampleWhenMissing(samples.filePath(QString::fromLatin1(sampleFileFileName)), sampleFileImage())
                         && writeSampleWhenMissing(samples.filePath(QString::fromLatin1(tsk::defaultFileName)), sampleFirmwareImage())
                         && writeSampleWhenMissing(samples.filePath(QStringLiteral("ИФА-демо.json")),
                                                   TInstrumentMeasurements::sampleLayout());
    // Its folder is a hidden one in the user's data: "Открыть раскладку..." starts in it.
    m_window->OfferLayoutsFrom(samples.path());
    if (!written)
        m_window->ReportError(QStringLiteral("Не удается записать примеры файлов в папку %1: "
                                             "базы данных и программа для виртуального прибора недоступны.")
                                  .arg(QDir::toNativeSeparators(samples.path())));
    if (const QString problem = cp1251Problem(); !problem.isEmpty())
        m_window->ReportError(problem);
    m_instrumentWindow = std::make_unique<TInstrumentWindow>(m_instrument.get());
    // The demo ends with the tool's window; the instrument's alone keeps nothing running.
    m_instrumentWindow->setAttribute(Qt::WA_QuitOnClose, false);
    m_window->installEventFilter(this);
}

TDemoSession::~TDemoSession()
{
    // The instrument's window and the tool's window hold the instrument: they go first.
    m_instrumentWindow.reset();
    m_window.reset();
}

void TDemoSession::show()
{
    m_window->show();
    m_instrumentWindow->move(m_window->frameGeometry().right() + 12, m_window->frameGeometry().top());
    m_instrumentWindow->show();
}

bool TDemoSession::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window.get() && event->type() == QEvent::Close) {
        // Looked at once the close has been carried out: a close that was refused
        // leaves both windows.
        QTimer::singleShot(0, this, [this] {
            if (!m_window->isVisible())
                m_instrumentWindow->close();
        });
    }
    return QObject::eventFilter(watched, event);
}
