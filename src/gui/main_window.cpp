#include "main_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QShowEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QSpinBox>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>
#include <QUrl>
#include <QValidator>
#include <QVBoxLayout>

#include "about_dialog.h"
#include "window/captions.h"
#include "app_icon.h"
#include "control_tips.h"
#include "handbook_window.h"
#include "recording_indicator.h"
#include "sensor_list_widget.h"
#include "settings/setting_values.h"
#include "window_memory.h"

namespace lumora {
namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

// Field widths in characters of the average glyph, so the layout follows the
// font and the scale.
int Chars(const QWidget* w, int n) { return w->fontMetrics().averageCharWidth() * n + 10; }

// "File Name" does not take a character that would lead the recordings out
// of Save DIR.
class FilePrefixValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return IsSafeFilePrefix(input.toStdString()) ? Acceptable : Invalid;
    }
};

}  // namespace

MainWindow::MainWindow(const QString& settingsPath, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint),
      lang_(UiLanguage()) {
    setObjectName("mainWindow");
    setWindowIcon(ProgramIcon());
    setWindowTitle(QStringLiteral("lumora"));
    setSizeGripEnabled(false);
    dlg_ = std::make_unique<CLumoraDlg>(*this, settingsPath.toStdString());
    BuildControls();
    BuildTray();
    memory_ = new WindowMemory(*this, dlg_->Settings());
    if (QAction* handbook = Action(ID_HELP_HANDBOOK)) handbook->setEnabled(true);
    SetCommandHandler(ID_HELP_HANDBOOK, [this] { OpenHandbook(); });
}

MainWindow::~MainWindow() {
    // The engine's workers post to this window: stop them while it still exists.
    dlg_.reset();
}

void MainWindow::Initialise() {
    if (initialised_) return;
    initialised_ = true;
    dlg_->OnInitDialog();
    memory_->RestoreViews();
}

// ---------------------------------------------------------------- building

void MainWindow::Register(int id, QWidget* w) {
    w->setObjectName(QStringLiteral("ctl%1").arg(id));
    w->setToolTip(ControlTip(id, lang_));
    controls_[id] = w;
}

QLabel* MainWindow::NewLabel(int id) {
    auto* l = new QLabel(Q(ControlLabel(id, lang_)));
    l->setObjectName(QStringLiteral("lbl%1").arg(id));
    l->setToolTip(ControlTip(id, lang_));
    return l;
}

QWidget* MainWindow::NewNumberEdit(int id, int maxLength) {
    auto* e = new QLineEdit;
    // The length limit is part of the validator rather than setMaxLength():
    // it stops typing past the limit, while a longer value loaded from the
    // settings file is still shown (and used) whole instead of being cut.
    const QString pattern = maxLength > 0 ? QStringLiteral("[0-9]{0,%1}").arg(maxLength) : QStringLiteral("[0-9]*");
    e->setValidator(new QRegularExpressionValidator(QRegularExpression(pattern), e));
    e->setFixedWidth(Chars(e, 8));
    Register(id, e);
    connect(e, &QLineEdit::textChanged, this, [this, id](const QString& t) {
        if (!settingText_) dlg_->OnEditChanged(id, t.toStdString());
    });
    return e;
}

QWidget* MainWindow::NewEdit(int id) {
    auto* e = new QLineEdit;
    Register(id, e);
    connect(e, &QLineEdit::textChanged, this, [this, id](const QString& t) {
        if (!settingText_) dlg_->OnEditChanged(id, t.toStdString());
    });
    return e;
}

QWidget* MainWindow::NewField(int id) {
    auto* l = new QLabel(Q(ControlInitialText(id)));
    l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    l->setMinimumWidth(Chars(l, 9));
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Register(id, l);
    return l;
}

QWidget* MainWindow::NewCheck(int id, bool textLeft) {
    auto* c = new QCheckBox(Q(ControlCaption(id, lang_)));
    // The view groups' boxes carry their text left of the box.
    if (textLeft) c->setLayoutDirection(Qt::RightToLeft);
    Register(id, c);
    connect(c, &QCheckBox::clicked, this, [this, id](bool checked) { dlg_->OnCheckClicked(id, checked); });
    return c;
}

