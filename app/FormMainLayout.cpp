// The shell's layout: menus, group bar, pages, status bar, and the texts of the start page.

#include "app/MainLoritS_TreeTS.h"
#include "app/StatusPane.h"
#include "common/FontScale.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "link/Line.h"
#include "link/LinkControl.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "analysis/page/AnalysisPage.h"
#include "analysis/page/ControlsPage.h"
#include "archive/page/ArchivePage.h"
#include "archive/page/RunRecorder.h"
#include "measure/SaveChoices.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSplitter>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

constexpr int clientWidth = 632, clientHeight = 412; ///< px at the opening (design font); the user may resize
constexpr int menuBarHeight = 24, splitterWidth = 8;
constexpr int statusBarHeight = 19, statusPaneWidth = 164;

QFrame *innerPanel(QWidget *parent)
{
    auto *panel = new QFrame(parent);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor(0x24, 0x3f, 0x70));
    pal.setColor(QPalette::WindowText, QColor(0xf0, 0xf0, 0xf0));
    panel->setPalette(pal);
    return panel;
}

QLabel *panelText(const QString &text, QWidget *parent, Qt::Alignment align = Qt::AlignCenter)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(align);
    label->setWordWrap(false);
    return label;
}

QWidget *groupBarSection(const QString &title, const QList<QAction *> &actions, QWidget *parent)
{
    auto *box = new QGroupBox(title, parent);
    box->setFlat(true);
    auto *layout = new QVBoxLayout(box);
    layout->setContentsMargins(2, 2, 2, 2);
    layout->setSpacing(1);
    for (QAction *action : actions) {
        auto *button = new QToolButton(box);
        button->setDefaultAction(action);
        button->setAutoRaise(true);
        button->setToolButtonStyle(Qt::ToolButtonTextOnly);
        button->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        button->setFont(fontScale::scaled(button->font(), 10.0 / 11));
        layout->addWidget(button);
    }
    return box;
}

} // namespace

