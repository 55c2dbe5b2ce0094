#pragma once
// "--help" and "--version" for both programs. They are answered before the window's
// application exists: typed over a remote shell, they must work without a display.

#include <QString>

#include <optional>

/// The program's version, as the package and "--version" give it.
QString programVersion();

/// Looks at the arguments for "--help" ("-h", "-?", "--help-all") or "--version"
/// ("-v"); prints the answer and returns the exit code, or nothing when the program
/// should start. Other options (Qt's own "-platform", "-style") are left to the
/// application.
std::optional<int> answerCommandLine(int &argc, char **argv, const QString &description);
