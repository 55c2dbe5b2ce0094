#pragma once
// The spreadsheet container of the reader page: it holds at most one object, an
// embedded copy of a file's bytes, and opens that copy in the desktop's program for
// the file's type. The file it was made from is never touched again.

#include <QByteArray>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class QTemporaryDir;
class QUrl;

class TOleContainer : public QWidget
{
    Q_OBJECT
public:
    /// Hands a file over to the desktop; false when nothing could take it.
    using Opener = std::function<bool(const QUrl &)>;

    /// Hidden and disabled: the user never sees or clicks the container.
    explicit TOleContainer(QWidget *parent = nullptr);
    ~TOleContainer() override;

    /// Discards the object held, if any, together with its opened copy.
    void DestroyObject();
    /// Discards the object held, then embeds a copy of the file. Throws, leaving the
    /// container empty, when the file cannot be read.
    void CreateObjectFromFile(const QString &path, bool iconic);
    /// Verb 0 (primary) and 1 (open) both open the copy in the desktop's program for
    /// the file's type. Throws when there is no object, for an unknown verb, and when
    /// the desktop cannot open it (the container is then left empty).
    void DoVerb(int verb);
    /// Opens a file that is itself a lasting copy (a workbook made for the hand-over)
    /// in the desktop's program, without an embedded copy, so that what the user saves
    /// there stays. Discards the object held first; throws when nothing can open it.
    void OpenLastingFile(const QString &path);

    bool isEmpty() const { return !m_hasObject; }
    bool iconic() const { return m_iconic; }
    QByteArray objectData() const { return m_data; }
    QString sourceFileName() const { return m_sourceName; }
    /// The copy handed to the desktop by the last verb; empty until then.
    QString openedCopyPath() const { return m_openedPath; }

    /// Tests put an opener of their own here instead of launching a program.
    void setOpener(Opener opener) { m_opener = std::move(opener); }

Q_SIGNALS:
    void objectOpened(const QString &copyPath);

private:
    /// Hands the file to the opener; a refusal empties the container and throws, with
    /// the addendum after the reason.
    void openWithDesktop(const QString &path, const QString &addendum = {});

    Opener m_opener;
    bool m_hasObject = false;
    bool m_iconic = false;
    QByteArray m_data;
    QString m_sourceName;
    QString m_openedPath;
    std::unique_ptr<QTemporaryDir> m_copyDir; ///< where the opened copy lives
};