void TFormMainLoritS_D7::CreateComponents()
{
    setWindowTitle(QStringLiteral("ЛОРИТ-сервис"));
    // The layout is drawn for a small dialog font; the window's font keeps that
    // proportion to the desktop's, and the drawn sizes follow the font.
    setFont(fontScale::windowFont());
    resize(fontScale::px(this, clientWidth), fontScale::px(this, clientHeight));
    move(233, 133);

    // Actions, shown both in the menu and in the group bar.
    // The letter after '&' opens a menu with Alt, or chooses an item in an open menu.
    shell.Action1 = new QAction(QStringLiteral("&О программе"), this);
    shell.ActionExit = new QAction(QStringLiteral("&Выход"), this);
    shell.ActionTrafficLog = new QAction(QStringLiteral("&Журнал обмена"), this);
    shell.ActionSoftTavelon = new QAction(QStringLiteral("&Тавелон"), this);
    shell.ActionBDTS = new QAction(QStringLiteral("&БД тест-систем"), this);
    shell.ActionTav2006 = new QAction(QStringLiteral("&Оптические плотности"), this);
    shell.ActionFile = new QAction(QStringLiteral("&Результаты"), this);
    shell.ActionAnalysis = new QAction(QStringLiteral("&Анализ планшета"), this);
    shell.ActionArchive = new QAction(QStringLiteral("Ар&хив"), this);
    shell.ActionControls = new QAction(QStringLiteral("&Контроли"), this);

    shell.ActionMainMenuBar1 = new QMenuBar(this);
    shell.ActionMainMenuBar1->setFixedHeight(fontScale::px(this, menuBarHeight));
    QMenu *userMenu = shell.ActionMainMenuBar1->addMenu(QStringLiteral("&Пользователю"));
    userMenu->addAction(shell.Action1);
    userMenu->addAction(shell.ActionTrafficLog);
    userMenu->addSeparator();
    userMenu->addAction(shell.ActionExit);
    QMenu *progMenu = shell.ActionMainMenuBar1->addMenu(QStringLiteral("Про&граммирование"));
    progMenu->addAction(shell.ActionSoftTavelon);
    progMenu->addAction(shell.ActionBDTS);
    QMenu *readerMenu = shell.ActionMainMenuBar1->addMenu(QStringLiteral("&Ридер"));
    readerMenu->addAction(shell.ActionTav2006);
    readerMenu->addAction(shell.ActionFile);
    readerMenu->addAction(shell.ActionAnalysis);
    readerMenu->addAction(shell.ActionArchive);
    readerMenu->addAction(shell.ActionControls);
    setMenuBar(shell.ActionMainMenuBar1);

    auto *central = new QWidget(this);
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    shell.SCSplitter1 = new QSplitter(Qt::Horizontal, central);
    shell.SCSplitter1->setHandleWidth(splitterWidth);
    shell.SCSplitter1->setChildrenCollapsible(false);

    shell.RzGroupBar1 = new QWidget(shell.SCSplitter1);
    auto *barLayout = new QVBoxLayout(shell.RzGroupBar1);
    barLayout->setContentsMargins(2, 2, 2, 2);
    barLayout->setSpacing(4);
    barLayout->addWidget(groupBarSection(QStringLiteral("Пользователю"), {shell.Action1, shell.ActionExit}, shell.RzGroupBar1));
    barLayout->addWidget(groupBarSection(QStringLiteral("Программирование"), {shell.ActionSoftTavelon, shell.ActionBDTS}, shell.RzGroupBar1));
    barLayout->addWidget(groupBarSection(QStringLiteral("Ридер"), {shell.ActionTav2006, shell.ActionFile, shell.ActionAnalysis, shell.ActionArchive, shell.ActionControls}, shell.RzGroupBar1));
    barLayout->addStretch();
    shell.RzGroupBar1->setMinimumWidth(fontScale::px(this, 60));

    shell.RzPageControl1 = new QTabWidget(shell.SCSplitter1);
    shell.RzPageControl1->setTabPosition(QTabWidget::South);
    shell.TabSheet1 = new QWidget;
    shell.TabShSoftTav = new QWidget;
    shell.TabShBDTS = new QWidget;
    // Only the start page is needed for the first paint: the others are made after it
    // (CreateWorkPages) or on their first visit, and fill these tabs whole.
    shell.TabShReader = new QWidget;
    shell.TabShResult = new QWidget;
    shell.TabShAnalysis = new QWidget;
    shell.TabShArchive = new QWidget;
    shell.TabShControls = new QWidget;
    shell.RzPageControl1->addTab(shell.TabSheet1, QStringLiteral("О программе"));
    shell.RzPageControl1->addTab(shell.TabShSoftTav, QStringLiteral("ПО прибора"));
    shell.RzPageControl1->addTab(shell.TabShBDTS, QStringLiteral("БД ТС"));
    shell.RzPageControl1->addTab(shell.TabShReader, QStringLiteral("Ридер ОП"));
    shell.RzPageControl1->addTab(shell.TabShResult, QStringLiteral("Результаты"));
    shell.RzPageControl1->addTab(shell.TabShAnalysis, QStringLiteral("Анализ"));
    shell.RzPageControl1->addTab(shell.TabShArchive, QStringLiteral("Архив"));
    shell.RzPageControl1->addTab(shell.TabShControls, QStringLiteral("Контроли"));
    for (int i = 1; i < shell.RzPageControl1->count(); ++i)
        shell.RzPageControl1->tabBar()->setTabVisible(i, false);
    for (QWidget *page : {shell.TabShSoftTav, shell.TabShBDTS})
        new QVBoxLayout(page); // the frames fill their pages when they are created
    for (QWidget *page : {shell.TabShReader, shell.TabShResult, shell.TabShAnalysis, shell.TabShArchive, shell.TabShControls})
        (new QVBoxLayout(page))->setContentsMargins(0, 0, 0, 0);

    shell.SCSplitter1->addWidget(shell.RzGroupBar1);
    shell.SCSplitter1->addWidget(shell.RzPageControl1);
    const int barWidth = fontScale::px(this, groupBarWidth);
    shell.SCSplitter1->setSizes({barWidth, fontScale::px(this, clientWidth) - barWidth - splitterWidth});
    shell.SCSplitter1->setStretchFactor(1, 1);
    centralLayout->addWidget(shell.SCSplitter1, 1);

    CreateStartPage();
    centralLayout->addWidget(shell.portGroup->RzGroupBox1);
    shell.portGroup->FitToFont();
    setCentralWidget(central);

    shell.RzStatusBar1 = new QStatusBar(this);
    // The drawn height holds one line; a long message takes the lines it needs.
    shell.RzStatusBar1->setMinimumHeight(fontScale::px(this, statusBarHeight));
    shell.RzStatusBar1->setSizeGripEnabled(false);
    shell.RzStatusPane1 = new TStatusPane(shell.RzStatusBar1);
    shell.RzProgressBar1 = new QProgressBar(shell.RzStatusBar1);
    shell.RzProgressBar1->setRange(0, 100);
    shell.RzProgressBar1->setValue(0);
    shell.RzProgressBar1->setFixedWidth(fontScale::px(this, statusPaneWidth));
    shell.RzProgressBar1->hide(); // until a job sets it
    // The bar and the button keep to the drawn line: only a long message makes the
    // status bar taller, and only by the room the pages can spare.
    shell.RzProgressBar1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    shell.RzStatusPane1->historyButton()->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    shell.RzClockStatus1 = new QLabel(shell.RzStatusBar1);
    shell.RzClockStatus1->setFixedWidth(fontScale::px(this, statusPaneWidth));
    shell.RzClockStatus1->setAlignment(Qt::AlignCenter);
    shell.RzStatusPane1->setYieldingPane(shell.RzClockStatus1);
    shell.RzStatusBar1->addWidget(shell.RzStatusPane1->historyButton());
    shell.RzStatusBar1->addWidget(shell.RzStatusPane1, 1);
    shell.RzStatusBar1->addPermanentWidget(shell.RzProgressBar1);
    shell.RzStatusBar1->addPermanentWidget(shell.RzClockStatus1);
    setStatusBar(shell.RzStatusBar1);

    m_sdlgSaveTavDat.filter = saving::tableFilter;
    m_sdlgSaveTavDat.defaultExt = QStringLiteral(".xls");
    m_sdlgSaveTavDat.fileName = QStringLiteral("TavDat_");
    m_sdlgSaveTavDat.memoryKey = dialogKey::measureSave;
}

