#include "firmware/UnitSoftTav_TreeTS.h"

#include "common/Contrast.h"
#include "common/PageHost.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "firmware/FirmwareImage.h"
#include "firmware/FirmwareTransfer.h"
#include "firmware/LoaderScreen.h"
#include "firmware/ProgSteps.h"
#include "link/LinkControl.h"
#include "link/TMSComm.h"

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

namespace {

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

TFrameSoftTav::TFrameSoftTav(TPageHost &host, TLinkControl &link, TProgSteps &steps, QWidget *parent)
    : QWidget(parent), m_host(host), m_link(link), m_steps(steps)
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

    Timer = new QTimer(this);
    Timer->setInterval(tsk::tickMs);
    OpenDialog.filter = QStringLiteral("Файлы загрузки (*.tsk)|*.tsk");
    OpenDialog.memoryKey = dialogKey::firmwareOpen;

    const auto on = [this](auto *sender, auto signal, auto handler) { connectGuarded(m_host, sender, signal, this, handler); };
    on(btnOtherFileLoadPO, &QPushButton::clicked, &TFrameSoftTav::btnOtherFileLoadPOClick);
    on(btnLoadPO, &QPushButton::clicked, &TFrameSoftTav::btnLoadPOClick);
    on(btnStopProgramTav, &QPushButton::clicked, &TFrameSoftTav::btnStopProgramTavClick);
    on(Timer, &QTimer::timeout, &TFrameSoftTav::TimerTimer);
    on(RzPageControl2, &QTabWidget::currentChanged, &TFrameSoftTav::RzPageControl2Changing);
    RzSplitter1->installEventFilter(this);
    RzSplitter2->installEventFilter(this);
    ConnectProgSteps();
}

TFrameSoftTav::~TFrameSoftTav() = default;

void TFrameSoftTav::ConnectProgSteps()
{
    connect(&m_steps, &TProgSteps::loadButtonChanged, btnLoadPO, &QPushButton::setEnabled);
    connect(&m_steps, &TProgSteps::loadHintChanged, btnLoadPO, &QPushButton::setToolTip);
    // Each power-on starts the wait afresh; a drop of the line ends it.
    StartProgTav_Timer = new QTimer(this);
    StartProgTav_Timer->setSingleShot(true);
    StartProgTav_Timer->setInterval(TProgSteps::powerOnWaitMs);
    connect(&m_steps, &TProgSteps::powerOnWaitStarted, StartProgTav_Timer, qOverload<>(&QTimer::start));
    connect(&m_steps, &TProgSteps::powerOnWaitStopped, StartProgTav_Timer, &QTimer::stop);
    // Every sign of the instrument after the image was sent starts the minute afresh.
    ProgSilence_Timer = new QTimer(this);
    ProgSilence_Timer->setSingleShot(true);
    ProgSilence_Timer->setInterval(progSilenceMs);
    connect(&m_steps, &TProgSteps::instrumentAwaited, ProgSilence_Timer, qOverload<>(&QTimer::start));
    connect(&m_steps, &TProgSteps::stopped, this, [this] {
        StartProgTav_Timer->stop();
        ProgSilence_Timer->stop();
        StopTransfer();
        m_host.SetProgress(0);
    });
    connectGuarded(m_host, StartProgTav_Timer, &QTimer::timeout, this, &TFrameSoftTav::StartProgTav_TimerTimer);
    connectGuarded(m_host, ProgSilence_Timer, &QTimer::timeout, this, &TFrameSoftTav::ProgSilence_TimerTimer);
}

void TFrameSoftTav::DisarmProgSteps()
{
    m_steps.disarm();
}

void TFrameSoftTav::ArmProgSteps()
{
    m_steps.arm();
}

void TFrameSoftTav::UpdateProgStep()
{
    m_steps.updateStep(m_link.LinkPresent());
}

void TFrameSoftTav::ProgLinkLost()
{
    // The loader may restart before the next tick has looked at the queue: a line
    // that drops after the last byte left is the restart, not a cancel.
    FinishIfSent();
    m_steps.linkLost();
}

void TFrameSoftTav::ProgLinkReturned()
{
    m_steps.linkReturned();
}

void TFrameSoftTav::ProgStepRefresh()
{
    m_steps.afterLinkUpdate(m_link.LinkPresent());
}

void TFrameSoftTav::StartProgTav_TimerTimer()
{
    StartProgTav_Timer->stop();
    m_steps.powerOnWaitEnded(m_link.LinkPresent());
}

void TFrameSoftTav::ReplyProgramStarted()
{
    m_steps.replyL(m_link.LinkPresent());
}

