// The shell's layout: menus, group bar, pages, status bar, and the texts of the start page.

#include "app/MainLoritS_TreeTS.h"
#include "app/StatusPane.h"
#include "common/FontScale.h"
#include "common/Settings.h"
#include "common/StyledWidgets.h"
#include "link/LinkControl.h"
#include "measure/ReaderPage.h"
#include "measure/ResultPage.h"
#include "analysis/page/AnalysisPage.h"
#include "measure/SaveChoices.h"

#include <QAction>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenuBar>
#include <QProgressBar>
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
    Action1 = new QAction(QStringLiteral("&О программе"), this);
    ActionExit = new QAction(QStringLiteral("&Выход"), this);
    ActionTrafficLog = new QAction(QStringLiteral("&Журнал обмена"), this);
    ActionSoftTavelon = new QAction(QStringLiteral("&Тавелон"), this);
    ActionBDTS = new QAction(QStringLiteral("&БД тест-систем"), this);
    ActionTav2006 = new QAction(QStringLiteral("&Оптические плотности"), this);
    ActionFile = new QAction(QStringLiteral("&Результаты"), this);
    ActionAnalysis = new QAction(QStringLiteral("&Анализ планшета"), this);

    ActionMainMenuBar1 = new QMenuBar(this);
    ActionMainMenuBar1->setFixedHeight(fontScale::px(this, menuBarHeight));
    QMenu *userMenu = ActionMainMenuBar1->addMenu(QStringLiteral("&Пользователю"));
    userMenu->addAction(Action1);
    userMenu->addAction(ActionTrafficLog);
    userMenu->addSeparator();
    userMenu->addAction(ActionExit);
    QMenu *progMenu = ActionMainMenuBar1->addMenu(QStringLiteral("Про&граммирование"));
    progMenu->addAction(ActionSoftTavelon);
    progMenu->addAction(ActionBDTS);
    QMenu *readerMenu = ActionMainMenuBar1->addMenu(QStringLiteral("&Ридер"));
    readerMenu->addAction(ActionTav2006);
    readerMenu->addAction(ActionFile);
    readerMenu->addAction(ActionAnalysis);
    setMenuBar(ActionMainMenuBar1);

    auto *central = new QWidget(this);
    auto *centralLayout = new QVBoxLayout(central);
    centralLayout->setContentsMargins(0, 0, 0, 0);
    centralLayout->setSpacing(0);

    SCSplitter1 = new QSplitter(Qt::Horizontal, central);
    SCSplitter1->setHandleWidth(splitterWidth);
    SCSplitter1->setChildrenCollapsible(false);

    RzGroupBar1 = new QWidget(SCSplitter1);
    auto *barLayout = new QVBoxLayout(RzGroupBar1);
    barLayout->setContentsMargins(2, 2, 2, 2);
    barLayout->setSpacing(4);
    barLayout->addWidget(groupBarSection(QStringLiteral("Пользователю"), {Action1, ActionExit}, RzGroupBar1));
    barLayout->addWidget(groupBarSection(QStringLiteral("Программирование"), {ActionSoftTavelon, ActionBDTS}, RzGroupBar1));
    barLayout->addWidget(groupBarSection(QStringLiteral("Ридер"), {ActionTav2006, ActionFile, ActionAnalysis}, RzGroupBar1));
    barLayout->addStretch();
    RzGroupBar1->setMinimumWidth(fontScale::px(this, 60));

    RzPageControl1 = new QTabWidget(SCSplitter1);
    RzPageControl1->setTabPosition(QTabWidget::South);
    TabSheet1 = new QWidget;
    TabShSoftTav = new QWidget;
    TabShBDTS = new QWidget;
    // Made in the page control, so that they are laid out in the window's font.
    TabShReader = readerPage = new TReaderPage(*this, *link, RzPageControl1);
    TabShResult = resultPage = new TResultPage(*this, *link, RzPageControl1);
    RzPageControl1->addTab(TabSheet1, QStringLiteral("О программе"));
    RzPageControl1->addTab(TabShSoftTav, QStringLiteral("ПО прибора"));
    RzPageControl1->addTab(TabShBDTS, QStringLiteral("БД ТС"));
    RzPageControl1->addTab(TabShReader, QStringLiteral("Ридер ОП"));
    RzPageControl1->addTab(TabShResult, QStringLiteral("Результаты"));
    RzPageControl1->addTab(analysisPage = new TAnalysisPage(*this, *readerPage, RzPageControl1), QStringLiteral("Анализ"));
    for (int i = 1; i < RzPageControl1->count(); ++i)
        RzPageControl1->tabBar()->setTabVisible(i, false);
    for (QWidget *page : {TabShSoftTav, TabShBDTS})
        new QVBoxLayout(page); // the frames fill their pages when they are created

    SCSplitter1->addWidget(RzGroupBar1);
    SCSplitter1->addWidget(RzPageControl1);
    const int barWidth = fontScale::px(this, groupBarWidth);
    SCSplitter1->setSizes({barWidth, fontScale::px(this, clientWidth) - barWidth - splitterWidth});
    SCSplitter1->setStretchFactor(1, 1);
    centralLayout->addWidget(SCSplitter1, 1);

    CreateStartPage();
    centralLayout->addWidget(link->RzGroupBox1);
    link->FitToFont();
    setCentralWidget(central);

    RzStatusBar1 = new QStatusBar(this);
    // The drawn height holds one line; a long message takes the lines it needs.
    RzStatusBar1->setMinimumHeight(fontScale::px(this, statusBarHeight));
    RzStatusBar1->setSizeGripEnabled(false);
    RzStatusPane1 = new TStatusPane(RzStatusBar1);
    RzProgressBar1 = new QProgressBar(RzStatusBar1);
    RzProgressBar1->setRange(0, 100);
    RzProgressBar1->setValue(0);
    RzProgressBar1->setFixedWidth(fontScale::px(this, statusPaneWidth));
    RzProgressBar1->hide(); // until a job sets it
    // The bar and the button keep to the drawn line: only a long message makes the
    // status bar taller, and only by the room the pages can spare.
    RzProgressBar1->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    RzStatusPane1->historyButton()->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    RzClockStatus1 = new QLabel(RzStatusBar1);
    RzClockStatus1->setFixedWidth(fontScale::px(this, statusPaneWidth));
    RzClockStatus1->setAlignment(Qt::AlignCenter);
    RzStatusPane1->setYieldingPane(RzClockStatus1);
    RzStatusBar1->addWidget(RzStatusPane1->historyButton());
    RzStatusBar1->addWidget(RzStatusPane1, 1);
    RzStatusBar1->addPermanentWidget(RzProgressBar1);
    RzStatusBar1->addPermanentWidget(RzClockStatus1);
    setStatusBar(RzStatusBar1);

    m_sdlgSaveTavDat.filter = saving::tableFilter;
    m_sdlgSaveTavDat.defaultExt = QStringLiteral(".xls");
    m_sdlgSaveTavDat.fileName = QStringLiteral("TavDat_");
    m_sdlgSaveTavDat.memoryKey = dialogKey::measureSave;
}

