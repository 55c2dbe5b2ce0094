// The habits of a desktop program that the window has beside its design: the box
// "О программе", and what the next run starts from.

#include "app/CommandLine.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Settings.h"
#include "link/Line.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QUrl>

void TFormMainLoritS_D7::Action1Execute()
{
    // The program has no licence of its own yet: until it has, all rights are reserved,
    // as its package's copyright file says.
    const QString text = QStringLiteral("ЛОРИТ-сервис\n"
                                        "Сервисная программа фотометра ТАВЕЛОН.\n\n"
                                        "Версия: %1\n"
                                        "(В заголовках окон сообщений версия записана как \"2008_06_06\"; "
                                        "дата \"25.12.2011\" на стартовой странице — дата выпуска этой редакции.)\n"
                                        "Qt: %2\n\n"
                                        "Все права защищены.")
                             .arg(programVersion(), QString::fromLatin1(qVersion()));
    m_dialogs->showInformation(this, QStringLiteral("О программе"), text);
}

void TFormMainLoritS_D7::RestoreWindowSize()
{
    const auto size = m_settings->windowSize();
    if (size)
        resize(size->boundedTo(screen()->availableGeometry().size()));
    if (m_settings->windowMaximised())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TFormMainLoritS_D7::SaveSettings()
{
    // A port that is not open now (unplugged, or none at all) leaves the last one
    // remembered: it may be back next time.
    const QString port = line->OpenPortText();
    if (!port.isEmpty())
        m_settings->setLastPort(port);
    const bool maximised = isMaximized();
    m_settings->setWindowSize(maximised ? normalGeometry().size() : size(), maximised);
}