QWidget* MainWindow::NewButton(int id) {
    auto* b = new QPushButton(Q(ControlCaption(id, lang_)));
    b->setAutoDefault(false);
    Register(id, b);
    connect(b, &QPushButton::clicked, this, [this, id] { dlg_->OnButtonClicked(id); });
    return b;
}

QGroupBox* MainWindow::NewGroup(Group group, const char* objectName) {
    auto* g = new QGroupBox(Q(GroupTitle(group, lang_)));
    g->setObjectName(objectName);
    return g;
}

QWidget* MainWindow::BuildDataInterface() {
    QGroupBox* g = NewGroup(Group::DataInterface, "grpDataInterface");
    auto* grid = new QGridLayout(g);
    grid->setHorizontalSpacing(6);

    auto* prot = new QComboBox;
    Register(IDC_PROTOCOL, prot);
    connect(prot, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!settingText_ && index >= 0) dlg_->OnComboSelected(IDC_PROTOCOL, index);
    });
    auto* localIp = new QComboBox;
    localIp->setMinimumWidth(Chars(localIp, 15));
    Register(IDC_LOCAL_IP, localIp);

    grid->addWidget(NewLabel(IDC_PROTOCOL), 0, 0);
    grid->addWidget(prot, 0, 1);
    grid->addWidget(NewLabel(IDC_LOCAL_IP), 0, 2);
    grid->addWidget(localIp, 0, 3);
    grid->addWidget(NewLabel(IDC_PORT), 1, 0);
    grid->addWidget(NewNumberEdit(IDC_PORT, 4), 1, 1);
    grid->addWidget(NewLabel(IDC_CMD_PORT), 1, 2);
    grid->addWidget(NewNumberEdit(IDC_CMD_PORT), 1, 3);
    grid->addWidget(NewLabel(IDC_INTERVAL), 2, 0);
    grid->addWidget(NewNumberEdit(IDC_INTERVAL), 2, 1);
    auto* checks = new QHBoxLayout;
    checks->addWidget(NewCheck(IDC_STRING_FORMAT));
    checks->addWidget(NewCheck(IDC_AUTO_OPEN));
    checks->addStretch();
    grid->addLayout(checks, 2, 2, 1, 2);

    auto* buttons = new QHBoxLayout;
    auto* open = static_cast<QPushButton*>(NewButton(IDC_OPEN_CLOSE));
    open->setText(Q(LoadString(212)));
    // The default button: Enter anywhere in the window presses it.
    open->setAutoDefault(true);
    open->setDefault(true);
    open->setMinimumWidth(Chars(open, 10));
    buttons->addWidget(open, 2);
    buttons->addWidget(NewButton(IDC_WL_MODE), 1);
    buttons->addWidget(NewButton(IDC_OS_MODE), 1);
    buttons->addWidget(NewButton(IDC_RESET_REF), 1);
    grid->addLayout(buttons, 3, 0, 1, 4);
    grid->setColumnStretch(3, 1);
    return g;
}

QWidget* MainWindow::BuildDataInformation() {
    QGroupBox* g = NewGroup(Group::DataInformation, "grpDataInformation");
    auto* grid = new QGridLayout(g);
    grid->addWidget(NewLabel(IDC_SN), 0, 0);
    grid->addWidget(NewField(IDC_SN), 0, 1);
    grid->addWidget(NewLabel(IDC_DEVICE_IP), 0, 2);
    grid->addWidget(NewEdit(IDC_DEVICE_IP), 0, 3, 1, 2);
    grid->addWidget(NewLabel(IDC_COUNTER), 1, 0);
    grid->addWidget(NewField(IDC_COUNTER), 1, 1);
    grid->addWidget(NewLabel(IDC_TIME), 1, 2);
    grid->addWidget(NewField(IDC_TIME), 1, 3);
    auto* x = static_cast<QPushButton*>(NewButton(IDC_CLEAR_COUNTER));
    x->setFixedWidth(x->fontMetrics().height() + 12);
    grid->addWidget(x, 1, 4);
    grid->addWidget(NewLabel(IDC_DAQ_FRQ), 2, 0);
    grid->addWidget(NewField(IDC_DAQ_FRQ), 2, 1);
    grid->addWidget(NewLabel(IDC_RT_FRQ), 2, 2);
    grid->addWidget(NewField(IDC_RT_FRQ), 2, 3);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);
    return g;
}

