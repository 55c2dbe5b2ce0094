#include "link/LineClaim.h"


bool TLineClaim::claim(TLineUser user)
{
    if (m_holder == user)
        return true;
    if (m_holder != TLineUser::None)
        return false;
    m_holder = user;
    Q_EMIT changed(m_holder);
    return true;
}

void TLineClaim::release(TLineUser user)
{
    if (m_holder != user || user == TLineUser::None)
        return;
    m_holder = TLineUser::None;
    Q_EMIT changed(m_holder);
}

QString TLineClaim::waitText() const
{
    switch (m_holder) {
    case TLineUser::Contact:
        return busyText(m_holder);
    case TLineUser::Database:
        return QStringLiteral("Идет обмен БД ТС с прибором. Запрос будет выполнен после его окончания.");
    case TLineUser::Upload:
        return QStringLiteral("Идет перепрограммирование прибора. Запрос будет выполнен после его окончания.");
    case TLineUser::ODTable:
        return QStringLiteral("Идет прием оптических плотностей. Запрос будет выполнен после его окончания.");
    case TLineUser::Protocol:
        return QStringLiteral("Идет прием протокола результатов. Запрос будет выполнен после его окончания.");
    case TLineUser::None:
        break;
    }
    return QStringLiteral("Запрос будет выполнен после окончания обмена с прибором.");
}

QString TLineClaim::busyText(TLineUser user)
{
    switch (user) {
    case TLineUser::Contact:
        return QStringLiteral("Идет установление контакта с прибором. Запрос будет выполнен после установления контакта.");
    case TLineUser::Database:
        return QStringLiteral("Идет обмен БД ТС с прибором. Дождитесь его окончания.");
    case TLineUser::Upload:
        return QStringLiteral("Идет перепрограммирование прибора. Дождитесь его окончания.");
    case TLineUser::ODTable:
        return QStringLiteral("Идет прием оптических плотностей. Дождитесь его окончания.");
    case TLineUser::Protocol:
        return QStringLiteral("Идет прием протокола результатов. Дождитесь его окончания.");
    case TLineUser::None:
        break;
    }
    return {};
}
