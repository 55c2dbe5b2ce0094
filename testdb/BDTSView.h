#pragma once
// What the exchange tells the database page beyond the database itself: the lists and
// their counts come from TBDTSDatabase; only the hiding of the instrument's list while a
// reading replaces it is the exchange's to say.

class TBDTSView
{
public:
    virtual ~TBDTSView() = default;

    /// Hides the instrument's tree while a reading replaces it, shows it again after.
    virtual void showDeviceTree(bool shown) = 0;
};
