#pragma once
// The port box of the port group: a combo box that says when the user opens its list,
// so that the list can show the ports plugged in since.

#include <QComboBox>

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

Q_SIGNALS:
    void popupAboutToShow();
};
