#pragma once
// The two notices of a measurement, 'G' (densities measured) and 'g' (results ready),
// do the same: show their status and, when their page's box is ticked, ask for the data.

#include <QString>

#include <functional>

class TExchange;
class TLine;
class TPageHost;

/// A notice the line heard. The loader sends no notices: during an upload it is noise and
/// false is returned. Otherwise its status is shown, and when `automatic` the page's
/// request (`activity`, `begin`) goes to the line: it waits there while the line is held,
/// also behind the same exchange fetching what the instrument had before.
bool TakeMeasurementNotice(TPageHost &host, TLine &line, TExchange &exchange, const QString &status,
                           bool automatic, const QString &activity, const std::function<void()> &begin);
