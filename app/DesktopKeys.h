#pragma once
// The keys of a desktop program that the window has beside its menus: F5 reads and
// Ctrl+S saves on the active page, through that page's own button; F1 opens the user
// guide.

#include <QObject>
#include <QPointer>
#include <QString>

class QAction;
class QPushButton;
class TFormMainLoritS_D7;
class TGuideWindow;

class TDesktopKeys : public QObject
{
    Q_OBJECT
public:
    /// `userGuide` empty: looked for beside the program and among its installed documents.
    TDesktopKeys(TFormMainLoritS_D7 &window, const QString &userGuide);

    QAction *ActionReadPage = nullptr, *ActionSavePage = nullptr, *ActionUserGuide = nullptr;

    /// F5: the active page's own read button, when it is enabled.
    void ActionReadPageExecute();
    /// Ctrl+S: the active page's own save button, when it is enabled.
    void ActionSavePageExecute();
    /// F1: the user guide in a window of its own, at the active page's section.
    void ActionUserGuideExecute();

private:
    /// The button of the active page that F5 (read) or Ctrl+S (save) stands for.
    QPushButton *ActivePageButton(bool read) const;
    /// The guide's section for the active page.
    QString PageSection() const;

    TFormMainLoritS_D7 &m_window;
    QString m_userGuide;
    QPointer<TGuideWindow> m_guideWindow; ///< made at the first F1, gone when closed
};
