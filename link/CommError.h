#pragma once
// Error raised by the serial control; its text is the system's own message.

#include <QString>
#include <stdexcept>

class TCommError : public std::runtime_error
{
public:
    explicit TCommError(const QString &text)
        : std::runtime_error(text.toStdString()), m_text(text) {}
    QString text() const { return m_text; }

private:
    QString m_text;
};
