#pragma once
// The two notices of a measurement, 'G' (densities measured) and 'g' (results ready),
// do the same: show their status and, when their page's box is ticked, ask for the data.

#include <QString>

#include <functional>

class TLine;
class TPageHost;

/// A notice whose byte has been taken. The loader sends no notices: during an upload it
/// is noise and false is returned. Otherwise its status is shown, and when `automatic`
/// the request goes now, or, while the line is held, waits for it to be free
/// (`requestOnceFree`).
bool TakeMeasurementNotice(TPageHost &host, const TLine &line, const QString &status, bool automatic,
                           const std::function<void()> &request, const std::function<void()> &requestOnceFree);