QWidget* MainWindow::BuildDataSave() {
    QGroupBox* g = NewGroup(Group::DataSave, "grpDataSave");
    auto* v = new QVBoxLayout(g);
    auto* checks = new QGridLayout;
    checks->addWidget(NewCheck(IDC_ENABLE), 0, 0);
    checks->addWidget(NewCheck(IDC_LOCAL_TIME), 0, 1);
    checks->addWidget(NewCheck(IDC_SAVE_COUNTER), 0, 2);
    checks->addWidget(NewCheck(IDC_INNER_SENSOR), 1, 0);
    checks->addWidget(NewCheck(IDC_UNMATCHED), 1, 1);
    checks->addWidget(NewCheck(IDC_ALIGN), 1, 2);
    v->addLayout(checks);

    auto* grid = new QGridLayout;
    grid->addWidget(NewLabel(IDC_ERROR_NUMBER), 0, 0);
    grid->addWidget(NewNumberEdit(IDC_ERROR_NUMBER), 0, 1);
    grid->addWidget(NewLabel(IDC_LINE_NUMBER), 0, 2);
    grid->addWidget(NewNumberEdit(IDC_LINE_NUMBER), 0, 3);
    grid->addWidget(NewLabel(IDC_SAVED_LINES), 1, 0);
    grid->addWidget(NewField(IDC_SAVED_LINES), 1, 1);
    grid->addWidget(NewLabel(IDC_SAVE_FRQ), 1, 2);
    grid->addWidget(NewField(IDC_SAVE_FRQ), 1, 3);
    grid->addWidget(NewLabel(IDC_FILE_NUMBER), 2, 0);
    grid->addWidget(NewField(IDC_FILE_NUMBER), 2, 1);
    grid->addWidget(NewLabel(IDC_FILE_NAME), 2, 2);
    QWidget* fileName = NewEdit(IDC_FILE_NAME);
    static_cast<QLineEdit*>(fileName)->setValidator(new FilePrefixValidator(fileName));
    fileName->setFixedWidth(Chars(fileName, 8));
    grid->addWidget(fileName, 2, 3);
    grid->addWidget(NewLabel(IDC_SAVE_DIR), 3, 0);
    auto* dirRow = new QHBoxLayout;
    dirRow->addWidget(NewEdit(IDC_SAVE_DIR), 1);
    auto* browse = static_cast<QPushButton*>(NewButton(IDC_BROWSE_DIR));
    browse->setFixedWidth(browse->fontMetrics().height() + 12);
    dirRow->addWidget(browse);
    grid->addLayout(dirRow, 3, 1, 1, 3);
    v->addLayout(grid);

    auto* bar = new QProgressBar;
    bar->setRange(0, 1);
    bar->setValue(0);
    bar->setTextVisible(false);
    bar->setFixedHeight(bar->fontMetrics().height() / 2 + 6);
    Register(IDC_PROGRESS_FILES, bar);
    v->addWidget(bar);
    return g;
}

QWidget* MainWindow::BuildSourceData() {
    QGroupBox* g = NewGroup(Group::SourceData, "grpSourceData");
    auto* v = new QVBoxLayout(g);
    auto* row = new QHBoxLayout;
    row->addWidget(NewCheck(IDC_RAW_DISP));
    row->addStretch();
    row->addWidget(NewButton(IDC_RAW_CLEAR));
    v->addLayout(row);
    auto* text = new QPlainTextEdit;
    text->setReadOnly(true);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    text->setMaximumBlockCount(2000);
    Register(IDC_RAW_TEXT, text);
    v->addWidget(text, 1);
    return g;
}

