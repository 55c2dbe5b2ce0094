#include "measure/OleContainer.h"

#include "measure/DesktopAssociation.h"
#include "measure/MeasureData.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <stdexcept>

TOleContainer::TOleContainer(QWidget *parent)
    : QWidget(parent), m_opener([](const QUrl &url) {
          // The desktop is asked first: on Linux the launch succeeds even when no
          // program takes the file.
          return desktopHasProgramFor(url.toLocalFile()) && QDesktopServices::openUrl(url);
      })
{
    setWindowTitle(QStringLiteral("Таблица Excel"));
    setFixedSize(17, 25);
    setEnabled(false);
    hide();
}

TOleContainer::~TOleContainer() = default;

void TOleContainer::DestroyObject()
{
    // Nothing is saved back: the object is a copy, and its opened copy goes with it.
    m_hasObject = false;
    m_iconic = false;
    m_data.clear();
    m_sourceName.clear();
    m_openedPath.clear();
    m_copyDir.reset();
}

void TOleContainer::CreateObjectFromFile(const QString &path, bool iconic)
{
    DestroyObject();
    m_data = readWholeFile(path); // throws with the container empty
    m_sourceName = QFileInfo(path).fileName();
    m_iconic = iconic;
    m_hasObject = true;
}

void TOleContainer::DoVerb(int verb)
{
    if (!m_hasObject)
        throw std::runtime_error("Контейнер Excel пуст: открывать нечего.");
    if (verb != 0 && verb != 1)
        throw std::runtime_error("Invalid object verb");

    // The copy keeps the file's name and therefore its extension, so that the desktop
    // picks the program for that type.
    auto dir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/lorit-excel-XXXXXX"));
    if (!dir->isValid()) {
        const QString reason = dir->errorString();
        DestroyObject();
        throw std::runtime_error(
            QStringLiteral("Не удалось создать временную папку для Excel: %1").arg(reason).toStdString());
    }
    const QString copyPath = dir->filePath(m_sourceName.isEmpty() ? QStringLiteral("TempBDTS.xls") : m_sourceName);
    try {
        writeWholeFile(copyPath, m_data);
    } catch (...) {
        DestroyObject();
        throw;
    }
    m_copyDir = std::move(dir);
    openWithDesktop(copyPath);
}

void TOleContainer::OpenLastingFile(const QString &path)
{
    DestroyObject();
    // The file stays where it is: the user may carry it to a computer that opens it.
    openWithDesktop(path, QStringLiteral(" Книга сохранена: \"%1\".").arg(QDir::toNativeSeparators(path)));
}

void TOleContainer::openWithDesktop(const QString &path, const QString &addendum)
{
    m_openedPath = path;
    if (!m_opener(QUrl::fromLocalFile(path))) {
        DestroyObject();
        throw std::runtime_error(QStringLiteral("Не удалось открыть \"%1\": на компьютере нет программы "
                                                "для файлов этого типа.")
                                     .arg(QFileInfo(path).fileName())
                                     .append(addendum)
                                     .toStdString());
    }
    Q_EMIT objectOpened(path);
}
