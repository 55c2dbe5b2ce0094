#include "app/Application.h"

#include "app/CommandLine.h"
#include "common/Dialogs.h"
#include "link/CommError.h"

#include <QFileInfo>
#include <QIcon>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTimer>

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // The short Latin name names the user's data folder (~/.local/share/lorit-service).
    // The title is not made the display name: the desktop would append it to the
    // caption of every window.
    setApplicationName(QStringLiteral("lorit-service"));
    setApplicationVersion(programVersion());
    // Everything the program says is Russian; so are Qt's own dialogs and buttons
    // where the system has their translation (qt6-translations-l10n).
    if (m_qtRussian.load(QStringLiteral("qtbase_ru"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        installTranslator(&m_qtRussian);
    // Lets the desktop find the program's menu entry and icon for its windows.
    setDesktopFileName(QFileInfo(applicationFilePath()).completeBaseName());
    // The icon comes once the first window is painted: the desktop draws it from the
    // SVG in several sizes, which the first window need not wait for.
    installEventFilter(this);
    QTimer::singleShot(iconAtTheLatestMs, this, &TApplication::SetIcon);
}

void TApplication::SetIcon()
{
    if (m_iconSet)
        return;
    m_iconSet = true;
    removeEventFilter(this);
    // The icon also for window managers that do not look the desktop entry up, and
    // for a copy run from its build folder or a stick, which has no entry at all.
    setWindowIcon(QIcon(QStringLiteral(":/icons/lorit-service.svg")));
}

bool TApplication::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Paint && !m_iconSet)
        QMetaObject::invokeMethod(this, &TApplication::SetIcon, Qt::QueuedConnection);
    return QApplication::eventFilter(watched, event);
}

bool TApplication::notify(QObject *receiver, QEvent *event)
{
    QString text;
    try {
        return QApplication::notify(receiver, event);
    } catch (const TCommError &error) {
        text = error.text();
    } catch (const std::exception &error) {
        text = QString::fromUtf8(error.what());
    } catch (...) {
        text = QStringLiteral("Неизвестная ошибка.");
    }
    QMessageBox::critical(activeWindow(), applicationTitle(), text);
    return false;
}