QWidget* MainWindow::BuildViewGroups() {
    auto* w = new QWidget;
    auto* h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);

    QGroupBox* list = NewGroup(Group::ListView, "grpListView");
    auto* l = new QHBoxLayout(list);
    l->addWidget(NewCheck(IDC_LIST_DISP, true));
    l->addWidget(NewLabel(IDC_LIST_INR));
    QWidget* inr = NewNumberEdit(IDC_LIST_INR);
    inr->setFixedWidth(Chars(inr, 5));
    l->addWidget(inr);
    h->addWidget(list);

    QGroupBox* spectrum = NewGroup(Group::Spectrum, "grpSpectrum");
    auto* s = new QHBoxLayout(spectrum);
    s->addWidget(NewCheck(IDC_SPECTRUM_DISP, true));
    s->addWidget(NewButton(IDC_SPECTRUM_RESET));
    s->addWidget(NewLabel(IDC_SPECTRUM_CNT));
    auto* cnt = static_cast<QLineEdit*>(NewEdit(IDC_SPECTRUM_CNT));
    cnt->setReadOnly(true);
    cnt->setFixedWidth(Chars(cnt, 7));
    s->addWidget(cnt);
    h->addWidget(spectrum);

    QGroupBox* trace = NewGroup(Group::TraceView, "grpTraceView");
    auto* t = new QHBoxLayout(trace);
    t->addWidget(NewCheck(IDC_TRACE_DISP, true));
    t->addWidget(NewLabel(IDC_TRACE_CNT));
    QWidget* tcnt = NewNumberEdit(IDC_TRACE_CNT);
    tcnt->setFixedWidth(Chars(tcnt, 5));
    t->addWidget(tcnt);
    h->addWidget(trace);

    QGroupBox* realtime = NewGroup(Group::RealtimeView, "grpRealtimeView");
    auto* r = new QHBoxLayout(realtime);
    r->addWidget(NewCheck(IDC_REALTIME_DISP, true));
    r->addWidget(NewCheck(IDC_REALTIME_FULL, true));
    r->addWidget(NewLabel(IDC_REALTIME_LEN));
    QWidget* len = NewNumberEdit(IDC_REALTIME_LEN);
    len->setFixedWidth(Chars(len, 6));
    r->addWidget(len);
    r->addWidget(NewLabel(IDC_REALTIME_ID));
    // The ID box with its spin control (1060) in one widget.
    auto* id = new QSpinBox;
    id->setRange(0, 9999);
    id->setFixedWidth(Chars(id, 7));
    Register(IDC_REALTIME_ID, id);
    connect(id, &QSpinBox::valueChanged, this, [this](int value) {
        if (!settingText_) dlg_->OnEditChanged(IDC_REALTIME_ID, std::to_string(value));
    });
    r->addWidget(id);
    // the group takes the row's spare width; its controls stay together
    r->addStretch(1);
    h->addWidget(realtime, 1);
    return w;
}

QWidget* MainWindow::BuildViewArea() {
    tabs_ = new QTabWidget;
    tabs_->setObjectName("viewTabs");
    tabs_->setTabPosition(QTabWidget::North);
    tabs_->setDocumentMode(false);
    for (int tab = 0; tab < kViewTabCount; ++tab) {
        auto* page = new QWidget;
        page->setObjectName(QStringLiteral("viewTab%1").arg(tab));
        auto* v = new QVBoxLayout(page);
        v->setContentsMargins(2, 2, 2, 2);
        if (tab == kViewTabList) {
            sensorList_ = new SensorListWidget(dlg_->SensorRows(), static_cast<int>(lang_));
            sensorList_->onRowClicked = [this](int row) { dlg_->OnSensorListClick(row); };
            v->addWidget(sensorList_);
        }
        tabs_->addTab(page, Q(ViewTabCaption(tab, lang_)));
        tabs_->setTabToolTip(tab, ViewTabTip(tab, lang_));
    }
    // The view area: the rectangle of the hidden marker control in the
    // original layout, here a size that scales with the font. It is the
    // least the tabs get where the screen has room, and they take every
    // pixel the window grows by.
    viewAreaSize_ = QSize(fontMetrics().averageCharWidth() * 120, fontMetrics().height() * 30);
    tabs_->setMinimumSize(viewAreaSize_);
    tabs_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    return tabs_;
}

