#include "common/Cp1251.h"

QString cp1251Problem()
{
    QByteArray all(256, '\0');
    for (int byte = 0; byte < 256; ++byte)
        all[byte] = char(byte);
    const QString text = fromCp1251(all);
    if (text.size() != all.size() || toCp1251(text) != all)
        return QStringLiteral("Кодовая страница 1251 недоступна: русские тексты прибора не могут быть "
                              "ни показаны, ни переданы.");
    return {};
}
