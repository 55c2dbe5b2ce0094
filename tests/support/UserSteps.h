#pragma once
// What the user does to the window, as real events on its own controls: a button of
// the group bar, a tab, a port typed into the port box and confirmed with Enter.

#include "app/MainLoritS_TreeTS.h"
#include "link/LinkControl.h"
#include "link/PortBox.h"

#include <QAction>
#include <QLineEdit>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

namespace user {

/// Clicks the group bar's button of a menu entry; false when it has none or it is
/// disabled (the click would do nothing).
inline bool clickGroupBar(TFormMainLoritS_D7 &window, QAction *action)
{
    for (QToolButton *button : window.shell.RzGroupBar1->findChildren<QToolButton *>()) {
        if (button->defaultAction() != action)
            continue;
        if (!button->isEnabled())
            return false;
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }
    return false;
}

inline void clickTab(QTabWidget *tabs, int index)
{
    QTest::mouseClick(tabs->tabBar(), Qt::LeftButton, {}, tabs->tabBar()->tabRect(index).center());
}

/// Replaces the port box's text by typing and presses Enter.
inline void typePort(TFormMainLoritS_D7 &window, const QString &port)
{
    QLineEdit *edit = window.shell.portGroup->cbxNumPort->lineEdit();
    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(edit, port);
    QTest::keyClick(edit, Qt::Key_Return);
}

} // namespace user