void TFrameSoftTav::ProgSilence_TimerTimer()
{
    ProgSilence_Timer->stop();
    m_steps.instrumentSilent();
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
    const QString name = QString::fromLatin1(tsk::defaultFileName);
    const QString folder = QString::fromLatin1(tsk::defaultFolder);
    const QFileInfo here(name);
    const QFileInfo inProgram(m_host.programFolder() + folder + QLatin1Char('/') + name);
    TProgSteps &steps = m_steps;
    if (here.isFile()) {
        // The label names the file that will really be sent.
        firmwareFilePath = here.absoluteFilePath();
        ShowFileLabels(QDir::toNativeSeparators(here.absolutePath() + QLatin1Char('/')) + QLatin1Char('\n') + name);
        steps.firmwareFileDefined = true;
    } else if (inProgram.isFile()) {
        firmwareFilePath = inProgram.filePath();
        ShowFileLabels(QDir::toNativeSeparators(m_host.programFolder()) + QLatin1Char('\n') + folder
                       + QDir::separator() + QLatin1Char('\n') + name);
        steps.firmwareFileDefined = true;
    } else {
        firmwareFilePath.clear();
        ShowFileLabels(QStringLiteral("Файл ") + name + QStringLiteral("\nне найден."));
        steps.firmwareFileDefined = false;
    }
    UpdateProgStep();
    PlaceDividers();
    OpenDialog.initialDir = m_host.settings().dialogFolder(OpenDialog.memoryKey, m_host.programFolder());
}

void TFrameSoftTav::btnOtherFileLoadPOClick()
{
    OpenDialog.filter = QStringLiteral("Файлы загрузки (*.tsk)|*.tsk");
    TProgSteps &steps = m_steps;
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
        steps.firmwareFileDefined = true;
    } else if (firmwareFilePath.isEmpty()) {
        steps.firmwareFileDefined = false;
    }
    UpdateProgStep();
}

void TFrameSoftTav::btnLoadPOClick()
{
    // The file is read and checked before the question, so that the question can say
    // what will be sent and for how long, and before the instrument hears anything: a
    // loader that got its start command waits for a length that an unreadable file
    // never gives.
    TFirmwarePacket packet = firmwarePacket(readFirmwareFile(firmwareFilePath));
    const qint32 baud = m_link.MSComm1->Settings().section(QLatin1Char(','), 0, 0).toInt();
    if (!m_host.dialogs()->askYesNo(this, QStringLiteral("Внимание! Проверьте."),
                                     QStringLiteral("Режим программирования в приборе включен?")
                                         + QStringLiteral("\n\n") + uploadSummary(packet, baud)))
        return;
    m_link.replyBuffer.clear();
    if (!m_link.MSComm1->PortOpen()) {
        m_host.ShowStatus(QStringLiteral("Порт отключен."));
        return;
    }
    // While the question was open the instrument may have been switched off, or may
    // have started its own program ('L'): an image sent then would be taken as commands.
    const bool linkPresent = m_link.LinkPresent();
    if (!m_steps.readyToSend(linkPresent)) {
        m_host.ShowStatus(linkPresent ? QStringLiteral("Загрузка не начата: прибор не в режиме программирования. Повторите шаг 2.")
                                       : QStringLiteral("Загрузка не начата: нет связи с прибором."));
        return;
    }

    m_steps.uploadBegun(linkPresent);
    btnStopProgramTav->setEnabled(true);
    btnStopProgramTav->setVisible(true);
    firmwareImage = std::make_unique<TFirmwareTransfer>(std::move(packet));
    m_sending = true;
    m_link.SendToDevice(firmwareImage->packet().start);
    m_link.SendToDevice(firmwareImage->packet().length);
    Timer->start();
}

void TFrameSoftTav::TimerTimer()
{
    Timer->stop();
    TFirmwareTransfer *transfer = firmwareImage.get();
    if (!m_sending || !transfer)
        return;
    if (FinishIfSent())
        return;
    const int queued = m_link.MSComm1->OutBufferCount();
    if (transfer->complete()) {
        Timer->start(); // the last bytes are still on their way
        return;
    }
    // Paced by what the line has really taken: a chunk goes only when at most one
    // chunk still waits, so the queue never runs ahead of the line.
    if (!TFirmwareTransfer::mayHandOver(queued)) {
        Timer->start();
        return;
    }
    const QByteArray chunk = transfer->takeChunk();
    m_host.SetProgress(transfer->progress());
    m_link.SendToDevice(chunk);
    if (transfer->complete())
        m_link.SendToDevice(transfer->packet().checksumBytes());
    Timer->start();
}

bool TFrameSoftTav::FinishIfSent()
{
    const TFirmwareTransfer *transfer = firmwareImage.get();
    // The image counts as sent only when its last byte and the checksum have left the
    // queue: until then the instrument must not restart, and cancel stays.
    if (!m_sending || !transfer || !transfer->complete() || m_link.MSComm1->OutBufferCount() > 0)
        return false;
    Timer->stop();
    m_sending = false;
    m_host.SetProgress(0);
    m_steps.uploadFinished();
    btnStopProgramTav->setEnabled(false);
    btnStopProgramTav->setVisible(false);
    return true;
}

void TFrameSoftTav::btnStopProgramTavClick()
{
    m_steps.cancelUpload();
}

void TFrameSoftTav::RzPageControl2Changing()
{
    UpdateProgStep();
}

void TFrameSoftTav::StopTransfer()
{
    Timer->stop();
    if (m_sending) {
        m_sending = false;
        if (m_link.MSComm1->PortOpen())
            m_link.MSComm1->setOutBufferCount(0);
    }
    btnStopProgramTav->setEnabled(false);
    btnStopProgramTav->setVisible(false);
}
