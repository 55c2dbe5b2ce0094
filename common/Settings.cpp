#include "common/Settings.h"

#include "common/Dialogs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
const QString portKey = QStringLiteral("link/port");
const QString folderGroup = QStringLiteral("folders/");
const QString sizeKey = QStringLiteral("window/size");
const QString maximisedKey = QStringLiteral("window/maximised");
const QString colourScaleKey = QStringLiteral("reader/colourScale");

std::unique_ptr<QSettings> openStore(const QString &file)
{
    if (!file.isEmpty())
        return std::make_unique<QSettings>(file, QSettings::IniFormat);
    // The program's own name serves as the organisation too: an organisation name set on
    // the application would move the working folder (~/.local/share/lorit-service).
    const QString name = QCoreApplication::applicationName();
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, name, name);
}
} // namespace

TSettings::TSettings(const QString &file) : m_store(openStore(file)) {}

TSettings::~TSettings() = default;

QString TSettings::lastPort() const
{
    return m_store->value(portKey).toString();
}

void TSettings::setLastPort(const QString &port)
{
    m_store->setValue(portKey, port);
}

QString TSettings::dialogFolder(const QString &key, const QString &fallback) const
{
    if (key.isEmpty())
        return fallback;
    // A folder removed or on a stick not plugged in is no place to start from.
    const QString folder = m_store->value(folderGroup + key).toString();
    return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : fallback;
}

void TSettings::rememberChoice(const TFileDialogState &dialog)
{
    if (dialog.memoryKey.isEmpty() || dialog.fileName.isEmpty())
        return;
    const QString folder = QFileInfo(dialog.fileName).absolutePath();
    m_store->setValue(folderGroup + dialog.memoryKey, QDir::fromNativeSeparators(folder) + QLatin1Char('/'));
}

std::optional<QSize> TSettings::windowSize() const
{
    const QSize size = m_store->value(sizeKey).toSize();
    if (!size.isValid() || size.isEmpty())
        return std::nullopt;
    return size;
}

bool TSettings::windowMaximised() const
{
    return m_store->value(maximisedKey, false).toBool();
}

void TSettings::setWindowSize(const QSize &size, bool maximised)
{
    m_store->setValue(sizeKey, size);
    m_store->setValue(maximisedKey, maximised);
}

bool TSettings::colourScale() const
{
    return m_store->value(colourScaleKey, false).toBool();
}

void TSettings::setColourScale(bool shown)
{
    m_store->setValue(colourScaleKey, shown);
}
