// The habits of a desktop program that the window has beside its design: keys for the
// active page's own buttons, the user guide, the box "О программе", and what the next
// run starts from.

#include "app/CommandLine.h"
#include "app/MainLoritS_TreeTS.h"
#include "common/Settings.h"
#include "link/LinkControl.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "testdb/UnitBDTS_TreeTS.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QScreen>
#include <QTabWidget>
#include <QUrl>

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

void TFormMainLoritS_D7::CreateDesktopKeys()
{
    ActionReadPage = keyAction(QStringLiteral("Принять данные"), QKeySequence(Qt::Key_F5), this);
    ActionSavePage = keyAction(QStringLiteral("Данные в файл"), QKeySequence(Qt::CTRL | Qt::Key_S), this);
    ActionUserGuide = keyAction(QStringLiteral("Руководство пользователя"), QKeySequence(Qt::Key_F1), this);
}

QPushButton *TFormMainLoritS_D7::ActivePageButton(bool read) const
{
    switch (RzPageControl1->currentIndex()) {
    case pageReader:
        return read ? readerPage->btnReadOP : readerPage->btnSaveOP;
    case pageResult:
        return read ? resultPage->btnReadProtokol : resultPage->btnSaveProtokol;
    case pageBDTS:
        if (!frameBDTS)
            return nullptr;
        if (!read)
            return frameBDTS->btnSaveBDTSinFile;
        // While it reads, the read button is "Стоп": a key that reads must not stop.
        return frameBDTS->stopButton() == frameBDTS->btnReadBDTSFromTav ? nullptr : frameBDTS->btnReadBDTSFromTav;
    default:
        return nullptr;
    }
}

void TFormMainLoritS_D7::ActionReadPageExecute()
{
    // The page's own button, so that everything its click checks is checked.
    QPushButton *button = ActivePageButton(true);
    if (button && button->isEnabled())
        button->click();
}

void TFormMainLoritS_D7::ActionSavePageExecute()
{
    QPushButton *button = ActivePageButton(false);
    if (button && button->isEnabled())
        button->click();
}

void TFormMainLoritS_D7::ActionUserGuideExecute()
{
    const QString guide = m_userGuide.isEmpty() ? findUserGuide(QCoreApplication::applicationDirPath())
                                                : (QFileInfo(m_userGuide).isFile() ? m_userGuide : QString());
    if (guide.isEmpty()) {
        ShowStatus(QStringLiteral("Руководство пользователя (%1) не найдено.").arg(userGuideName));
        return;
    }
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(guide)))
        ShowStatus(QStringLiteral("Не удалось открыть руководство пользователя: ") + QDir::toNativeSeparators(guide));
}

void TFormMainLoritS_D7::Action1Execute()
{
    // The program has no licence of its own yet: until it has, all rights are reserved,
    // as its package's copyright file says.
    const QString text = QStringLiteral("ЛОРИТ-сервис\n"
                                        "Сервисная программа фотометра ТАВЕЛОН.\n\n"
                                        "Версия: %1\n"
                                        "Qt: %2\n\n"
                                        "Все права защищены.")
                             .arg(programVersion(), QString::fromLatin1(qVersion()));
    m_dialogs->showInformation(this, QStringLiteral("О программе"), text);
}

void TFormMainLoritS_D7::RestoreWindowSize()
{
    const auto size = m_settings->windowSize();
    if (size)
        resize(size->boundedTo(screen()->availableGeometry().size()));
    if (m_settings->windowMaximised())
        setWindowState(windowState() | Qt::WindowMaximized);
}

void TFormMainLoritS_D7::SaveSettings()
{
    // A port that is not open now (unplugged, or none at all) leaves the last one
    // remembered: it may be back next time.
    const QString port = link->OpenPortText();
    if (!port.isEmpty())
        m_settings->setLastPort(port);
    const bool maximised = isMaximized();
    m_settings->setWindowSize(maximised ? normalGeometry().size() : size(), maximised);
}
