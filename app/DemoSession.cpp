#include "app/DemoSession.h"

#include "app/MainLoritS_TreeTS.h"
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
#include <QStandardPaths>
#include <QTimer>

QString demoSettingsFile()
{
    // The real program keeps "<name>/<name>.conf" in the same folder.
    const QString name = QCoreApplication::applicationName();
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(name + QLatin1Char('/') + name + QStringLiteral("-demo.conf"));
}

TDemoSession::TDemoSession(TWindowOptions options) : m_instrument(std::make_unique<TVirtualInstrument>())
{
    if (options.settingsFile.isEmpty())
        options.settingsFile = demoSettingsFile();
    m_instrument->setSpeedIndex(1); // 9600: the contact search has work to do
    m_window = std::make_unique<TFormMainLoritS_D7>(new TVirtualBackend(m_instrument.get()), options);
    // Two databases to try the database page on: one as the instrument holds it, one
    // as a newer file with a few more test systems.
    const QString samples = m_window->programFolder() + QStringLiteral("FilesInTavelon");
    const bool databases = writeSampleDatabases(samples);
    // A sample control program for the page "ПО прибора".
    const bool firmware = writeSampleFirmware(samples);
    // The layout of the virtual instrument's plate, for "Анализ планшета".
    const bool layout = writeFileWhole(samples + QStringLiteral("/ИФА-демо.json"), TInstrumentMeasurements::sampleLayout()).isEmpty();
    if (!databases || !firmware || !layout)
        m_window->ReportError(QStringLiteral("Не удается записать примеры файлов в папку %1: "
                                             "базы данных и программа для виртуального прибора недоступны.")
                                  .arg(QDir::toNativeSeparators(samples)));
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
