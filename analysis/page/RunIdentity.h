#pragma once
// What a result of the page says of the run it comes from, on paper and in files.

#include <QDateTime>
#include <QStringList>

struct TRunIdentity
{
    QString instrumentFile; ///< the instrument's file name, or the saved table's
    QDateTime readAt;       ///< when the table was read; invalid when unknown
    QString operatorName;
    QString testSystem;     ///< the test system the layout is for
    QStringList settings;   ///< the calculation settings, one per line

    /// "Файл: …", "Время чтения: …", … : the lines that head a printout or a sheet.
    QStringList lines() const
    {
        QStringList out;
        out << QStringLiteral("Файл: ") + (instrumentFile.isEmpty() ? QStringLiteral("—") : instrumentFile);
        out << QStringLiteral("Время чтения: ")
                   + (readAt.isValid() ? readAt.toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")) : QStringLiteral("—"));
        out << QStringLiteral("Оператор: ") + (operatorName.isEmpty() ? QStringLiteral("—") : operatorName);
        out << QStringLiteral("Тест-система: ") + (testSystem.isEmpty() ? QStringLiteral("—") : testSystem);
        return out;
    }
};
