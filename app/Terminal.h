#pragma once
// Where an answer to "--help" or "--version" goes: the terminal the program was started
// from, or the file or pipe its output is sent to. The platform files Terminal_unix.cpp
// and Terminal_win.cpp know how to reach it; on Windows the program is a windowed one
// and has no console of its own.

#include <QString>

/// Writes `text` (lines ending in '\n') to the standard output: the console as text,
/// a file or pipe as UTF-8.
void writeToTerminal(const QString &text);
