#include "main_window_qt.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QShortcut>
#include <QWindow>
#include <QWindowStateChangeEvent>
#include <utility>

#include "controls_qt.h"
#include "message_box_qt.h"
#include "single_instance_qt.h"

namespace {

constexpr const char* kAboutItemText = "&About Quillon...";

// The strip draws its tabs as flat buttons in one row; the chosen one looks
// pressed.
constexpr const char* kFlatTabsStyle =
    "QTabBar::tab { border: 1px solid transparent; border-radius: 2px; padding: 2px 9px;"
    " margin: 0px 1px; background: transparent; }"
    "QTabBar::tab:selected { border-color: palette(mid); background: palette(midlight); }"
    "QTabBar::tab:hover:!selected { border-color: palette(midlight); }";

// Where the sheet puts its pages (dialog units): centred across, and low
// enough that the logo (down to 30) stays clear of the Settings page's list,
// with the strip of tabs above them.
constexpr int kPageLeft = 3;
constexpr int kPageTop = 21;

}  // namespace

QIcon ApplicationIcon() {
    QIcon icon;
    for (const int size : {16, 32, 48, 256}) {
        icon.addFile(QStringLiteral(":/quillon/icon128-%1.png").arg(size), QSize(size, size));
    }
    return icon;
}

QPixmap LogoBitmap() {
    return QPixmap(QStringLiteral(":/quillon/bitmap137.bmp"));
}

CAboutDialogQt::CAboutDialogQt(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Quillon ..."));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    TemplateBuilder dialog(*this, 147, 103);
    dialog.Picture(kStaticId, Du(7, 7, 133, 19), LogoBitmap());
    dialog.Text(kStaticId, Du(7, 32, 133, 16), kAboutProductText)->setTextFormat(Qt::PlainText);
    dialog.Text(kStaticId, Du(7, 52, 120, 16), kAboutDetailText);
    QPushButton* ok = dialog.Button(1, Du(48, 78, 50, 14), "OK", true);
    dialog.FinishTabOrder();
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

CConfigurationSheetQt::CConfigurationSheetQt(QWidget* parent, CMainDialog& presenter,
                                             IRegistryStore& store, IMessageBox& messages)
    : QWidget(parent), m_presenter(presenter) {
    setFont(DialogFont());
    const DialogUnits units(font());
    setGeometry(units.Rect(0, 0, 287, 172));
    m_pageArea = QRect(units.X(kPageLeft), units.Y(kPageTop), units.X(281), units.Y(159));

    m_tabs = new QTabBar(this);
    m_tabs->setObjectName(QStringLiteral("tabs"));
    m_tabs->setDrawBase(false);
    m_tabs->setExpanding(false);
    m_tabs->setUsesScrollButtons(false);
    m_tabs->setStyleSheet(QString::fromLatin1(kFlatTabsStyle));
    m_tabs->addTab(QString::fromLatin1(kSettingsPageTitle));
    m_tabs->addTab(QString::fromLatin1(kPrivacyPageTitle));
    const QSize strip = m_tabs->sizeHint();
    m_tabs->setGeometry(m_pageArea.left(), m_pageArea.top() - strip.height() - 1, strip.width(),
                        strip.height());

    m_settings = new CSettingsPageQt(this, presenter.SettingsPage(), store, messages);
    m_settings->move(m_pageArea.topLeft());
    presenter.SettingsPage().OnInitDialog(*m_settings);

    connect(m_tabs, &QTabBar::currentChanged, this, [this](int index) { Choose(index); });
    // Ctrl+Tab and Ctrl+Shift+Tab step through the pages, wrapping round.
    const auto step = [this](int by) {
        m_tabs->setCurrentIndex((m_tabs->currentIndex() + by + m_tabs->count()) % m_tabs->count());
        m_tabs->setFocus();
    };
    auto* next = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Tab), this);
    connect(next, &QShortcut::activated, this, [step] { step(1); });
    auto* previous = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this);
    connect(previous, &QShortcut::activated, this, [step] { step(-1); });
}

void CConfigurationSheetQt::Choose(int index) {
    if (index == 1 && m_privacy == nullptr) {
        m_privacy = new CPrivacyPageQt(this, m_presenter);
        m_privacy->move(m_pageArea.topLeft());
        m_presenter.InitPrivacyPage(*m_privacy);
    }
    m_settings->setVisible(index == 0);
    if (m_privacy != nullptr) {
        m_privacy->setVisible(index == 1);
    }
}

