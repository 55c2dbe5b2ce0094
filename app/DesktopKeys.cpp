#include "app/DesktopKeys.h"

#include "common/WorkPage.h"

#include "app/GuideWindow.h"
#include "app/MainLoritS_TreeTS.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QTabWidget>

namespace {
const QString userGuideName = QStringLiteral("guide-ru.md");

/// The user guide: in "doc" beside the program (a build folder, a copy on a stick), or
/// among the documents installed with it; empty when neither has it.
QString findUserGuide(const QString &executableFolder)
{
    for (const QString &folder : {QStringLiteral("/doc/"), QStringLiteral("/../share/doc/lorit-service/")}) {
        const QFileInfo guide(executableFolder + folder + userGuideName);
        if (guide.isFile())
            return guide.canonicalFilePath();
    }
    return {};
}

QAction *keyAction(const QString &text, const QKeySequence &key, QWidget *window)
{
    auto *action = new QAction(text, window);
    action->setShortcut(key);
    window->addAction(action); // a key of the whole window, shown in no menu
    return action;
}
} // namespace

TDesktopKeys::TDesktopKeys(TFormMainLoritS_D7 &window, const QString &userGuide)
    : QObject(&window), m_window(window), m_userGuide(userGuide)
{
    ActionReadPage = keyAction(QStringLiteral("Принять данные"), QKeySequence(Qt::Key_F5), &window);
    ActionSavePage = keyAction(QStringLiteral("Данные в файл"), QKeySequence(Qt::CTRL | Qt::Key_S), &window);
    ActionUserGuide = keyAction(QStringLiteral("Руководство пользователя"), QKeySequence(Qt::Key_F1), &window);
    connectGuarded(window, ActionReadPage, &QAction::triggered, this, &TDesktopKeys::ActionReadPageExecute);
    connectGuarded(window, ActionSavePage, &QAction::triggered, this, &TDesktopKeys::ActionSavePageExecute);
    connectGuarded(window, ActionUserGuide, &QAction::triggered, this, &TDesktopKeys::ActionUserGuideExecute);
}

QPushButton *TDesktopKeys::ActivePageButton(bool read) const
{
    const TWorkPage *page = m_window.ActiveWorkPage();
    if (!page)
        return nullptr;
    return read ? page->ReadButton() : page->SaveButton();
}

void TDesktopKeys::ActionReadPageExecute()
{
    // The page's own button, so that everything its click checks is checked.
    QPushButton *button = ActivePageButton(true);
    if (button && button->isEnabled())
        button->click();
}

void TDesktopKeys::ActionSavePageExecute()
{
    QPushButton *button = ActivePageButton(false);
    if (button && button->isEnabled())
        button->click();
}

void TDesktopKeys::ActionUserGuideExecute()
{
    const QString guide = m_userGuide.isEmpty() ? findUserGuide(QCoreApplication::applicationDirPath())
                                                : (QFileInfo(m_userGuide).isFile() ? m_userGuide : QString());
    if (guide.isEmpty()) {
        m_window.ShowStatus(QStringLiteral("Руководство пользователя (%1) не найдено.").arg(userGuideName));
        return;
    }
    // Inside the program, at the section of the page the user is on.
    if (!m_guideWindow)
        m_guideWindow = new TGuideWindow(guide, &m_window);
    m_guideWindow->showSection(PageSection());
    m_guideWindow->show();
    m_guideWindow->raise();
    m_guideWindow->activateWindow();
}

QString TDesktopKeys::PageSection() const
{
    switch (m_window.shell.RzPageControl1->currentIndex()) {
    case TFormMainLoritS_D7::pageSoftTav:
        return QStringLiteral("перепрограммирование-прибора");
    case TFormMainLoritS_D7::pageBDTS:
        return QStringLiteral("база-данных-тест-систем");
    case TFormMainLoritS_D7::pageReader:
        return QStringLiteral("таблица-оптических-плотностей");
    case TFormMainLoritS_D7::pageResult:
        return QStringLiteral("протокол-результатов");
    case TFormMainLoritS_D7::pageAnalysis:
        return QStringLiteral("анализ-планшета");
    case TFormMainLoritS_D7::pageArchive:
        return QStringLiteral("архив-запусков");
    case TFormMainLoritS_D7::pageControls:
        return QStringLiteral("контроли");
    default:
        return QStringLiteral("главное-окно");
    }
}