void MainWindow::BuildControls() {
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    BuildMenu();
    root->setMenuBar(menuBar_);
    indicators_ = new QWidget(menuBar_);  // unnamed: a holder, not a control
    auto* indicatorRow = new QHBoxLayout(indicators_);
    indicatorRow->setContentsMargins(0, 0, 0, 0);
    indicatorRow->setSpacing(6);
    indicators_->installEventFilter(this);
    menuBar_->setCornerWidget(indicators_, Qt::TopRightCorner);
    recording_ = new RecordingIndicator(*dlg_, lang_);
    SetMenuIndicator(MenuIndicator::Recording, recording_);
    connect(this, &MainWindow::statusRefreshed, recording_, &RecordingIndicator::Refresh);

    contents_ = new QWidget;
    contents_->setObjectName("mainContents");
    auto* inner = new QVBoxLayout(contents_);
    inner->setContentsMargins(8, 4, 8, 8);
    inner->setSpacing(6);

    auto* body = new QHBoxLayout;
    body->setSpacing(8);
    auto* left = new QVBoxLayout;
    left->setSpacing(6);
    left->addWidget(BuildDataInterface());
    left->addWidget(BuildDataInformation());
    left->addWidget(BuildDataSave());
    left->addWidget(BuildSourceData(), 1);
    body->addLayout(left);

    auto* right = new QVBoxLayout;
    right->setSpacing(6);
    QWidget* groups = BuildViewGroups();
    groups->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    right->addWidget(groups);
    right->addWidget(BuildViewArea(), 1);
    body->addLayout(right, 1);
    inner->addLayout(body, 1);

    auto* bottom = new QProgressBar;
    bottom->setRange(0, 1);
    bottom->setValue(0);
    bottom->setTextVisible(false);
    bottom->setFixedHeight(bottom->fontMetrics().height() / 2 + 6);
    Register(IDC_PROGRESS_RECORDS, bottom);
    inner->addWidget(bottom);

    // The contents follow the window down to their least size; below it
    // (a screen smaller than the layout) scroll bars reach the rest.
    scroll_ = new QScrollArea;
    scroll_->setObjectName("mainScroll");
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setFocusPolicy(Qt::NoFocus);  // Tab goes from control to control as before
    scroll_->setWidgetResizable(true);
    scroll_->setWidget(contents_);
    root->addWidget(scroll_);
    FitToScreen();
}

QSize MainWindow::DescribedSize() const {
    return contents_->sizeHint() + QSize(0, menuBar_->sizeHint().height());
}

QSize MainWindow::LeastSize() const {
    return contents_->minimumSizeHint() + QSize(0, menuBar_->sizeHint().height());
}

void MainWindow::FitToScreen() {
    // Sizes are those of the style and fonts the window is shown with.
    ensurePolished();
    tabs_->setMinimumSize(viewAreaSize_);
    contents_->layout()->activate();
    const QSize described = DescribedSize();
    QScreen* s = screen();
    if (!s) {
        setMinimumSize(described);
        resize(described.expandedTo(size()));
        return;
    }
    // Room the window manager's title bar and frame take; known once shown.
    QSize frame = frameGeometry().size() - geometry().size();
    if (frame.width() <= 0 || frame.height() <= 0) frame = QSize(8, fontMetrics().height() * 2 + 8);
    const QRect area = s->availableGeometry();
    const QSize room = area.size() - frame;
    if (described.width() <= room.width() && described.height() <= room.height()) {
        setMinimumSize(described);
        resize(described.expandedTo(size().boundedTo(room)));
        return;
    }
    // Too big for this screen: the view area gives up what is missing, down
    // to a third of its size, so that less has to be scrolled; the window
    // takes what there is and may be made smaller still, and scroll bars
    // reach the rest.
    const QSize missing = (LeastSize() - room).expandedTo(QSize(0, 0));
    tabs_->setMinimumSize((viewAreaSize_ - missing).expandedTo(viewAreaSize_ / 3));
    contents_->layout()->activate();
    QSize least = LeastSize();
    // A scroll bar in one direction takes room in the other.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    if (least.height() > room.height()) least.rwidth() += bar;
    if (least.width() > room.width()) least.rheight() += bar;
    setMinimumSize(least.boundedTo(QSize(320, 240)));
    resize(described.expandedTo(least).boundedTo(room));
    if (!isVisible()) move(area.topLeft());
}

void MainWindow::LayoutChanged() { FitToScreen(); }

void MainWindow::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // The screen may differ from the one the window was built on.
    if (event->spontaneous()) return;
    FitToScreen();
    if (!geometryRestored_) {
        geometryRestored_ = true;
        memory_->RestoreGeometry();
    }
}