CMainWindowQt::CMainWindowQt(const MainDialogServices& services)
    : QDialog(nullptr),
      m_store(services.store),
      m_messages(services.messages),
      m_presenter(*this, services) {
    setWindowTitle(QString::fromLatin1(kMainWindowTitle));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setWindowIcon(ApplicationIcon());
    TemplateBuilder window(*this, 287, 173);
    m_tray.setToolTip(QString());
    // Handled once the icon's own event is over: a command may remove the
    // icon, and with it the widget that delivers the click.
    connect(
        &m_tray, &QSystemTrayIcon::activated, this,
        [this](QSystemTrayIcon::ActivationReason reason) { OnTrayActivated(reason); },
        Qt::QueuedConnection);
    // The menu is the icon's own: a StatusNotifierItem desktop (KDE, GNOME
    // with AppIndicator) shows it from the exported copy, and on an XEmbed
    // tray Qt opens it at the click.
    m_tray.setContextMenu(&m_trayMenu);
    connect(&m_trayMenu, &QMenu::aboutToShow, this, [this] {
        m_menuShown.start();
        // The command-update pass: only "Enable Quillon" has a handler.
        if (m_enableAction != nullptr) {
            m_enableAction->setChecked(m_presenter.EnableChecked());
        }
    });
}

CMainWindowQt::~CMainWindowQt() {
    m_presenter.OnDestroy();
    // The pages go before the presenter whose parts they show.
    delete m_sheet;
    m_sheet = nullptr;
}

void CMainWindowQt::Start() {
    m_presenter.OnCreate(reinterpret_cast<std::uintptr_t>(this));
    if (QScreen* screen = this->screen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    // Visible from the start, as its template asks: a start timer that fires
    // while the initialisation waits for the network (the busy cursor lets
    // events through) then hides it for good, and the first run's download
    // shows its window.
    show();
    m_presenter.OnInitDialog();
}

void CMainWindowQt::ShowInFront(const QString& activationToken) {
    // The latest token counts; none keeps one still waiting for the window.
    if (!activationToken.isEmpty()) {
        m_activationToken = activationToken;
    }
    ShowWindow(WindowShow::ShowDefault);
}

void CMainWindowQt::BringToFront() {
    if (m_minimizedAway && !isActiveWindow() &&
        QGuiApplication::platformName().startsWith(QLatin1String("wayland"))) {
        // The protocol has no request that undoes a minimise (GNOME keeps
        // such a window out of sight): the window is mapped anew instead.
        hide();
    }
    m_minimizedAway = false;
    // Asked before the show: a window shown just now is mapped only later,
    // and Qt may still report it exposed from before it was hidden.
    const bool mapped = isVisible() && windowHandle() != nullptr && windowHandle()->isExposed();
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    if (IsOffscreenPlatform()) {
        m_activationToken.clear();
        return;
    }
    raise();
    // A desktop activates only a window it has mapped: Qt's X11 plugin waits
    // for that on its own, its Wayland plugin sends the request at once.
    if (mapped) {
        Activate();
    } else {
        m_activateWhenExposed = true;
        windowHandle()->installEventFilter(this);
    }
}

void CMainWindowQt::Activate() {
    m_activateWhenExposed = false;
    // Qt's Wayland plugin takes the token from the environment when it
    // activates a window, and removes it once used; a token that a
    // StatusNotifierItem panel gave with its click waits there already.
    const QString token = std::exchange(m_activationToken, QString());
    if (!token.isEmpty()) {
        qputenv(kActivationTokenVariable, token.toUtf8());
    }
    activateWindow();
    // Not handed on to the programs this one starts (help, the browser).
    if (!token.isEmpty()) {
        qunsetenv(kActivationTokenVariable);
    }
}

bool CMainWindowQt::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && m_activateWhenExposed && watched == windowHandle()) {
        // Once the expose has drawn the window, which maps it.
        QMetaObject::invokeMethod(
            this,
            [this] {
                if (m_activateWhenExposed && isVisible() && !isMinimized() &&
                    windowHandle()->isExposed()) {
                    Activate();
                }
            },
            Qt::QueuedConnection);
    }
    return QDialog::eventFilter(watched, event);
}

void CMainWindowQt::ApplyTrayRecord(const TrayIconRecord& record) {
    if ((record.flags & kTrayFlagIcon) != 0 && record.icon == kIconResource) {
        m_tray.setIcon(ApplicationIcon());
    }
    if ((record.flags & kTrayFlagTip) != 0) {
        m_tray.setToolTip(QString::fromStdString(record.tip));
    }
}

