#include "app/Application.h"

#include "link/CommError.h"

#include <QFileInfo>
#include <QMessageBox>

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    // The short Latin name names the user's data folder (~/.local/share/lorit-service);
    // the title the user sees is the display name.
    setApplicationName(QStringLiteral("lorit-service"));
    setApplicationDisplayName(QStringLiteral("ЛОРИТ-сервис 2008_06_06"));
    // Lets the desktop find the program's menu entry and icon for its windows.
    setDesktopFileName(QFileInfo(applicationFilePath()).completeBaseName());
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
    QMessageBox::critical(activeWindow(), applicationDisplayName(), text);
    return false;
}