namespace {
/// A page fills the tab kept for it; in a tab already shown it shows at once.
template <typename TPage>
TPage *fillTab(QWidget *tab, TPage *page)
{
    tab->layout()->addWidget(page);
    if (tab->isVisible())
        page->show();
    return page;
}
} // namespace

void TFormMainLoritS_D7::CreateWorkPages()
{
    // Made in their tabs, so that they are laid out in the window's font.
    readerPage = fillTab(shell.TabShReader, new TReaderPage(*this, *line, shell.TabShReader));
    resultPage = fillTab(shell.TabShResult, new TResultPage(*this, *line, shell.TabShResult));
    connect(resultPage, &TResultPage::noticeShown, this, [this] { readerPage->btnReadOP->setEnabled(true); });
    // The dialogs start where they were left in the last run, while that folder exists.
    readerPage->odlgOpenFileToExcel.memoryKey = dialogKey::measureOpen;
    readerPage->odlgOpenFileToExcel.initialDir = m_settings->dialogFolder(dialogKey::measureOpen, m_handOverFolder);
    // The recorder listens to the pages whose runs are kept (the analysis page once it
    // is made); "Архив" reads what it kept, "Контроли" the controls across runs. The
    // archive itself is opened at its first use.
    runRecorder = new TRunRecorder(*this, *line, this);
    runRecorder->watch(*readerPage, *resultPage);
    archivePage = fillTab(shell.TabShArchive, new TArchivePage(*this, *runRecorder, shell.TabShArchive));
    controlsPage = fillTab(shell.TabShControls, new TControlsPage(*this, runRecorder->controlHistory(), shell.TabShControls));
    connect(runRecorder, &TRunRecorder::runsChanged, controlsPage, &TControlsPage::Reload); // a point more
}

void TFormMainLoritS_D7::OfferLayoutsFrom(const QString &folder)
{
    m_layoutsFolder = folder;
    if (analysisPage)
        analysisPage->offerLayoutsFrom(folder);
}

void TFormMainLoritS_D7::CreateAnalysisPage()
{
    if (analysisPage)
        return;
    analysisPage = fillTab(shell.TabShAnalysis, new TAnalysisPage(*this, *readerPage, shell.TabShAnalysis));
    if (!m_layoutsFolder.isEmpty())
        analysisPage->offerLayoutsFrom(m_layoutsFolder);
    runRecorder->watch(*analysisPage);
    // The analysis lists the Westgard rules its run breaks against the runs before it.
    analysisPage->setControlJudge([this] { return westgard::runLines(runRecorder->JudgeControls(*analysisPage)); });
}

