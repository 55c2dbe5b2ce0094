#pragma once
// The port box of the port group: a combo box that says when the user opens its list,
// so that the list can show the ports plugged in since.

#include <QComboBox>
#include <QEvent>

class TPortBox : public QComboBox
{
    Q_OBJECT
public:
    using QComboBox::QComboBox;

    void showPopup() override
    {
        Q_EMIT popupAboutToShow();
        QComboBox::showPopup();
    }

    /// Works its sizes out again from the entries it holds now. A combo box keeps the
    /// sizes it found at its first layout, which may have come before its entries; a
    /// change of style is what makes it forget them.
    void FitToEntries()
    {
        QEvent styleChange(QEvent::StyleChange);
        QComboBox::changeEvent(&styleChange);
        updateGeometry();
    }

Q_SIGNALS:
    void popupAboutToShow();
};
