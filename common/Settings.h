#pragma once
// What the program remembers between runs: the port used last, where each file dialog
// was last, the window's size, and what a page keeps of its own. Everything else starts
// as the program always has.

#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class QSettings;
struct TFileDialogState;

/// Names under which the file dialogs remember their folders.
namespace dialogKey {
inline const QString measureSave = QStringLiteral("measureSave");   ///< table and protocol: "Данные в файл"
inline const QString measureOpen = QStringLiteral("measureOpen");   ///< "Из файла в Excel"
inline const QString firmwareOpen = QStringLiteral("firmwareOpen"); ///< "Другой файл..."
inline const QString databaseSave = QStringLiteral("databaseSave"); ///< "в файл..."
inline const QString databaseOpen = QStringLiteral("databaseOpen"); ///< "из файла..."
} // namespace dialogKey

class TSettings
{
public:
    /// `file` empty: the user's own settings of the program; otherwise an INI file
    /// (tests keep theirs in their own folder).
    explicit TSettings(const QString &file = {});
    ~TSettings();
    TSettings(const TSettings &) = delete;
    TSettings &operator=(const TSettings &) = delete;

    /// The port that was open last ("COM2", or a device the user typed); empty: none yet.
    QString lastPort() const;
    void setLastPort(const QString &port);

    /// The folder the dialog under `key` chose from last, while it still exists;
    /// otherwise `fallback`.
    QString dialogFolder(const QString &key, const QString &fallback) const;
    /// Remembers the folder of the file just chosen in a dialog with a memory key.
    void rememberChoice(const TFileDialogState &dialog);

    /// The window's size when it was closed last (its size before maximising).
    std::optional<QSize> windowSize() const;
    bool windowMaximised() const;
    void setWindowSize(const QSize &size, bool maximised);

    /// The reader page's colour scale ("Цветовая шкала") is shown; off until chosen.
    bool colourScale() const;
    void setColourScale(bool shown);

    /// The store itself, for a setting of a page that has no accessor here yet.
    QSettings &store() { return *m_store; }

private:
    std::unique_ptr<QSettings> m_store;
};
