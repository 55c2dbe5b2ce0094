// A windowed program on Windows starts without a console and without standard handles,
// unless its output was redirected. Started from a console, it answers in that console
// (the parent's), as characters, whatever the console's code page; redirected, it
// writes UTF-8 with Windows' line ends; started from the desktop, it shows a box.

#include "app/Terminal.h"

#include <QCoreApplication>

#include <windows.h>

void writeToTerminal(const QString &text)
{
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (out == nullptr || out == INVALID_HANDLE_VALUE) {
        out = nullptr;
        if (::AttachConsole(ATTACH_PARENT_PROCESS))
            out = ::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
        if (out == INVALID_HANDLE_VALUE)
            out = nullptr;
    }
    if (!out) {
        ::MessageBoxW(nullptr, reinterpret_cast<const wchar_t *>(text.utf16()),
                      reinterpret_cast<const wchar_t *>(QCoreApplication::applicationName().utf16()),
                      MB_OK | MB_ICONINFORMATION);
        return;
    }
    DWORD mode = 0;
    DWORD written = 0;
    if (::GetConsoleMode(out, &mode)) {
        ::WriteConsoleW(out, text.utf16(), DWORD(text.size()), &written, nullptr);
        return;
    }
    QString lines = text;
    const QByteArray bytes = lines.replace(QLatin1Char('\n'), QLatin1String("\r\n")).toUtf8();
    ::WriteFile(out, bytes.constData(), DWORD(bytes.size()), &written, nullptr);
    ::FlushFileBuffers(out);
}