bool CMainWindowQt::AddIcon(const TrayIconRecord& record) {
    // Without a notification area (no display, or a desktop without one) no
    // icon can be shown, and the window must not hide behind one.
    if (IsOffscreenPlatform() || !QSystemTrayIcon::isSystemTrayAvailable()) {
        return false;
    }
    ApplyTrayRecord(record);
    m_tray.show();
    return true;
}

void CMainWindowQt::ShowNotification(const TrayIconRecord&, const std::string& title,
                                     const std::string& text) {
    if (m_tray.isVisible()) {
        m_tray.showMessage(QString::fromStdString(title), QString::fromStdString(text),
                           QSystemTrayIcon::Information);
        return;
    }
    // No icon to speak from (no notification area, or the user hid it): the
    // Settings page shows the change; the log keeps the notice.
    qInfo("%s", text.c_str());
}

bool CMainWindowQt::DeleteIcon(const TrayIconRecord&) {
    if (!m_tray.isVisible()) {
        return false;
    }
    m_tray.hide();
    return true;
}

bool CMainWindowQt::ModifyIcon(const TrayIconRecord& record) {
    ApplyTrayRecord(record);
    return m_tray.isVisible();
}

std::uintptr_t CMainWindowQt::LoadIconResource(int id) {
    return id == kIconResource && !ApplicationIcon().isNull() ? kIconResource : 0;
}

std::uintptr_t CMainWindowQt::LoadMenuResource(int id) {
    if (id != kTrayMenuResource) {
        return 0;
    }
    m_trayMenu.clear();
    const auto item = [this](int command, const char* text) {
        QAction* action = m_trayMenu.addAction(QString::fromLatin1(text));
        action->setObjectName(QString::number(command));
        // Like a command the menu posts: it runs after the menu has closed
        // and whatever delivered the choice has returned.
        connect(
            action, &QAction::triggered, this, [this, command] { m_presenter.OnCommand(command); },
            Qt::QueuedConnection);
        return action;
    };
    m_enableAction = item(kCommandEnable, "Enable Quillon");
    m_enableAction->setCheckable(true);
    m_enableAction->setChecked(true);
    m_trayMenu.addSeparator();
    item(kCommandConfiguration, "Configuration");
    item(kCommandHideMenu, "Hide This Menu");
    m_trayMenu.addSeparator();
    item(kCommandExit, "Exit Quillon");
    return kTrayMenuResource;
}

void CMainWindowQt::TrackTrayMenu(std::uintptr_t, int x, int y, int defaultPosition) {
    // On an XEmbed tray Qt opens it at the press, before the activation that
    // brought us here; only a request without a press of its own (a
    // StatusNotifierItem host asking the item for its menu) is shown here.
    constexpr qint64 kSamePressMs = 1000;
    const bool shownByThePress = m_menuShown.isValid() && m_menuShown.elapsed() < kSamePressMs;
    if (!m_trayMenu.isVisible() && !shownByThePress) {
        // Left-aligned on the cursor, its bottom at the cursor.
        m_trayMenu.exec(QPoint(x, y - m_trayMenu.sizeHint().height()));
    }
    const QList<QAction*> actions = m_trayMenu.actions();
    if (defaultPosition >= 0 && defaultPosition < actions.size()) {
        m_trayMenu.setDefaultAction(actions[defaultPosition]);
    }
}

void CMainWindowQt::CursorPosition(int& x, int& y) {
    const QPoint position = QCursor::pos();
    x = position.x();
    y = position.y();
}

void CMainWindowQt::ShowWindow(WindowShow how) {
    switch (how) {
        case WindowShow::Hide:
            m_activateWhenExposed = false;
            hide();
            break;
        case WindowShow::Minimize:
            m_activateWhenExposed = false;  // activating it would bring it back
            if (!isMinimized()) {
                showMinimized();
            }
            break;
        case WindowShow::Show:
        case WindowShow::ShowDefault:
            // Whoever asks for the window (a second start, the tray's
            // Configuration) wants it in front; a panel's click may have
            // brought a token for that.
            BringToFront();
            break;
    }
}

std::string CMainWindowQt::LoadStringResource(int id) {
    return id == kAboutStringResource ? kAboutItemText : "";
}