void TFormMainLoritS_D7::CreateStartPage()
{
    auto *pageLayout = new QVBoxLayout(shell.TabSheet1);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    shell.RzPanel2 = new TShadowPanel(shell.TabSheet1);
    pageLayout->addWidget(shell.RzPanel2);

    QPalette light = shell.RzPanel2->palette();
    light.setColor(QPalette::WindowText, QColor(0xf4, 0xf4, 0xf4));
    shell.RzPanel2->setPalette(light);

    auto *layout = new QVBoxLayout(shell.RzPanel2);
    layout->setContentsMargins(8, 4, 8 + TShadowPanel::shadowDepth, 2);
    layout->setSpacing(TShadowPanel::shadowDepth + 2);

    auto *top = new QHBoxLayout;
    auto *title = panelText(QStringLiteral("   ЛОРИТ - сервис"), shell.RzPanel2, Qt::AlignLeft | Qt::AlignTop);
    QFont titleFont = fontScale::scaled(title->font(), 19.0 / 11);
    titleFont.setBold(true);
    title->setFont(titleFont);
    top->addWidget(title);
    top->addStretch();
    top->addWidget(panelText(QStringLiteral("(версия: 25.12.2011)"), shell.RzPanel2, Qt::AlignRight | Qt::AlignTop));
    layout->addLayout(top);

    shell.RzPanel3 = innerPanel(shell.RzPanel2);
    auto *descLayout = new QVBoxLayout(shell.RzPanel3);
    descLayout->setContentsMargins(4, 2, 4, 2);
    descLayout->addWidget(panelText(QStringLiteral("Программа обеспечивает совместную работу анализатора\n"
                                                   "иммуноферментных реакций (приборов версии ТАВЕЛОН-2006\n"
                                                   "и более поздних) с персональным компьютером."),
                                    shell.RzPanel3));
    layout->addWidget(shell.RzPanel3);

    auto *middle = new QHBoxLayout;
    middle->setSpacing(TShadowPanel::shadowDepth + 2);
    shell.RzPanel4 = innerPanel(shell.RzPanel2);
    auto *linksLayout = new QVBoxLayout(shell.RzPanel4);
    linksLayout->setContentsMargins(3, 3, 3, 3);
    linksLayout->setSpacing(2);
    linksLayout->addWidget(panelText(QStringLiteral("С помощью этй программы\nВы можете:"), shell.RzPanel4));
    const auto link = [this](const QString &text) {
        auto *label = new TLinkLabel(text, shell.RzPanel4);
        label->setTextColor(palette().color(QPalette::Light));
        return label;
    };
    shell.lbLoadPOInTav = link(QStringLiteral(" - Перепрограммировать прибор новой\n      программой управления."));
    shell.lbLoadBDTS = link(QStringLiteral(" - Записать в прибор новую базу данных\n      тест-систем."));
    shell.lbReader = link(QStringLiteral(" - Считать с прибора таблицу измеренных\n      оптических плотностей."));
    shell.lbProtokol = link(QStringLiteral(" - Считать с прибора протокол результатов\n      измерений."));
    for (TLinkLabel *label : {shell.lbLoadPOInTav, shell.lbLoadBDTS, shell.lbReader, shell.lbProtokol})
        linksLayout->addWidget(label);
    middle->addWidget(shell.RzPanel4, 1);

    shell.RzPanel5 = innerPanel(shell.RzPanel2);
    shell.RzPanel5->setFont(fontScale::scaled(shell.RzPanel5->font(), 10.0 / 11));
    auto *reqLayout = new QVBoxLayout(shell.RzPanel5);
    reqLayout->setContentsMargins(3, 3, 3, 3);
    reqLayout->setSpacing(0);
    for (const QString &line : {QStringLiteral("Технические требования:"), QStringLiteral("IBM совместимый"),
                                QStringLiteral("персональный компьютер."), QStringLiteral("Windows 98,2000,NT,XP."),
                                QStringLiteral("(Рекомендуемая скорость обмена"),
                                QStringLiteral("порта связи - 115200бод)")})
        reqLayout->addWidget(panelText(line, shell.RzPanel5));
    reqLayout->addStretch();
    // The requirements take only the room their lines need; the links get the rest.
    shell.RzPanel5->setFixedWidth(shell.RzPanel5->sizeHint().width());
    middle->addWidget(shell.RzPanel5, 0);
    layout->addLayout(middle, 1);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(panelText(QStringLiteral("( Для приборов типа: \n  ТАВЕЛОН <дата>v2008 )"), shell.RzPanel2,
                                Qt::AlignLeft | Qt::AlignBottom));
    bottom->addStretch();
    auto *device = panelText(QStringLiteral("ТАВЕЛОН   "), shell.RzPanel2, Qt::AlignRight | Qt::AlignBottom);
    device->setFont(titleFont);
    bottom->addWidget(device);
    layout->addLayout(bottom);

    for (QWidget *inner : {static_cast<QWidget *>(shell.RzPanel3), static_cast<QWidget *>(shell.RzPanel4),
                           static_cast<QWidget *>(shell.RzPanel5)})
        shell.RzPanel2->addShadowed(inner);
}