void MainWindow::BuildMenu() {
    menuBar_ = new QMenuBar(this);
    menuBar_->setObjectName("menuBar");
    QMenu* top = nullptr;
    QMenu* sub = nullptr;
    for (const MenuEntry& e : MainMenu()) {
        if (e.onlyIn >= 0 && e.onlyIn != static_cast<int>(lang_)) continue;
        QString text = lang_ == Language::Chinese ? QString::fromUtf8(e.chinese) : QString::fromUtf8(e.english);
        QMenu* parentMenu = e.level == 2 ? sub : top;
        if (e.level == 0) {
            top = menuBar_->addMenu(text);
            top->setToolTipsVisible(true);
            sub = nullptr;
            continue;
        }
        if (!parentMenu) continue;
        if (e.id == -1) {
            parentMenu->addSeparator();
        } else if (e.id == 0) {
            sub = parentMenu->addMenu(text);
            sub->setToolTipsVisible(true);
        } else {
            QAction* a = parentMenu->addAction(text);
            a->setObjectName(QStringLiteral("cmd%1").arg(e.id));
            a->setEnabled(e.enabled);
            a->setToolTip(ControlTip(e.id, lang_));
            actions_[e.id] = a;
            int id = e.id;
            connect(a, &QAction::triggered, this, [this, id] {
                auto it = commandHandlers_.find(id);
                if (it != commandHandlers_.end() && it->second)
                    it->second();
                else
                    dlg_->OnCommand(id);
            });
        }
    }
}

void MainWindow::BuildTray() {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = new QSystemTrayIcon(ProgramIcon(), this);
    tray_->setToolTip(QStringLiteral("Lumora"));
    auto* menu = new QMenu(this);
    QAction* close = menu->addAction(Q(LoadString(211)));
    close->setObjectName("trayClose");
    connect(close, &QAction::triggered, this, [this] { dlg_->OnCommand(IDCANCEL_COMMAND); });
    tray_->setContextMenu(menu);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
    });
}

// ---------------------------------------------------------------- lookup

QWidget* MainWindow::Control(int id) const {
    auto it = controls_.find(id);
    return it == controls_.end() ? nullptr : it->second;
}

QAction* MainWindow::Action(int commandId) const {
    auto it = actions_.find(commandId);
    return it == actions_.end() ? nullptr : it->second;
}

QWidget* MainWindow::TabPage(int tab) const { return tabs_ ? tabs_->widget(tab) : nullptr; }

void MainWindow::SetTabWidget(int tab, QWidget* widget) {
    QWidget* page = TabPage(tab);
    if (!page || tab == kViewTabList) return;
    QLayout* layout = page->layout();
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* old = item->widget()) old->deleteLater();
        delete item;
    }
    layout->addWidget(widget);
}

void MainWindow::SetCommandHandler(int commandId, std::function<void()> handler) {
    commandHandlers_[commandId] = std::move(handler);
}

void MainWindow::SetMenuIndicator(MenuIndicator place, QWidget* widget) {
    QPointer<QWidget>& slot = indicatorSlots_[static_cast<size_t>(place)];
    if (slot == widget) return;
    if (slot) slot->deleteLater();
    slot = widget;
    auto* row = static_cast<QHBoxLayout*>(indicators_->layout());
    while (QLayoutItem* item = row->takeAt(0)) delete item;
    for (const QPointer<QWidget>& w : indicatorSlots_)
        if (w) row->addWidget(w);
    if (widget) widget->setParent(indicators_);
    if (widget && place != MenuIndicator::Recording) widget->show();
}

QWidget* MainWindow::MenuIndicatorWidget(MenuIndicator place) const {
    return indicatorSlots_[static_cast<size_t>(place)];
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // An indicator changed its text or showed: the menu bar places its
    // corner anew, at the corner's new size.
    if (watched == indicators_ && event->type() == QEvent::LayoutRequest) {
        indicators_->adjustSize();
        menuBar_->setCornerWidget(indicators_, Qt::TopRightCorner);
    }
    return QDialog::eventFilter(watched, event);
}

void MainWindow::MenuCornerChanged() {
    indicators_->adjustSize();
    // Setting the corner again is what makes the menu bar lay it out anew.
    menuBar_->setCornerWidget(indicators_, Qt::TopRightCorner);
}

bool MainWindow::AddToGroup(const QString& groupName, QWidget* widget) {
    auto* group = findChild<QGroupBox*>(groupName);
    auto* row = group ? qobject_cast<QBoxLayout*>(group->layout()) : nullptr;
    if (!row) return false;
    // a group that ends in spare room keeps it last
    const int count = row->count();
    const bool spare = count > 0 && row->itemAt(count - 1)->spacerItem();
    row->insertWidget(spare ? count - 1 : count, widget);
    return true;
}

