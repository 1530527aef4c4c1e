// The console window's widgets: title band, status panel, the four pages, the tray icon and the
// timers. Behaviour lives in GX_Main.cpp.
#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QMenu>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QSystemTrayIcon>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>

#include "console/Artwork.h"
#include "console/ConsoleTexts.h"
#include "console/GX_Main.h"
#include "console/HelpPages.h"
#include "console/HttpsPanel.h"
#include "console/SidePages.h"
#include "console/Widgets.h"

namespace gx {

namespace {

constexpr int kWindowWidth = 594;
constexpr int kWindowHeight = 535;
constexpr int kHistoryRowHeight = 21;
const QColor kBandColour(0x5d, 0xad, 0xe2);
const QColor kLinkColour(0x15, 0x65, 0xc0);

QString Tr(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// Draws only the line under each row: the history grid has horizontal lines, no vertical ones.
class RowLineDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(QColor(0xd0, 0xd7, 0xde));
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->restore();
    }
};

QLabel* Heading(const char* text, QWidget* parent) {
    auto* heading = new QLabel(Tr(text), parent);
    QFont font = heading->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.15);
    heading->setFont(font);
    return heading;
}

QFrame* Rule(QWidget* parent) {
    auto* rule = new QFrame(parent);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    return rule;
}

LinkLabel* PictureLink(const char* objectName, const char* artwork, QSize size, QWidget* parent) {
    auto* picture = new LinkLabel(parent);
    picture->setObjectName(QLatin1String(objectName));
    picture->setPixmap(ArtworkPixmap(artwork, size));
    picture->setFixedSize(size);
    return picture;
}

LinkLabel* TextLink(const char* objectName, const char* text, bool bold, QWidget* parent) {
    auto* link = new LinkLabel(parent);
    link->setObjectName(QLatin1String(objectName));
    link->setText(Tr(text));
    QFont font = link->font();
    font.setUnderline(true);
    font.setBold(bold);
    link->setFont(font);
    QPalette palette = link->palette();
    palette.setColor(QPalette::WindowText, kLinkColour);
    link->setPalette(palette);
    return link;
}

}  // namespace

void TFormGardalix::BuildWindow() {
    setObjectName(QStringLiteral("FormGardalix"));
    setWindowTitle(Tr(text::kWindowTitle));
    setWindowIcon(ProgramIcon());
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setFixedSize(kWindowWidth, kWindowHeight);
    setStyleSheet(
        QStringLiteral("#FormGardalix { background: #eef3f8; }"
                       "#StatusPanel, #ShieldPanel { background: white;"
                       " border: 1px solid #c9d6e3; border-radius: 8px; }"));
    ImageIconStart = QIcon(ArtworkPixmap("icon_start.svg", QSize(16, 16)));
    ImageIconStop = QIcon(ArtworkPixmap("icon_stop.svg", QSize(16, 16)));

    QWidget* band = BuildTitleBand();
    band->setGeometry(1, 1, 592, 57);
    QWidget* status = BuildStatusPanel();
    status->setGeometry(10, 66, 574, 56);

    xpPageControl1 = new SidePageControl(this);
    xpPageControl1->setObjectName(QStringLiteral("xpPageControl1"));
    xpPageControl1->setGeometry(10, 130, 574, 395);
    xpPageControl1->AddPage(BuildFiltragePage(), Tr(text::kTabFiltrage),
                            ArtworkPixmap("tab_filtrage.svg", QSize(64, 48)));
    xpPageControl1->AddPage(BuildEnfantsPage(), Tr(text::kTabEnfants),
                            ArtworkPixmap("tab_enfants.svg", QSize(64, 48)));
    xpTabSheet3 = BuildHistoriquePage();
    xpPageControl1->AddPage(xpTabSheet3, Tr(text::kTabHistorique),
                            ArtworkPixmap("tab_historique.svg", QSize(64, 48)));
    xpPageControl1->AddPage(BuildAidePage(), Tr(text::kTabAide),
                            ArtworkPixmap("tab_aide.svg", QSize(64, 48)));
    xpTabSheet3->installEventFilter(this);

    BuildTray();
    BuildTimers();
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, [this] { FormHelp(kHelpContextGuide); });
}

