#include "app/Terminal.h"

#include <cstdio>

void writeToTerminal(const QString &text)
{
    std::fputs(text.toUtf8().constData(), stdout);
    std::fflush(stdout);
}
