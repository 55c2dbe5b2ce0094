#include "link/PortProblem.h"

QString portProblemText(const QString &device, TPortProblem problem, const QString &group,
                        const QString &systemText)
{
    switch (problem) {
    case TPortProblem::Permission:
        if (group.isEmpty() || group == QLatin1String("root"))
            return QStringLiteral("Нет доступа к порту %1: у пользователя нет прав на это устройство.").arg(device);
        return QStringLiteral("Нет доступа к порту %1 (он принадлежит группе %2): добавьте пользователя в группу %2 "
                              "и войдите в систему заново.")
            .arg(device, group);
    case TPortProblem::Busy:
        return QStringLiteral("Порт %1 занят другой программой: закройте её и повторите.").arg(device);
    case TPortProblem::Absent:
        return QStringLiteral("Порт %1 не найден: проверьте, подключён ли адаптер.").arg(device);
    case TPortProblem::Other:
        break;
    }
    return QStringLiteral("Не удается открыть порт %1: %2").arg(device, systemText);
}
