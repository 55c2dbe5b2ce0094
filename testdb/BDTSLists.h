#pragma once
// The state of the test-system database for the whole run (images, record arrays,
// counters, the final page, the loaded flags) and the operations on its lists: reading
// an image into its tree, rewriting an image in normal form from its tree, the
// additional list, deletion, the click on the instrument's tree and the list files.
//
// Calling orders:
//  - a device read has completed: ParseImage(Device), WriteListFile(deviceTree,
//    deviceListFile), RebuildImage(Device), set deviceListLoaded, BuildAdditionalList;
//  - a file has passed checkDatabaseFile: ParseImage(File), RebuildImage(File), set
//    fileListLoaded, BuildAdditionalList, WriteListFile(fileTree, fileListFile);
//  - the missing test systems were appended to deviceImage: ParseImage(Device),
//    BuildAdditionalList;
//  - deleting: DeleteSelectedNodes(deviceTree), RebuildImage(Device),
//    ParseImage(Device), BuildAdditionalList.

#include "testdb/BdtImage.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>
#include <vector>

class QTreeWidget;
class TBDTSNode;
class TBDTSView;
class TKeyTreeBuilder;

enum class TBDTSSide {
    Device, ///< deviceImage, deviceRecords, the view's deviceTree
    File,   ///< fileImage, fileRecords, the view's fileTree
};

struct TListCounts
{
    int pageCount = 0;
    int tsCount = 0;
};

inline constexpr char deviceListFile[] = "SpisokTSinTav.txt";
inline constexpr char fileListFile[] = "SpisokTSinFile.txt";

QString tooManyPagesText(); ///< "Слишком много страниц в БД ТС (больше 999)."

class TBDTSLists : public QObject
{
    Q_OBJECT
public:
    explicit TBDTSLists(QObject *parent = nullptr);
    ~TBDTSLists() override;

    /// The view whose trees, captions and buttons the operations use; until it is set
    /// the operations leave the trees alone and BuildAdditionalList does nothing. The
    /// view is dropped when its instrument's tree goes.
    void setView(TBDTSView *view);
    TBDTSView *view() const { return m_view; }
    /// The folder of the list files, ending in a separator.
    void setProgramFolder(const QString &folder) { m_programFolder = folder; }
    QString programFolder() const { return m_programFolder; }

    // --- state shared with the exchange; an absent image does not exist yet ---
    std::optional<QByteArray> deviceImage;
    std::optional<QByteArray> fileImage;
    std::optional<QByteArray> addImage;  ///< pages of the additional list and a final page, no header
    std::optional<QByteArray> sendImage;
    /// Locators of the records of deviceImage and fileImage. Tree nodes refer to them by
    /// index, so the arrays may grow or be refilled without leaving a node dangling.
    std::vector<TTSRecordRef> deviceRecords;
    std::vector<TTSRecordRef> fileRecords;
    int deviceTSCount = 0;
    int devicePageCount = 0;
    int fileTSCount = 0;
    int filePageCount = 0;
    int addTSCount = 0;
    int addPageCount = 0;       ///< pages in addImage, its final page included
    QByteArray finalPage;       ///< the final page of the image scanned or rebuilt last
    bool deviceListLoaded = false;
    bool fileListLoaded = false;

    /// Rebuilds the side's tree and record array from its image, visiting pageCount
    /// pages. Duplicates and records whose pages run past the end of the image are
    /// passed over whole. Stores and returns the pages visited and the test systems.
    TListCounts ParseImage(TBDTSSide side, int pageCount);
    /// Whether the normal form of an image of pageCount pages, as ParseImage and
    /// RebuildImage would make it, fits the header's three digits. Touches no tree.
    static bool NormalFormFits(const QByteArray &image, int pageCount);
    /// Rewrites the side's image in normal form from its tree and moves the locators.
    /// Stores and returns the new counts; nullopt when nothing was built (no image or
    /// view, or more than 999 pages, which is reported on the status line).
    std::optional<TListCounts> RebuildImage(TBDTSSide side);
    /// A complete reading of the instrument's database becomes its list: the image is
    /// scanned, written as the list file, rewritten in normal form and shown, and the
    /// additional list follows. False when the rewrite was refused (said on the status
    /// line); `listProblem` receives why the list file could not be written.
    bool AcceptReading(const QByteArray &image, int pageCount, QString *listProblem);
    /// Refills the view's addTree and addImage with the file's test systems that the
    /// instrument's list lacks; shows their count and enables adding them.
    void BuildAdditionalList();
    /// Deletes the selected nodes of the tree with their subtrees.
    void DeleteSelectedNodes(QTreeWidget &tree);
    /// The click on the instrument's tree: reports the selected nodes and enables
    /// deleting them.
    void TreeViewTavClick();
    /// Writes the tree as a list file in the program folder. When it cannot be written
    /// the status line names the file, `problem` receives the file's name with the
    /// system's words, and false returns; nothing else changes.
    bool WriteListFile(const QTreeWidget &tree, const QString &fileName, QString *problem = nullptr);

    QTreeWidget *treeOf(TBDTSSide side) const;

Q_SIGNALS:
    void statusText(const QString &text);

private:
    /// One step of BuildAdditionalList: the test system of the file's tree goes into the
    /// additional tree, its pages into addImage.
    void AddMissingEntry(TKeyTreeBuilder &addTree, const TBDTSNode &entry);

    std::optional<QByteArray> &imageOf(TBDTSSide side);
    std::vector<TTSRecordRef> &recordsOf(TBDTSSide side);
    void storeCounts(TBDTSSide side, TListCounts counts);

    TBDTSView *m_view = nullptr;
    QString m_programFolder;
};