bool MainWindow::InTray() const { return tray_ && tray_->isVisible(); }

bool MainWindow::TimerActive(int timerId) const {
    auto it = timers_.find(timerId);
    return it != timers_.end() && it->second->isActive();
}

// ---------------------------------------------------------------- WindowPort

void MainWindow::SetText(int controlId, const std::string& utf8) {
    QWidget* w = Control(controlId);
    if (!w) return;
    QString text = Q(utf8);
    ++settingText_;
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        if (e->text() != text) e->setText(text);
    } else if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text() != text) l->setText(text);
    } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
        p->setPlainText(text);
        p->verticalScrollBar()->setValue(p->verticalScrollBar()->maximum());
    } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
        b->setText(text);
    } else if (auto* s = qobject_cast<QSpinBox*>(w)) {
        s->setValue(text.toInt());
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        c->setCurrentText(text);
    }
    --settingText_;
}

std::string MainWindow::GetText(int controlId) {
    QWidget* w = Control(controlId);
    if (!w) return {};
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
    if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText().toStdString();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
    if (auto* s = qobject_cast<QSpinBox*>(w)) return s->text().toStdString();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
    return {};
}

void MainWindow::SetCheck(int controlId, bool checked) {
    if (auto* c = qobject_cast<QCheckBox*>(Control(controlId))) c->setChecked(checked);
}

bool MainWindow::GetCheck(int controlId) {
    auto* c = qobject_cast<QCheckBox*>(Control(controlId));
    return c && c->isChecked();
}

void MainWindow::EnableControl(int controlId, bool enabled) {
    if (QWidget* w = Control(controlId)) w->setEnabled(enabled);
    if (QAction* a = Action(controlId)) a->setEnabled(enabled);
}

void MainWindow::SetProgress(int controlId, int upper, int pos) { SetProgressRange(controlId, 0, upper, pos); }

void MainWindow::SetProgressRange(int controlId, int low, int high, int pos) {
    if (auto* b = qobject_cast<QProgressBar*>(Control(controlId))) {
        if (high < low) high = low;
        b->setRange(low, high);
        b->setValue(std::clamp(pos, low, high));
    }
}

int MainWindow::MessageBox(const std::string& text, const std::string& caption, int buttons, int flags) {
    if (messageBoxOverride) return messageBoxOverride(text, caption, buttons, flags);
    QMessageBox box(this);
    box.setWindowTitle(Q(caption.empty() ? std::string("lumora") : caption));
    box.setTextFormat(Qt::PlainText);  // a path with "<b>" in it is a path, not markup
    box.setText(Q(text));
    if (flags & kMbIconQuestion) box.setIcon((flags & kMbIconWarning) == kMbIconWarning ? QMessageBox::Warning
                                                                                          : QMessageBox::Question);
    QMessageBox::StandardButtons set;
    switch (buttons) {
        case kMbOkCancel: set = QMessageBox::Ok | QMessageBox::Cancel; break;
        case kMbYesNoCancel: set = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel; break;
        case kMbYesNo: set = QMessageBox::Yes | QMessageBox::No; break;
        default: set = QMessageBox::Ok; break;
    }
    box.setStandardButtons(set);
    if (flags & kMbDefaultButton2) {
        box.setDefaultButton(buttons == kMbOkCancel ? QMessageBox::Cancel : QMessageBox::No);
    }
    switch (box.exec()) {
        case QMessageBox::Yes: return kIdYes;
        case QMessageBox::No: return kIdNo;
        case QMessageBox::Ok: return kIdOk;
        default: return kIdCancel;
    }
}

void MainWindow::SetActiveTab(int tab) {
    if (tabs_ && tab >= 0 && tab < tabs_->count()) tabs_->setCurrentIndex(tab);
}

void MainWindow::StartTimer(int timerId, int periodMs) {
    QTimer*& t = timers_[timerId];
    if (!t) {
        t = new QTimer(this);
        t->setObjectName(QStringLiteral("timer%1").arg(timerId));
        if (periodMs < 100) t->setTimerType(Qt::PreciseTimer);
        connect(t, &QTimer::timeout, this, [this, timerId] {
            dlg_->OnTimer(timerId);
            if (timerId == kTimerStatus) emit statusRefreshed();
        });
    }
    t->start(periodMs);
}