void TFormMainLoritS_D7::CreateStartPage()
{
    auto *pageLayout = new QVBoxLayout(TabSheet1);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    RzPanel2 = new TShadowPanel(TabSheet1);
    pageLayout->addWidget(RzPanel2);

    QPalette light = RzPanel2->palette();
    light.setColor(QPalette::WindowText, QColor(0xf4, 0xf4, 0xf4));
    RzPanel2->setPalette(light);

    auto *layout = new QVBoxLayout(RzPanel2);
    layout->setContentsMargins(8, 4, 8 + TShadowPanel::shadowDepth, 2);
    layout->setSpacing(TShadowPanel::shadowDepth + 2);

    auto *top = new QHBoxLayout;
    auto *title = panelText(QStringLiteral("   ЛОРИТ - сервис"), RzPanel2, Qt::AlignLeft | Qt::AlignTop);
    QFont titleFont = fontScale::scaled(title->font(), 19.0 / 11);
    titleFont.setBold(true);
    title->setFont(titleFont);
    top->addWidget(title);
    top->addStretch();
    top->addWidget(panelText(QStringLiteral("(версия: 25.12.2011)"), RzPanel2, Qt::AlignRight | Qt::AlignTop));
    layout->addLayout(top);

    RzPanel3 = innerPanel(RzPanel2);
    auto *descLayout = new QVBoxLayout(RzPanel3);
    descLayout->setContentsMargins(4, 2, 4, 2);
    descLayout->addWidget(panelText(QStringLiteral("Программа обеспечивает совместную работу анализатора\n"
                                                   "иммуноферментных реакций (приборов версии ТАВЕЛОН-2006\n"
                                                   "и более поздних) с персональным компьютером."),
                                    RzPanel3));
    layout->addWidget(RzPanel3);

    auto *middle = new QHBoxLayout;
    middle->setSpacing(TShadowPanel::shadowDepth + 2);
    RzPanel4 = innerPanel(RzPanel2);
    auto *linksLayout = new QVBoxLayout(RzPanel4);
    linksLayout->setContentsMargins(3, 3, 3, 3);
    linksLayout->setSpacing(2);
    linksLayout->addWidget(panelText(QStringLiteral("С помощью этй программы\nВы можете:"), RzPanel4));
    const auto link = [this](const QString &text) {
        auto *label = new TLinkLabel(text, RzPanel4);
        label->setTextColor(palette().color(QPalette::Light));
        return label;
    };
    lbLoadPOInTav = link(QStringLiteral(" - Перепрограммировать прибор новой\n      программой управления."));
    lbLoadBDTS = link(QStringLiteral(" - Записать в прибор новую базу данных\n      тест-систем."));
    lbReader = link(QStringLiteral(" - Считать с прибора таблицу измеренных\n      оптических плотностей."));
    lbProtokol = link(QStringLiteral(" - Считать с прибора протокол результатов\n      измерений."));
    for (TLinkLabel *label : {lbLoadPOInTav, lbLoadBDTS, lbReader, lbProtokol})
        linksLayout->addWidget(label);
    middle->addWidget(RzPanel4, 1);

    RzPanel5 = innerPanel(RzPanel2);
    RzPanel5->setFont(fontScale::scaled(RzPanel5->font(), 10.0 / 11));
    auto *reqLayout = new QVBoxLayout(RzPanel5);
    reqLayout->setContentsMargins(3, 3, 3, 3);
    reqLayout->setSpacing(0);
    for (const QString &line : {QStringLiteral("Технические требования:"), QStringLiteral("IBM совместимый"),
                                QStringLiteral("персональный компьютер."), QStringLiteral("Windows 98,2000,NT,XP."),
                                QStringLiteral("(Рекомендуемая скорость обмена"),
                                QStringLiteral("порта связи - 115200бод)")})
        reqLayout->addWidget(panelText(line, RzPanel5));
    reqLayout->addStretch();
    // The requirements take only the room their lines need; the links get the rest.
    RzPanel5->setFixedWidth(RzPanel5->sizeHint().width());
    middle->addWidget(RzPanel5, 0);
    layout->addLayout(middle, 1);

    auto *bottom = new QHBoxLayout;
    bottom->addWidget(panelText(QStringLiteral("( Для приборов типа: \n  ТАВЕЛОН <дата>v2008 )"), RzPanel2,
                                Qt::AlignLeft | Qt::AlignBottom));
    bottom->addStretch();
    auto *device = panelText(QStringLiteral("ТАВЕЛОН   "), RzPanel2, Qt::AlignRight | Qt::AlignBottom);
    device->setFont(titleFont);
    bottom->addWidget(device);
    layout->addLayout(bottom);

    for (QWidget *inner : {static_cast<QWidget *>(RzPanel3), static_cast<QWidget *>(RzPanel4),
                           static_cast<QWidget *>(RzPanel5)})
        RzPanel2->addShadowed(inner);
}
