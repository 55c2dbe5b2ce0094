#pragma once
// The application object: its title, and the last guard against an error that escaped
// a handler, so that no exception ever unwinds through the event loop.

#include <QApplication>
#include <QTranslator>

class TApplication final : public QApplication
{
    Q_OBJECT
public:
    TApplication(int &argc, char **argv);
    bool notify(QObject *receiver, QEvent *event) override;

    /// ms after start by which the icon is set even when no window was painted
    static constexpr int iconAtTheLatestMs = 500;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    /// The icon of every window, drawn from its SVG.
    void SetIcon();

    QTranslator m_qtRussian; ///< Qt's own words (dialog buttons, file dialogs) in Russian
    bool m_iconSet = false;
};
