#pragma once
// The two notices of a measurement, 'G' (densities measured) and 'g' (results ready),
// do the same: show their status and, when their page's box is ticked, ask for the data.

#include <QString>

#include <functional>

class TLine;
class TPageHost;

/// A notice whose byte has been taken. The loader sends no notices: during an upload it
/// is noise and false is returned. Otherwise its status is shown, and when `automatic`
/// the request goes now, or, while an exchange owns the line, waits for it to end
/// (`deferred` is set).
bool TakeMeasurementNotice(TPageHost &host, const TLine &line, const QString &status, bool automatic, bool &deferred,
                           const std::function<void()> &request);