QWidget* TFormGardalix::BuildTitleBand() {
    auto* band = new DragLabel(this);
    band->setObjectName(QStringLiteral("Shape4"));
    band->setAutoFillBackground(true);
    QPalette palette = band->palette();
    palette.setColor(QPalette::Window, kBandColour);
    band->setPalette(palette);

    auto* icon = new QLabel(band);
    icon->setPixmap(ArtworkPixmap("gardalix.svg", QSize(32, 32)));
    icon->setGeometry(12, 12, 32, 32);
    icon->setAttribute(Qt::WA_TransparentForMouseEvents);

    auto* title = new QLabel(Tr(text::kBandTitle), band);
    title->setObjectName(QStringLiteral("LabelTitre"));
    title->setGeometry(54, 0, 480, 57);
    QFont font = title->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.3);
    title->setFont(font);
    palette.setColor(QPalette::WindowText, Qt::white);
    title->setPalette(palette);
    title->setAttribute(Qt::WA_TransparentForMouseEvents);

    LinkLabel* hide = PictureLink("ImageReduitFenetre", "hide.svg", QSize(24, 24), band);
    hide->move(592 - 24 - 12, 16);
    hide->setToolTip(Tr(text::kHideHint));
    connect(hide, &LinkLabel::Clicked, this, &QWidget::close);
    return band;
}

QWidget* TFormGardalix::BuildStatusPanel() {
    auto* panel = new QFrame(this);
    panel->setObjectName(QStringLiteral("StatusPanel"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(14, 6, 10, 6);

    StatusLabel = new QLabel(Tr(text::kStatusDesign), panel);
    StatusLabel->setObjectName(QStringLiteral("StatusLabel"));
    QFont font = StatusLabel->font();
    font.setBold(true);
    StatusLabel->setFont(font);
    StatusLabel->setWordWrap(true);
    QPalette palette = StatusLabel->palette();
    palette.setColor(QPalette::WindowText, QColor(0x0b, 0x3d, 0x75));
    StatusLabel->setPalette(palette);

    buttonActiveDesactive = new QPushButton(Tr(text::kButtonOff), panel);
    buttonActiveDesactive->setObjectName(QStringLiteral("buttonActiveDesactive"));
    buttonActiveDesactive->setIcon(ImageIconStop);
    buttonActiveDesactive->setProperty("glyph", QStringLiteral("stop"));
    buttonActiveDesactive->setMinimumWidth(120);
    connect(buttonActiveDesactive, &QPushButton::clicked, this,
            &TFormGardalix::buttonActiveDesactiveClick);

    row->addWidget(StatusLabel, 1);
    row->addWidget(buttonActiveDesactive);
    return panel;
}

QWidget* TFormGardalix::BuildFiltragePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("xpTabSheet1"));
    auto* column = new QVBoxLayout(page);

    auto* panel = new QFrame(page);
    panel->setObjectName(QStringLiteral("ShieldPanel"));
    auto* panelColumn = new QVBoxLayout(panel);
    panelColumn->addWidget(Heading(text::kShieldPanelTitle, panel));
    auto* memo = new QPlainTextEdit(Tr(text::kFiltrageText), panel);
    memo->setObjectName(QStringLiteral("MemoFiltrage"));
    memo->setReadOnly(true);
    memo->setFrameShape(QFrame::NoFrame);
    memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    panelColumn->addWidget(memo);
    LabelListes = new QLabel(panel);
    LabelListes->setObjectName(QStringLiteral("LabelListes"));
    LabelListes->setWordWrap(true);
    panelColumn->addWidget(LabelListes);
    panelColumn->addWidget(new HttpsPanel(services_, panel));
    column->addWidget(panel, 1);

    column->addWidget(Heading(text::kReportingHeading, page));
    column->addWidget(Rule(page));
    auto* entries = new QGridLayout;
    struct Entry {
        const char *picture, *artwork, *link, *linkText, *description;
        void (TFormGardalix::*handler)();
    };
    const Entry list[] = {
        {"ImageSignalerSite", "report.svg", "LabelSignalerSite", text::kReportLink,
         text::kReportText, &TFormGardalix::ImageSignalerSiteClick},
        {"ImageDemanderAnalyse", "analyse.svg", "LabelDemanderAnalyse", text::kAnalyseLink,
         text::kAnalyseText, &TFormGardalix::ImageDemanderAnalyseClick},
    };
    int row = 0;
    for (const Entry& entry : list) {
        LinkLabel* picture = PictureLink(entry.picture, entry.artwork, QSize(48, 48), page);
        LinkLabel* link = TextLink(entry.link, entry.linkText, true, page);
        connect(picture, &LinkLabel::Clicked, this, entry.handler);
        connect(link, &LinkLabel::Clicked, this, entry.handler);
        entries->addWidget(picture, row, 0, 2, 1);
        entries->addWidget(link, row, 1);
        entries->addWidget(new QLabel(Tr(entry.description), page), row + 1, 1);
        row += 2;
    }
    entries->setColumnStretch(1, 1);
    column->addLayout(entries);
    return page;
}

