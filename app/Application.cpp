#include "app/Application.h"

#include "link/CommError.h"

#include <QMessageBox>

TApplication::TApplication(int &argc, char **argv)
    : QApplication(argc, argv)
{
    setApplicationName(QStringLiteral("ЛОРИТ-сервис 2008_06_06"));
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
    QMessageBox::critical(activeWindow(), applicationName(), text);
    return false;
}
