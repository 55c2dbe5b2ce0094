#pragma once
// What the window asks of a page of work, the same for every tab: it is entered, it may
// keep the user from leaving (asking first), it is left, and F5 and Ctrl+S stand for its
// own read and save buttons, so that everything their clicks check is checked.

class QPushButton;

class TWorkPage
{
public:
    virtual ~TWorkPage() = default;

    /// The page has become the active one.
    virtual void Enter() {}
    /// Another page is asked for: false keeps this one. The page may ask the user first.
    virtual bool MayLeave() { return true; }
    /// Another page has become the active one.
    virtual void Leave() {}
    /// The buttons F5 (read) and Ctrl+S (save) press on this page; none while there is
    /// nothing to press.
    virtual QPushButton *ReadButton() const { return nullptr; }
    virtual QPushButton *SaveButton() const { return nullptr; }
};