void MainWindow::StopTimer(int timerId) {
    auto it = timers_.find(timerId);
    if (it != timers_.end()) it->second->stop();
}

void MainWindow::Post(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void MainWindow::OpenFolder(const std::string& path) {
    QDesktopServices::openUrl(QUrl::fromLocalFile(QDir(Q(path)).absolutePath()));
}

void MainWindow::OpenUrl(const std::string& url) { QDesktopServices::openUrl(QUrl(Q(url))); }

void MainWindow::SetTitle(const std::string& utf8) { setWindowTitle(Q(utf8)); }

void MainWindow::SetToolTip(int controlId, const std::string& utf8) {
    if (QWidget* w = Control(controlId)) w->setToolTip(Q(utf8));
}

void MainWindow::SetComboItems(int controlId, const std::vector<std::string>& items, int selected) {
    auto* c = qobject_cast<QComboBox*>(Control(controlId));
    if (!c) return;
    ++settingText_;
    c->clear();
    for (const std::string& item : items) c->addItem(Q(item));
    c->setCurrentIndex(selected < c->count() ? selected : -1);
    --settingText_;
}

std::string MainWindow::ChooseFolder(const std::string& title, const std::string& start) {
    if (folderChooserOverride) return folderChooserOverride(title, start);
    QString dir = QFileDialog::getExistingDirectory(this, Q(title), Q(start),
                                                    QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    return dir.toStdString();
}

void MainWindow::OpenHandbook() {
    if (!handbook_) {
        const QString guide = GuidePath(lang_);
        if (guide.isEmpty()) {
            MessageBox(lang_ == Language::Chinese ? "找不到指南 guide.md，它安装在 /usr/share/doc/lumora 中。"
                                                  : "The guide guide.md was not found; it is installed in "
                                                    "/usr/share/doc/lumora.",
                       "", kMbOk, kMbIconWarning);
            return;
        }
        handbook_ = new HandbookWindow(guide, lang_, this);
        handbook_->setAttribute(Qt::WA_DeleteOnClose);
    }
    handbook_->show();
    handbook_->raise();
    handbook_->activateWindow();
}

void MainWindow::ShowAboutBox() {
    AboutDialog about(lang_, this);
    about.exec();
}

void MainWindow::CloseWindow() {
    QMetaObject::invokeMethod(this, [this] { EndProgram(); }, Qt::QueuedConnection);
}

void MainWindow::CloseWindowWithExitCode(int exitCode) {
    exitCode_ = exitCode;
    CloseWindow();
}

bool MainWindow::RestartProgram() {
    QProcess process;
    process.setProgram(QCoreApplication::applicationFilePath());
    process.setArguments(QCoreApplication::arguments().mid(1));
    process.setWorkingDirectory(QDir::currentPath());
    // The new instance waits for this one to let go of the data port.
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LUMORA_RESTARTED"), QStringLiteral("1"));
    process.setProcessEnvironment(env);
    return process.startDetached();
}

void MainWindow::SensorListChanged(bool rebuilt) {
    if (rebuilt) memory_->OnRowsRebuilt();
    if (sensorList_) sensorList_->Refresh(rebuilt);
}

// ---------------------------------------------------------------- window events

void MainWindow::EndProgram() {
    if (ended_) {
        // Asked again (another signal): the program is already closed, only
        // its end is asked for once more.
        emit programEnded();
        return;
    }
    ended_ = true;
    if (initialised_) memory_->SaveGeometry();
    dlg_->OnClose();
    for (auto& [id, t] : timers_) t->stop();
    if (tray_) tray_->hide();
    hide();
    emit programEnded();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    event->accept();
    EndProgram();
}

void MainWindow::reject() {
    // Escape: the dialog ends, and the program with it.
    dlg_->OnCancel();
}

void MainWindow::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMinimized) && tray_ &&
        QSystemTrayIcon::isSystemTrayAvailable()) {
        // Minimising hides into the tray instead.
        QTimer::singleShot(0, this, [this] { HideToTray(); });
    }
}

void MainWindow::HideToTray() {
    if (!tray_ || !isVisible()) return;
    tray_->show();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    hide();
}

void MainWindow::RestoreFromTray() {
    showNormal();
    raise();
    activateWindow();
    if (tray_) tray_->hide();
}

}  // namespace lumora