QWidget* TFormGardalix::BuildEnfantsPage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("xpTabSheet2"));
    auto* column = new QVBoxLayout(page);
    column->addWidget(Heading(text::kChildHeading, page));
    column->addWidget(Rule(page));

    checkBlockPorn = new QCheckBox(Tr(text::kBlockAdult), page);
    checkBlockPorn->setObjectName(QStringLiteral("checkBlockPorn"));
    column->addWidget(checkBlockPorn);

    auto* buttons = new QHBoxLayout;
    auto* apply = new QPushButton(Tr(text::kApply), page);
    apply->setObjectName(QStringLiteral("buttonAppliquerConfiguration"));
    apply->setToolTip(Tr(text::kApplyHint));
    connect(apply, &QPushButton::clicked, this, &TFormGardalix::buttonAppliquerConfigurationClick);
    auto* defaults = new QPushButton(Tr(text::kDefault), page);
    defaults->setObjectName(QStringLiteral("buttonConfigurationDefaut"));
    defaults->setToolTip(Tr(text::kDefaultHint));
    connect(defaults, &QPushButton::clicked, this, &TFormGardalix::buttonConfigurationDefautClick);
    buttons->addWidget(apply);
    buttons->addWidget(defaults);
    buttons->addStretch(1);
    column->addLayout(buttons);

    column->addSpacing(16);
    column->addWidget(Heading(text::kParentalHeading, page));
    column->addWidget(Rule(page));
    LabelCodeParental = new QLabel(Tr(text::kParentalNone), page);
    LabelCodeParental->setObjectName(QStringLiteral("LabelCodeParental"));
    LabelCodeParental->setWordWrap(true);
    column->addWidget(LabelCodeParental);
    auto* codeButtons = new QHBoxLayout;
    buttonDefinirCode = new QPushButton(Tr(text::kParentalDefine), page);
    buttonDefinirCode->setObjectName(QStringLiteral("buttonDefinirCode"));
    connect(buttonDefinirCode, &QPushButton::clicked, this, &TFormGardalix::buttonDefinirCodeClick);
    buttonSupprimerCode = new QPushButton(Tr(text::kParentalRemove), page);
    buttonSupprimerCode->setObjectName(QStringLiteral("buttonSupprimerCode"));
    buttonSupprimerCode->setEnabled(false);
    connect(buttonSupprimerCode, &QPushButton::clicked, this,
            &TFormGardalix::buttonSupprimerCodeClick);
    codeButtons->addWidget(buttonDefinirCode);
    codeButtons->addWidget(buttonSupprimerCode);
    codeButtons->addStretch(1);
    column->addLayout(codeButtons);
    column->addStretch(1);
    return page;
}

QWidget* TFormGardalix::BuildHistoriquePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("xpTabSheet3"));
    auto* column = new QVBoxLayout(page);
    column->addWidget(Heading(text::kHistoryHeading, page));

    TabHistoriqueAlertes = new QTableWidget(0, 3, page);
    QTableWidget* grid = TabHistoriqueAlertes;
    grid->setObjectName(QStringLiteral("TabHistoriqueAlertes"));
    grid->setColumnWidth(0, 120);
    grid->setColumnWidth(1, 230);
    grid->setColumnWidth(2, 75);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid->verticalHeader()->setDefaultSectionSize(kHistoryRowHeight);
    grid->horizontalHeader()->setFixedHeight(kHistoryRowHeight);
    grid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    QFont bold = grid->horizontalHeader()->font();
    bold.setBold(true);
    grid->horizontalHeader()->setFont(bold);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    grid->setShowGrid(false);
    grid->setItemDelegate(new RowLineDelegate(grid));
    QFont cells = grid->font();
    cells.setPointSizeF(cells.pointSizeF() * 0.85);
    grid->setFont(cells);
    column->addWidget(grid, 1);
    connect(grid, &QTableWidget::itemSelectionChanged, this,
            &TFormGardalix::TabHistoriqueAlertesSelectionChanged);

    // The program of the selected row: a path may be long, so the line never widens the page.
    LabelProgramme = new QLabel(page);
    LabelProgramme->setObjectName(QStringLiteral("LabelProgramme"));
    LabelProgramme->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    LabelProgramme->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelProgramme->setMinimumHeight(LabelProgramme->fontMetrics().height());
    column->addWidget(LabelProgramme);
    return page;
}

