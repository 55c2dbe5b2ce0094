#include "firmware/UnitSoftTav_TreeTS.h"

#include "common/Contrast.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/LoaderScreen.h"
#include "firmware/ProgSteps.h"
#include "link/ContactSearch.h"
#include "link/Line.h"
#include "link/QtSerialBackend.h"
#include "link/ReplyTable.h"

#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>
#include <QSplitter>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <stdexcept>

namespace {

// The procedure must not take a drop it hears late for one that came after the image.
static_assert(TProgSteps::lineDropHeardWithinMs >= 2 * TQtSerialBackend::modemPollMs,
              "a drop of the line is heard one look at the modem lines late, and the window may be busy");

constexpr int picturePaneWidth = 200;  ///< px the picture keeps when the frame is wide
constexpr int narrowSplitter = 250;    ///< px at or below which the panes share half and half

QLabel *instruction(const QString &text, QWidget *parent, bool bold = false)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    if (bold) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    }
    return label;
}

QLabel *fileLabel(QWidget *parent)
{
    auto *label = new TPathLabel(QStringLiteral("Файл не найден"), parent);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    // A long path loses its start at the pane's edge rather than widening the page,
    // and shows more as the window grows; the hint shows it whole.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    QPalette pal = label->palette();
    // Dark blue on the desktop's background, brightened where that is dark.
    pal.setColor(QPalette::WindowText, contrast::readableOn(pal.color(QPalette::Window), QColor(0x10, 0x28, 0x90)));
    label->setPalette(pal);
    return label;
}

QWidget *picturePane(QWidget *picture, QWidget *parent)
{
    auto *pane = new QFrame(parent);
    pane->setFrameShape(QFrame::StyledPanel);
    auto *layout = new QVBoxLayout(pane);
    layout->setContentsMargins(3, 3, 3, 3);
    picture->setParent(pane);
    layout->addWidget(picture);
    return pane;
}

/// The parts of a page that instructs on the left and shows the instrument's screen on
/// the right.
struct TPicturePage
{
    QSplitter *splitter = nullptr;
    TArrowLine *arrow = nullptr;  ///< ends the column, pointing at the screen
    TLoaderScreen *screen = nullptr;
};

/// Lays out the tab sheet as a page of instructions beside a picture of the instrument's
/// screen. fillColumn adds the page's own instructions to the column; the arrow towards
/// the picture follows them.
TPicturePage buildPicturePage(QWidget *sheet, TLoaderScreen::TView view,
                              const std::function<void(QWidget *column, QVBoxLayout *layout)> &fillColumn)
{
    auto *pageLayout = new QVBoxLayout(sheet);
    pageLayout->setContentsMargins(2, 2, 2, 2);
    TPicturePage page;
    page.splitter = new QSplitter(Qt::Horizontal, sheet);
    page.splitter->setChildrenCollapsible(false);
    pageLayout->addWidget(page.splitter);

    auto *column = new QWidget(page.splitter);
    auto *layout = new QVBoxLayout(column);
    layout->setContentsMargins(2, 0, 2, 0);
    layout->setSpacing(1);
    fillColumn(column, layout);
    page.arrow = new TArrowLine(column);
    layout->addWidget(page.arrow, 0, Qt::AlignHCenter);
    layout->addStretch();

    page.screen = new TLoaderScreen(view);
    page.splitter->addWidget(column);
    page.splitter->addWidget(picturePane(page.screen, page.splitter));
    page.splitter->setStretchFactor(0, 1);
    return page;
}

void placeSplitter(QSplitter *splitter, int firstWidth)
{
    const int width = splitter->width();
    splitter->setSizes({firstWidth, std::max(0, width - firstWidth)});
}

} // namespace

