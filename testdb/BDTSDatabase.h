#pragma once
// The test-system database of the run as data: the images, their record arrays and
// counts, the final page, the loaded flags, and per side the key tree of its list (the
// instrument's, the file's and the additional one). It has no widgets: the frame shows
// it and passes the user's selection back; the exchange hands it what it read.
//
// Each operation below leaves the lists consistent and says what changed: `changed(side)`
// for a list and its counts, `confirmedChanged` when the instrument's list stops or starts
// being known to be the instrument's, `statusText` for the status line. ParseImage and
// RebuildImage are steps of the operations: they do not say what changed.

#include "testdb/BdtImage.h"
#include "testdb/KeyTreeBuilder.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

enum class TBDTSSide {
    Device, ///< deviceImage, deviceRecords, deviceTree
    File,   ///< fileImage, fileRecords, fileTree
    Add,    ///< addImage and addTree: the file's test systems the instrument's list lacks
};

struct TListCounts
{
    int pageCount = 0;
    int tsCount = 0;
};

inline constexpr char deviceListFile[] = "SpisokTSinTav.txt";
inline constexpr char fileListFile[] = "SpisokTSinFile.txt";

QString tooManyPagesText(); ///< "Слишком много страниц в БД ТС (больше 999)."

class TBDTSDatabase : public QObject
{
    Q_OBJECT
public:
    explicit TBDTSDatabase(QObject *parent = nullptr);
    ~TBDTSDatabase() override;

    /// The folder of the list files, ending in a separator.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }
    QString programFolder() const { return m_programFolder; }

    // --- state shared with the exchange; an absent image does not exist yet ---
    std::optional<QByteArray> deviceImage;
    std::optional<QByteArray> fileImage;
    std::optional<QByteArray> addImage;  ///< pages of the additional list and a final page, no header
    std::optional<QByteArray> sendImage;
    /// Locators of the records of deviceImage and fileImage. Test systems of the trees
    /// refer to them by index, so the arrays may grow or be refilled without a dangling
    /// reference.
    std::vector<TTSRecordRef> deviceRecords;
    std::vector<TTSRecordRef> fileRecords;
    TKeyTree deviceTree;
    TKeyTree fileTree;
    TKeyTree addTree; ///< its test systems refer to fileRecords
    int deviceTSCount = 0;
    int devicePageCount = 0;
    int fileTSCount = 0;
    int filePageCount = 0;
    int addTSCount = 0;
    int addPageCount = 0;       ///< pages in addImage, its final page included
    QByteArray finalPage;       ///< the final page of the image scanned or rebuilt last
    bool deviceListLoaded = false;
    bool fileListLoaded = false;
    /// The instrument's list is known to be what the instrument holds: a writing that
    /// broke off, or one that could not be read back, leaves the instrument unknown.
    bool deviceListConfirmed = true;

    const TKeyTree &treeOf(TBDTSSide side) const;
    /// Both lists are there and the file has test systems the instrument's list lacks.
    bool addEnabled() const { return deviceListLoaded && fileListLoaded && addTSCount > 0; }

    // --- operations ---
    /// A complete reading of the instrument's database becomes its list: the image is
    /// scanned, written as the list file, rewritten in normal form, and the additional
    /// list follows. False when the rewrite was refused (said on the status line);
    /// `listProblem` receives why the list file could not be written.
    bool AcceptReading(const QByteArray &image, int pageCount, QString *listProblem);
    /// The bytes of the file `name` become the file's list when they are a database whose
    /// normal form the header can count; otherwise the status line says why and nothing
    /// changes. The additional list and the file's list file follow.
    bool LoadFile(const QByteArray &bytes, const QString &name);
    /// The user let the file go (cancelled the dialog): its image goes, its list stays shown.
    void DropFileImage();
    /// Appends the additional list's pages to the instrument's image in place of its final
    /// page. False when nothing was appended (no images, or more than 999 pages).
    bool AppendMissing();
    /// Deletes the named nodes with their subtrees from the instrument's list and
    /// rewrites its image; a node inside another named one goes with it. Says how many
    /// test systems went. False when the rewrite was refused: the list is as before.
    bool DeleteKeys(const QList<TKeyPath> &keys);
    /// Refills addTree and addImage with the file's test systems that the instrument's
    /// list lacks. Does nothing until both images exist.
    void BuildAdditionalList();
    /// Writes the side's list as a list file in the program folder. When it cannot be
    /// written the status line names the file, `problem` receives the file's name with
    /// the system's words, and false returns; nothing else changes.
    bool WriteListFile(TBDTSSide side, const QString &fileName, QString *problem = nullptr);
    void setDeviceListConfirmed(bool confirmed);
    /// The window closes: the images go.
    void DropImages();

    // --- steps ---
    /// Rebuilds the side's tree and record array from its image, visiting pageCount
    /// pages. Duplicates and records whose pages run past the end of the image are
    /// passed over whole. Stores and returns the pages visited and the test systems.
    TListCounts ParseImage(TBDTSSide side, int pageCount);
    /// Whether the normal form of an image of pageCount pages, as ParseImage and
    /// RebuildImage would make it, fits the header's three digits.
    static bool NormalFormFits(const QByteArray &image, int pageCount);
    /// Rewrites the side's image in normal form from its tree and moves the locators.
    /// Stores and returns the new counts; nullopt when nothing was built (no image, or
    /// more than 999 pages, which is reported on the status line).
    std::optional<TListCounts> RebuildImage(TBDTSSide side);

Q_SIGNALS:
    void changed(TBDTSSide side);
    void confirmedChanged(bool confirmed);
    void statusText(const QString &text);

private:
    /// One step of BuildAdditionalList: the file's test system goes into the additional
    /// tree, its pages into addImage.
    void AddMissingEntry(TKeyTreeBuilder &additional, const TKeyNode &entry, const TKeyPath &path);

    std::optional<QByteArray> &imageOf(TBDTSSide side);
    std::vector<TTSRecordRef> &recordsOf(TBDTSSide side);
    TKeyTree &mutableTreeOf(TBDTSSide side);
    void storeCounts(TBDTSSide side, TListCounts counts);

    QString m_programFolder;
};