QWidget* TFormGardalix::BuildAidePage() {
    auto* page = new QWidget;
    page->setObjectName(QStringLiteral("xpTabSheet4"));
    auto* column = new QVBoxLayout(page);
    column->addWidget(Heading(text::kHelpHeading, page));
    column->addWidget(Rule(page));

    struct Link {
        const char *picture, *artwork, *label, *text;
        void (TFormGardalix::*handler)();
    };
    const auto addLink = [this, page, column](const Link& link) {
        auto* row = new QHBoxLayout;
        LinkLabel* picture = PictureLink(link.picture, link.artwork, QSize(16, 16), page);
        LinkLabel* label = TextLink(link.label, link.text, false, page);
        connect(picture, &LinkLabel::Clicked, this, link.handler);
        connect(label, &LinkLabel::Clicked, this, link.handler);
        row->addWidget(picture);
        row->addWidget(label);
        row->addStretch(1);
        column->addLayout(row);
    };
    addLink({"ImageAPropos", "link_about.svg", "LabelAPropos", text::kAboutLink,
             &TFormGardalix::mnuTrayAboutClick});
    addLink({"ImageDecouvrir", "link_help.svg", "Link_Decouvrir", text::kHelpLink,
             &TFormGardalix::Tray_HelpClick});
    addLink({"ImageTestGardalix", "link_test.svg", "LabelTestGardalix", text::kTestLink,
             &TFormGardalix::LabelTestGardalixClick});
    column->addSpacing(16);
    column->addWidget(Heading(text::kUpdateHeading, page));
    column->addWidget(Rule(page));
    addLink({"ImageMiseAJour", "link_update.svg", "Label_MiseAJour", text::kUpdateLink,
             &TFormGardalix::Label_MiseAJourClick});
    column->addStretch(1);
    return page;
}

void TFormGardalix::BuildTray() {
    Popup_Tray = new QMenu(this);
    Popup_Tray->setObjectName(QStringLiteral("Popup_Tray"));
    const auto addItem = [this](const char* name, const char* caption,
                                void (TFormGardalix::*handler)()) {
        QAction* item = Popup_Tray->addAction(Tr(caption));
        item->setObjectName(QLatin1String(name));
        connect(item, &QAction::triggered, this, handler);
        return item;
    };
    addItem("Tray_Open", text::kTrayOpen, &TFormGardalix::Tray_OpenClick);
    Popup_Tray->addSeparator();
    Dsactiverlefirewall1 =
        addItem("Dsactiverlefirewall1", text::kTrayOff, &TFormGardalix::Dsactiverlefirewall1Click);
    addItem("Tray_Close", text::kTrayClose, &TFormGardalix::Tray_CloseClick);
    Popup_Tray->addSeparator();
    addItem("Tray_Help", text::kTrayHelp, &TFormGardalix::Tray_HelpClick);
    Popup_Tray->addSeparator();
    addItem("mnuTrayAbout", text::kTrayAbout, &TFormGardalix::mnuTrayAboutClick);

    CoolTray2 = new QSystemTrayIcon(ProgramIcon(), this);
    CoolTray2->setObjectName(QStringLiteral("CoolTray2"));
    CoolTray2->setToolTip(Tr(text::kTrayHint));
    CoolTray2->setContextMenu(Popup_Tray);
    // Many Linux desktops deliver a single click on a tray icon and never a double click.
    connect(CoolTray2, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::DoubleClick || reason == QSystemTrayIcon::Trigger) {
                    CoolTray2DblClick();
                }
            });
}

void TFormGardalix::BuildTimers() {
    const auto makeTimer = [this](const char* name, int interval, void (TFormGardalix::*tick)()) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QLatin1String(name));
        timer->setInterval(interval);
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, tick);
        return timer;
    };
    TimerStartDriver =
        makeTimer("TimerStartDriver", 1000, &TFormGardalix::TimerStartDriverTimerTick);
    TimerQuit = makeTimer("TimerQuit", 500, &TFormGardalix::TimerQuitTimerTick);
    TimerCheckMiseAjour =
        makeTimer("TimerCheckMiseAjour", 30000, &TFormGardalix::TimerCheckMiseAjourTimerTick);
    TimerUpDateEventLog =
        makeTimer("TimerUpDateEventLog", 5000, &TFormGardalix::TimerUpDateEventLogTimerTick);
}

}  // namespace gx