TFrameSoftTav::TFrameSoftTav(TPageHost &host, TLine &link, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(link)
{
    RzLabel1 = new QLabel(QStringLiteral("Для программирования прибора ТАВЕЛОН \n"
                                         "выполните последовательно следующие шаги..."),
                          this);
    RzLabel1->setAlignment(Qt::AlignCenter);
    QFont header = RzLabel1->font();
    header.setBold(true);
    RzLabel1->setFont(header);

    RzPageControl2 = new QTabWidget(this);
    RzPageControl2->tabBar()->setCursor(Qt::PointingHandCursor);
    TabSheet5 = new QWidget;
    TabSheet6 = new QWidget;
    RzPageControl2->addTab(TabSheet5, QStringLiteral("Шаги 1,2"));
    RzPageControl2->addTab(TabSheet6, QStringLiteral("Шаг 3"));
    CreateStepsPage();
    CreateLoadPage();

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(2);
    layout->addWidget(RzLabel1);
    layout->addWidget(RzPageControl2, 1);

    OpenDialog.filter = QStringLiteral("Файлы загрузки (*.tsk)|*.tsk");
    OpenDialog.memoryKey = dialogKey::firmwareOpen;

    const auto on = [this](auto *sender, auto signal, auto handler) { connectGuarded(m_host, sender, signal, this, handler); };
    on(btnOtherFileLoadPO, &QPushButton::clicked, &TFrameSoftTav::btnOtherFileLoadPOClick);
    on(btnLoadPO, &QPushButton::clicked, &TFrameSoftTav::btnLoadPOClick);
    on(btnStopProgramTav, &QPushButton::clicked, &TFrameSoftTav::btnStopProgramTavClick);
    on(RzPageControl2, &QTabWidget::currentChanged, &TFrameSoftTav::RzPageControl2Changing);
    RzSplitter1->installEventFilter(this);
    RzSplitter2->installEventFilter(this);
    ConnectProgSteps();
}

TFrameSoftTav::~TFrameSoftTav() = default;

void TFrameSoftTav::ConnectProgSteps()
{
    // The line serves the procedure: it sends what the procedure gives while the
    // procedure holds it, and tells it the queue and the speed it paces the image by.
    TLine &link = m_link;
    TPageHost &host = m_host;
    TProgLine line;
    line.queued = [&link] { return link.OutBufferCount(); };
    line.dropQueued = [&link] { link.DropUnsent(); };
    line.baud = [&link] { return link.PortBaud(); };
    line.guarded = [&host](const std::function<void()> &tick) { host.Guarded(tick); };
    progSteps = new TProgSteps(std::move(line), this);
    m_link.Serve(*progSteps);
    // The line hands the procedure its events while the procedure holds it; while the
    // procedure only watches (the steps before an upload), they come from here.
    connect(&m_link, &TLine::lineLost, this, [this](const TExchange *interrupted) {
        if (interrupted != progSteps)
            m_host.Guarded([this] { progSteps->lineLost(); });
    });
    connect(&m_link, &TLine::lineBack, this, [this](const TExchange *running) {
        if (running != progSteps && m_entered)
            m_host.Guarded([this] { progSteps->lineBack(); });
    });
    connect(&m_link, &TLine::notice, this, [this](char code) {
        if (code == 'L' && !progSteps->running())
            progSteps->reply('L', QByteArrayLiteral("L"), 0);
    });
    connect(progSteps, &TProgSteps::loadButtonChanged, btnLoadPO, &QPushButton::setEnabled);
    connect(progSteps, &TProgSteps::loadHintChanged, btnLoadPO, &QPushButton::setToolTip);
    // Cancel is offered, and the file stays what it was, while the image goes out or
    // may be written.
    connect(progSteps, &TProgSteps::runningChanged, this, [this](bool owned) {
        btnStopProgramTav->setEnabled(owned);
        btnStopProgramTav->setVisible(owned);
        btnOtherFileLoadPO->setEnabled(!owned);
    });
}

void TFrameSoftTav::DisarmProgSteps()
{
    progSteps->DisarmProgSteps();
}

void TFrameSoftTav::ArmProgSteps()
{
    progSteps->ArmProgSteps(m_link.LinkPresent());
}

void TFrameSoftTav::UpdateProgStep()
{
    progSteps->UpdateProgStep();
}

bool TFrameSoftTav::ConfirmWhileWriting(const QString &action)
{
    return m_host.dialogs()->askYesNo(
        this, QStringLiteral("Внимание!"),
        QStringLiteral("Прибор, возможно, еще записывает программу. Не выключайте его, пока на его экране не "
                       "появится «Программирование завершено» или сообщение об ошибке.\n\n")
            + action
            + QStringLiteral("\n\nПрограмма не узнает, чем закончилось перепрограммирование: это покажет экран прибора."));
}

void TFrameSoftTav::Enter()
{
    m_entered = true;
    const TExchange *holder = m_link.Running();
    if (!holder || holder == m_link.search) {
        Arm();
        return;
    }
    // An exchange goes on (a database exchange, a table asked for): the procedure starts
    // once it has ended, whether the instrument is there then or not.
    m_link.Submit(*progSteps, QStringLiteral("подготовка к перепрограммированию"), [this] { Arm(); },
                  TLine::TNeeds::Line);
}

void TFrameSoftTav::Arm()
{
    if (!m_entered)
        return;
    m_link.OpenAtTopSpeed();
    ArmProgSteps();
    UpdateProgStep();
}

bool TFrameSoftTav::MayLeave()
{
    m_farewell.clear();
    return !progSteps->ownsLine() || MayLeave(m_farewell);
}

void TFrameSoftTav::Leave()
{
    m_entered = false;
    m_link.Withdraw(*progSteps);
    DisarmProgSteps();
    if (!m_farewell.isEmpty())
        m_host.ShowStatus(std::exchange(m_farewell, QString()));
}

bool TFrameSoftTav::MayLeave(QString &farewell)
{
    // Leaving abandons the upload: while the image goes out, once the engineer has
    // confirmed it; while the loader may write its flash, once the engineer has read
    // what that means. Past the instrument's longest write time nothing holds the page.
    // "Нет" always keeps the page. The question waits for the engineer while the image
    // goes on: an image that has become whole meanwhile is being written, and the page
    // stays to guard the write whatever the answer.
    if (progSteps->sending()) {
        const bool abandon = m_host.dialogs()->askYesNo(
            this, QStringLiteral("Внимание!"),
            QStringLiteral("Идет загрузка программы в прибор. Прервать ее и перейти на другую страницу?\n\n"
                           "Прибор останется в режиме программирования, перепрограммирование придется повторить."));
        if (!abandon)
            return false;
        if (progSteps->writing())
            return false;
        if (progSteps->sending())
            farewell = QStringLiteral("Загрузка программы в прибор прервана. Прибор остался в режиме "
                                      "программирования: повторите перепрограммирование.");
        return true;
    }
    if (progSteps->writing()) {
        if (!ConfirmWhileWriting(QStringLiteral("Перейти на другую страницу?")))
            return false;
        if (progSteps->writing())
            farewell = QStringLiteral("Перепрограммирование прибора не подтверждено: посмотрите, что показывает "
                                      "экран прибора.");
        return true;
    }
    return true;
}

void TFrameSoftTav::CreateStepsPage()
{
    const auto fillSteps = [this](QWidget *steps, QVBoxLayout *layout) {
        layout->addWidget(instruction(QStringLiteral("Шаг 1. Файл для загрузки:"), steps, true));
        lbFileLoadPO = fileLabel(steps);
        layout->addWidget(lbFileLoadPO);
        btnOtherFileLoadPO = new QPushButton(QStringLiteral("Другой файл..."), steps);
        layout->addWidget(btnOtherFileLoadPO, 0, Qt::AlignHCenter);
        layout->addSpacing(3);
        layout->addWidget(instruction(QStringLiteral("Шаг 2. Выключите прибор\nи через 5 сек \nвключите,"), steps, true));
        layout->addWidget(instruction(QStringLiteral("предварительно нажав\nуказкой на экран\nи\n"
                                                     "удерживая ее в этом положении."),
                                      steps));
        layout->addWidget(instruction(QStringLiteral("Экран прибора должен приобрести вид,\nпоказанный в окне справа."), steps));
    };
    const TPicturePage page = buildPicturePage(TabSheet5, TLoaderScreen::TView::Ready, fillSteps);
    RzSplitter1 = page.splitter;
    RzLine1 = page.arrow;
    screenReady = page.screen;
}

void TFrameSoftTav::CreateLoadPage()
{
    const auto fillLoad = [this](QWidget *load, QVBoxLayout *layout) {
        layout->addWidget(instruction(QStringLiteral("Файл для загрузки:"), load, true));
        lbFileLoadPO2 = fileLabel(load);
        layout->addWidget(lbFileLoadPO2);
        layout->addSpacing(3);
        btnLoadPO = new QPushButton(QStringLiteral("Загрузить программу в прибор"), load);
        btnLoadPO->setEnabled(false);
        btnLoadPO->setToolTip(TProgSteps::loadHintNotReady());
        layout->addWidget(btnLoadPO, 0, Qt::AlignHCenter);
        btnStopProgramTav = new QPushButton(QStringLiteral("Отменить загрузку"), load);
        QPalette red = btnStopProgramTav->palette();
        red.setColor(QPalette::ButtonText, QColor(0xd0, 0x10, 0x10));
        btnStopProgramTav->setPalette(red);
        btnStopProgramTav->setEnabled(false);
        btnStopProgramTav->setVisible(false);
        // The hidden button keeps its room, so the texts below do not jump during a transfer.
        QSizePolicy keep = btnStopProgramTav->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        btnStopProgramTav->setSizePolicy(keep);
        layout->addWidget(btnStopProgramTav, 0, Qt::AlignHCenter);
        layout->addSpacing(3);
        layout->addWidget(instruction(QStringLiteral("При успешном программировании\nэкран прибора приобретет вид,\n"
                                                     "показанный справа\n\n\nи произойдет \nперезагрузка прибора."),
                                      load));
    };
    const TPicturePage page = buildPicturePage(TabSheet6, TLoaderScreen::TView::Programmed, fillLoad);
    RzSplitter2 = page.splitter;
    RzLine2 = page.arrow;
    screenProgrammed = page.screen;
}

void TFrameSoftTav::PlaceFirstDivider()
{
    placeSplitter(RzSplitter1, RzSplitter1->width() - picturePaneWidth);
}

void TFrameSoftTav::PlaceDividers()
{
    const int width = RzSplitter1->width();
    if (width <= 0)
        return;
    const int percent = (width - 210) * 100 / width;
    placeSplitter(RzSplitter2, RzSplitter2->width() * percent / 100);
    placeSplitter(RzSplitter1, width * percent / 100);
}

bool TFrameSoftTav::eventFilter(QObject *watched, QEvent *event)
{
    // Both pages keep their picture at the same width; a narrow page shares half and half.
    if ((watched == RzSplitter1 || watched == RzSplitter2) && event->type() == QEvent::Resize) {
        auto *splitter = static_cast<QSplitter *>(watched);
        const int width = splitter->width();
        placeSplitter(splitter, width <= narrowSplitter ? width / 2 : width - picturePaneWidth);
    }
    return QWidget::eventFilter(watched, event);
}

void TFrameSoftTav::ShowFileLabels(const QString &text)
{
    for (QLabel *label : {lbFileLoadPO, lbFileLoadPO2}) {
        label->setText(text);
        label->setToolTip(text);
    }
}

void TFrameSoftTav::LookUpDefaultFile()
{
    // The file stays what it was while its image goes out or is written.
    if (progSteps->ownsLine()) {
        PlaceDividers();
        return;
    }
    const QString name = QString::fromLatin1(tsk::defaultFileName);
    const QString folder = QString::fromLatin1(tsk::defaultFolder);
    const QFileInfo here(name);
    const QFileInfo inProgram(m_host.programFolder() + folder + QLatin1Char('/') + name);
    // The demo's image is random bytes for its virtual instrument: an earlier demo left
    // it among the real program's files, and a real instrument must never get it.
    const auto offered = [this](const QFileInfo &file) {
        return file.isFile() && (m_host.isDemo() || !isDemoFirmwareFile(file.filePath()));
    };
    bool defined = true;
    if (offered(here)) {
        // The label names the file that will really be sent.
        firmwareFilePath = here.absoluteFilePath();
        ShowFileLabels(QDir::toNativeSeparators(here.absolutePath() + QLatin1Char('/')) + QLatin1Char('\n') + name);
    } else if (offered(inProgram)) {
        firmwareFilePath = inProgram.filePath();
        ShowFileLabels(QDir::toNativeSeparators(m_host.programFolder()) + QLatin1Char('\n') + folder
                       + QDir::separator() + QLatin1Char('\n') + name);
    } else {
        firmwareFilePath.clear();
        ShowFileLabels(QStringLiteral("Файл ") + name
                       + (here.isFile() || inProgram.isFile() ? QStringLiteral("\nиз демонстрации,\nне для прибора.")
                                                              : QStringLiteral("\nне найден.")));
        defined = false;
    }
    progSteps->setFirmwareFileDefined(defined);
    PlaceDividers();
    OpenDialog.initialDir = m_host.settings().dialogFolder(OpenDialog.memoryKey, m_host.programFolder());
}

void TFrameSoftTav::btnOtherFileLoadPOClick()
{
    OpenDialog.filter = QStringLiteral("Файлы загрузки (*.tsk)|*.tsk");
    if (m_host.dialogs()->executeOpen(this, OpenDialog)) {
        const QString path = OpenDialog.fileName;
        firmwareFilePath = path;
        const int cut = QDir::fromNativeSeparators(path).lastIndexOf(QLatin1Char('/'));
        if (cut > 0) {
            m_host.lastFileFolder() = path.left(cut + 1);
            m_host.lastFileName() = path.mid(cut + 1);
        } else {
            m_host.lastFileFolder().clear();
            m_host.lastFileName() = cut == 0 ? path.mid(1) : path;
        }
        OpenDialog.initialDir = m_host.lastFileFolder();
        OpenDialog.fileName = m_host.lastFileName();
        ShowFileLabels(QDir::toNativeSeparators(m_host.lastFileFolder()) + QLatin1Char('\n') + m_host.lastFileName());
    }
    progSteps->setFirmwareFileDefined(!firmwareFilePath.isEmpty());
}

void TFrameSoftTav::btnLoadPOClick()
{
    // The file is read and checked before the question, so that the question can say
    // what will be sent and for how long, and before the instrument hears anything: a
    // loader that got its start command waits for a length that an unreadable file
    // never gives.
    const QByteArray file = readFirmwareFile(firmwareFilePath);
    if (!m_host.isDemo() && isDemoFirmwareImage(file))
        throw std::runtime_error(QStringLiteral("Файл %1 нельзя загрузить в прибор: это образец из демонстрации "
                                                "для виртуального прибора, а не программа прибора.")
                                     .arg(QDir::toNativeSeparators(firmwareFilePath))
                                     .toStdString());
    TFirmwarePacket packet = firmwarePacket(file);
    // The loader listens at 115200 whatever moved the port meanwhile (a "Контакт" or
    // the speed box): the question says that speed, and the image goes at it.
    const qint32 baud = wire::speeds[TLine::topSpeedIndex];
    if (!m_host.dialogs()->askYesNo(this, QStringLiteral("Внимание! Проверьте."),
                                     QStringLiteral("Режим программирования в приборе включен?")
                                         + QStringLiteral("\n\n") + uploadSummary(packet, baud)))
        return;
    // The loader answers no probe: a contact search would never end, and gives way. A
    // table or a protocol asked for meanwhile holds the line until its reply: the image
    // goes after it.
    if (m_link.Running() == m_link.search)
        m_link.search->StopContactSearch();
    auto image = std::make_shared<TFirmwarePacket>(std::move(packet));
    m_link.Submit(*progSteps, QStringLiteral("загрузка программы в прибор"), [this, image, baud] {
        if (m_link.PortBaud() != baud)
            m_link.OpenAtTopSpeed();
        // While the question was open the instrument may have been switched off, or may
        // have started its own program ('L'): an image sent then would be taken as commands.
        if (!progSteps->start(std::move(*image)))
            m_host.ShowStatus(m_link.LinkPresent()
                                  ? QStringLiteral("Загрузка не начата: прибор не в режиме программирования. "
                                                   "Повторите шаг 2.")
                                  : QStringLiteral("Загрузка не начата: нет связи с прибором."));
    });
}

void TFrameSoftTav::btnStopProgramTavClick()
{
    if (progSteps->writing()
        && !ConfirmWhileWriting(QStringLiteral("Прекратить ожидание и начать перепрограммирование с шага 2?")))
        return;
    progSteps->cancel();
}

void TFrameSoftTav::RzPageControl2Changing()
{
    UpdateProgStep();
}