void CMainWindowQt::AppendAboutItem(const std::string& text) {
    // The desktop owns the title bar's menu: the window's own context menu
    // carries the item instead.
    m_systemMenu.addSeparator();
    QAction* about = m_systemMenu.addAction(QString::fromStdString(text));
    about->setObjectName(QString::number(kSysCommandAbout));
    connect(about, &QAction::triggered, this,
            [this] { m_presenter.OnSysCommand(kSysCommandAbout); });
}

void CMainWindowQt::SetTimer(int id, int milliseconds) {
    std::unique_ptr<QTimer>& timer = m_timers[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        connect(timer.get(), &QTimer::timeout, this, [this, id] { m_presenter.OnTimer(id); });
    }
    timer->start(milliseconds);
}

void CMainWindowQt::KillTimer(int id) {
    if (const auto found = m_timers.find(id); found != m_timers.end()) {
        found->second->stop();
    }
}

void CMainWindowQt::CreateConfigurationSheet() {
    // The window is on screen already (the template's visible style), so
    // what is added to it now must be shown on its own.
    m_sheet = new CConfigurationSheetQt(this, m_presenter, m_store, m_messages);
    m_sheet->show();
    const DialogUnits units(font());
    auto* frame = new QFrame(this);
    frame->setFrameShape(QFrame::Box);
    frame->setGeometry(units.Rect(0, 0, 287, 172));
    QPalette black = frame->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    frame->setPalette(black);
    frame->setAttribute(Qt::WA_TransparentForMouseEvents);
    frame->show();
    auto* logo = new QLabel(this);
    logo->setObjectName(QStringLiteral("logo"));
    logo->setPixmap(LogoBitmap());
    logo->setGeometry(units.Rect(124, 11, 133, 19));
    logo->setAttribute(Qt::WA_TransparentForMouseEvents);
    logo->show();
}

void CMainWindowQt::RunAboutBox() {
    CAboutDialogQt about(this);
    about.exec();
}

void CMainWindowQt::EndDialog(int result) {
    if (m_onEnd) {
        m_onEnd(result);
    }
}

void CMainWindowQt::RefreshControls() {
    const bool on = m_presenter.EnableChecked();
    // The exported copy of the menu follows at once, whenever a panel reads it.
    if (m_enableAction != nullptr) {
        m_enableAction->setChecked(on);
    }
    if (m_sheet != nullptr) {
        m_presenter.SettingsPage().ShowSwitchState(m_sheet->SettingsPage(), on);
    }
}

void CMainWindowQt::ShowProxyChoice(const std::string& text) {
    if (m_sheet != nullptr) {
        m_sheet->SettingsPage().ShowChoice(text);
    }
}

void CMainWindowQt::SetBusy(bool busy) {
    if (busy) {
        QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    } else {
        QGuiApplication::restoreOverrideCursor();
    }
    // Drawn and answering, but taking no clicks: the wait's caller goes on
    // from where it stands once the wait is over.
    setEnabled(!busy);
    if (m_enableAction != nullptr) {
        m_enableAction->setEnabled(!busy);
    }
}

void CMainWindowQt::keyPressEvent(QKeyEvent* event) {
    // Enter where no button takes it is the window's OK, not a click of the
    // page's "Save Settings".
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainWindowQt::closeEvent(QCloseEvent* event) {
    event->ignore();
    m_presenter.OnCancel();
}

void CMainWindowQt::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) {
        m_minimizedAway = false;  // the desktop brought it back
    }
    if (event->type() != QEvent::WindowStateChange) {
        return;
    }
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if (isMinimized() && (change->oldState() & Qt::WindowMinimized) == 0) {
        // Qt's Wayland plugin reports the window unminimised again at once:
        // the compositor never tells.
        m_minimizedAway = true;
        m_presenter.OnMinimized();
    }
}

void CMainWindowQt::contextMenuEvent(QContextMenuEvent* event) {
    if (!m_systemMenu.isEmpty()) {
        m_systemMenu.exec(event->globalPos());
    }
}

void CMainWindowQt::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            m_presenter.OnTrayNotify(kTrayIconId, kLeftButtonDown);
            break;
        case QSystemTrayIcon::DoubleClick:
            m_presenter.OnTrayNotify(kTrayIconId, kLeftButtonDoubleClick);
            break;
        case QSystemTrayIcon::Context:
            m_presenter.OnTrayNotify(kTrayIconId, kContextMenu);
            break;
        default:
            break;
    }
}
