#pragma once
// What the lists and the exchange show on the database page: the three trees whose
// content they build and read, the captions with the counts, and the buttons their
// results enable. The page's frame gives an implementation; the lists and the exchange
// need nothing else of it.

class TBDTSTreeView;

class TBDTSView
{
public:
    virtual ~TBDTSView() = default;

    /// The instrument's list; its Click reports the selection.
    virtual TBDTSTreeView &deviceTree() = 0;
    /// The file's list.
    virtual TBDTSTreeView &fileTree() = 0;
    /// The file's test systems that the instrument's list lacks.
    virtual TBDTSTreeView &addTree() = 0;

    /// Hides the instrument's tree while a reading replaces it, shows it again after.
    virtual void showDeviceTree(bool shown) = 0;
    /// The caption of the instrument's list with its test-system count.
    virtual void showDeviceCount(int tsCount) = 0;
    /// Whether the instrument's list is known to be what the instrument holds.
    virtual void setDeviceListConfirmed(bool confirmed) = 0;
    /// The caption of the additional list with its test-system count.
    virtual void showAddCount(int tsCount) = 0;

    /// Saving the instrument's list into a file.
    virtual void setSaveDeviceEnabled(bool enabled) = 0;
    /// Deleting the selected test systems from the instrument's list.
    virtual void setDeleteEnabled(bool enabled) = 0;
    /// Appending the additional list to the instrument's list.
    virtual void setAddEnabled(bool enabled) = 0;
};
