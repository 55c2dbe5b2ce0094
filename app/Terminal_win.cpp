// A windowed program on Windows starts without a console of its own. Its standard
// output is a file or a pipe when redirected: the answer goes there as UTF-8 with
// Windows' line ends. Typed into a console, it answers in that console (the parent's),
// as characters, whatever the console's code page. Started from the desktop, it shows
// a box.

#include "app/Terminal.h"

#include <QCoreApplication>

#include <windows.h>

namespace {
bool writeToConsole(HANDLE console, const QString &text)
{
    DWORD mode = 0;
    DWORD written = 0;
    return ::GetConsoleMode(console, &mode)
        && ::WriteConsoleW(console, text.utf16(), DWORD(text.size()), &written, nullptr);
}
} // namespace

void writeToTerminal(const QString &text)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    const DWORD type = (out && out != INVALID_HANDLE_VALUE) ? ::GetFileType(out) : DWORD(FILE_TYPE_UNKNOWN);
    if (type == FILE_TYPE_CHAR && writeToConsole(out, text))
        return;
    if (type != FILE_TYPE_UNKNOWN) {
        QString lines = text;
        const QByteArray bytes = lines.replace(QLatin1Char('\n'), QLatin1String("\r\n")).toUtf8();
        DWORD written = 0;
        ::WriteFile(out, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
        return;
    }
    if (::AttachConsole(ATTACH_PARENT_PROCESS)) {
        const HANDLE console = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
        const bool written = console != INVALID_HANDLE_VALUE && writeToConsole(console, text);
        if (console != INVALID_HANDLE_VALUE)
            ::CloseHandle(console);
        if (written)
            return;
    }
    ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.utf16()),
                  reinterpret_cast<const wchar_t *>(QCoreApplication::applicationName().utf16()),
                  MB_OK | MB_ICONINFORMATION);
}
