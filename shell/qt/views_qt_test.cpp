// The Qt views on the offscreen platform: every control of templates 102,
// 133, 134, 132 and 100 with its id, kind, text, place in dialog units and
// tab order; the tray menu; the sheet's tabs and the Privacy page built on
// first choice; the dialogs' results and the messages; the offscreen boxes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "controls_qt.h"
#include "fake_connection_options.h"
#include "fake_message_box.h"
#include "fake_registry_store.h"
#include "fake_trace_stores.h"
#include "loopback.h"
#include "main_window_qt.h"
#include "message_box_qt.h"
#include "peers.h"
#include "responsive_wait_qt.h"
#include "single_instance_qt.h"

namespace {

struct Control {
    const char* id;
    const char* kind;  // the Qt class
    const char* text;
    QRect units;
};

// The id-bearing controls of a window match the template; `root` is the
// window the template's coordinates are relative to.
void ExpectControls(QWidget& root, const std::vector<Control>& controls) {
    const DialogUnits units(root.font());
    for (const Control& c : controls) {
        SCOPED_TRACE(c.id);
        auto* widget = root.findChild<QWidget*>(QString::fromLatin1(c.id));
        ASSERT_NE(widget, nullptr);
        EXPECT_STREQ(widget->metaObject()->className(), c.kind);
        QString text;
        if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            text = button->text();
        }
        EXPECT_EQ(text.toStdString(), c.text);
        const QRect expected =
            units.Rect(c.units.x(), c.units.y(), c.units.width(), c.units.height());
        EXPECT_EQ(widget->pos(), expected.topLeft());
        if (qobject_cast<QComboBox*>(widget) == nullptr) {  // closed: as tall as its edit
            EXPECT_EQ(widget->size(), expected.size());
        } else {
            EXPECT_EQ(widget->width(), expected.width());
        }
    }
}

// The ids met when tabbing from the first control round to it again.
std::vector<std::string> TabOrder(QWidget& root, const char* firstId) {
    std::vector<std::string> order;
    QWidget* first = root.findChild<QWidget*>(QString::fromLatin1(firstId));
    QWidget* w = first;
    for (int guard = 0; guard < 200 && w != nullptr; ++guard) {
        const bool ours = w->parentWidget() == first->parentWidget() && !w->objectName().isEmpty();
        if (ours && (w->focusPolicy() & Qt::TabFocus) != 0) {
            if (!order.empty() && order.front() == w->objectName().toStdString()) {
                break;
            }
            order.push_back(w->objectName().toStdString());
        }
        w = w->nextInFocusChain();
    }
    return order;
}

std::vector<std::string> Texts(QWidget& root) {
    std::vector<std::string> texts;
    for (QLabel* label : root.findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly)) {
        texts.push_back(label->text().toStdString());
    }
    for (QGroupBox* group : root.findChildren<QGroupBox*>(QString(), Qt::FindDirectChildrenOnly)) {
        texts.push_back("[" + group->title().toStdString() + "]");
    }
    return texts;
}

class ViewsTest : public testing::Test {
protected:
    ViewsTest() {
        m_settings.RunFirst.Set(1);  // no download at start
        m_settings.Minimize.Set(1);
    }
    MainDialogServices Services(IProxyProbe* probe = nullptr) {
        return MainDialogServices{m_settings,
                                  m_store,
                                  m_browser,
                                  m_messages,
                                  probe != nullptr ? *probe : m_probe,
                                  m_traces.Stores(),
                                  m_folder.Path() + "/",
                                  testsupport::FreePort(),
                                  &m_wait};
    }

    testsupport::TempDir m_folder;
    FakeRegistryStore m_store;
    SettingsCatalogue m_settings{m_store};
    FakeConnectionOptions m_browser;
    FakeMessageBox m_messages;
    ProxyProbe m_probe;
    FakeTraceStores m_traces;
    CResponsiveWaitQt m_wait;
};

// Looks at the window from the probe's own thread while it measures: the
// window's thread must answer (a probe on that thread would find nobody to
// answer), and show that it waits.
class WatchingProbe final : public IProxyProbe {
public:
    std::optional<ProbeFigures> Measure(const std::string&, int, std::stop_token) override {
        QMetaObject::invokeMethod(
            window,
            [this] {
                const QCursor* cursor = QGuiApplication::overrideCursor();
                busyWhileMeasuring =
                    cursor != nullptr && cursor->shape() == Qt::WaitCursor && !window->isEnabled();
            },
            Qt::BlockingQueuedConnection);
        return std::nullopt;
    }
    QWidget* window = nullptr;
    bool busyWhileMeasuring = false;
};

TEST_F(ViewsTest, MainWindowAndSettingsPageFollowTheirTemplates) {
    m_settings.ProxyName.Set("10.0.0.1:3128");
    m_folder.Write("proxylist.txt", "");
    CMainWindowQt window(Services());
    window.Start();
    EXPECT_EQ(window.windowTitle().toStdString(), "Quillon");
    const DialogUnits units(window.font());
    EXPECT_EQ(window.size(), units.Size(287, 173));
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMinimizeButtonHint);

    ASSERT_NE(window.Sheet(), nullptr);
    QTabBar& tabs = window.Sheet()->Tabs();
    ASSERT_EQ(tabs.count(), 2);
    EXPECT_EQ(tabs.tabText(0).toStdString(), "Settings");
    EXPECT_EQ(tabs.tabText(1).toStdString(), "Privacy");

    QWidget& page = window.Sheet()->SettingsPage();
    EXPECT_EQ(page.size(), units.Size(281, 159));
    // On screen, not merely not hidden: everything added to the window after
    // it was shown is shown too.
    EXPECT_TRUE(page.isVisible());
    EXPECT_TRUE(tabs.isVisible());
    EXPECT_TRUE(window.findChild<QLabel*>("logo")->isVisible());
    for (QWidget* control : page.findChildren<QWidget*>()) {
        if (!control->objectName().isEmpty() && control->parentWidget() == &page) {
            EXPECT_TRUE(control->isVisible()) << control->objectName().toStdString();
        }
    }
    ExpectControls(page, {{"1026", "QPushButton", "Add New Proxy", Du(11, 135, 58, 14)},
                          {"1027", "QPushButton", "Update Proxy List Now", Du(74, 135, 83, 14)},
                          {"1028", "QComboBox", "", Du(125, 9, 145, 115)},
                          {"1002", "QCheckBox", "Enable Quillon", Du(11, 9, 96, 10)},
                          {"1029", "QPushButton", "Save Settings", Du(208, 135, 62, 14)},
                          {"1030", "QPushButton", "Help", Du(162, 135, 41, 14)},
                          {"1031", "QCheckBox", kAutoSwitchText, Du(11, 118, 259, 10)}});
    EXPECT_EQ(TabOrder(page, "1026"),
              (std::vector<std::string>{"1026", "1027", "1028", "1002", "1029", "1030", "1031"}));
    EXPECT_TRUE(page.findChild<QCheckBox*>("1031")->isChecked());  // AutoSwitch is on by default
    EXPECT_TRUE(page.findChild<QPushButton*>("1029")->isDefault());
    EXPECT_THAT(Texts(page), testing::UnorderedElementsAre(kAddProxyTipText, kTipsText, "[Tips]"));
    auto* list = page.findChild<QComboBox*>("1028");
    EXPECT_TRUE(list->isEditable());
    EXPECT_EQ(list->currentText().toStdString(), "10.0.0.1:3128");  // ProxyName shown

    // The tray menu of resource 129, its check mark from the cached UseProxy.
    QMenu& menu = window.TrayMenu();
    std::vector<std::string> items;
    for (QAction* action : menu.actions()) {
        items.push_back(action->isSeparator() ? "-" : action->text().toStdString());
    }
    EXPECT_EQ(items, (std::vector<std::string>{"Enable Quillon", "-", "Configuration",
                                               "Hide This Menu", "-", "Exit Quillon"}));
    // A stored proxy runs from the start, whatever UseProxy says: checked.
    emit menu.aboutToShow();
    EXPECT_TRUE(menu.actions()[0]->isChecked());
    // The About item lives in the window's own menu.
    ASSERT_EQ(window.SystemMenu().actions().size(), 2);
    EXPECT_EQ(window.SystemMenu().actions()[1]->text().toStdString(), "&About Quillon...");
}

// Help looks in the current folder, beside the program and in share/quillon;
// without the file the button quietly does nothing.
TEST_F(ViewsTest, HelpWithoutItsFileFindsNothingAndSaysNothing) {
    struct CurrentFolder {
        std::filesystem::path saved = std::filesystem::current_path();
        ~CurrentFolder() { std::filesystem::current_path(saved); }
    } restore;
    std::filesystem::current_path(m_folder.Path());
    m_folder.Write("proxylist.txt", "");
    EXPECT_TRUE(FindHelpFile("index.htm").isEmpty());
    {
        CMainWindowQt window(Services());
        window.Start();
        ASSERT_NE(window.Sheet(), nullptr);
        auto* help = window.Sheet()->SettingsPage().findChild<QPushButton*>("1030");
        ASSERT_NE(help, nullptr);
        help->click();
        help->click();
        EXPECT_TRUE(window.Sheet()->SettingsPage().isEnabled());
    }
    m_folder.Write("index.htm", "<html></html>");
    EXPECT_EQ(FindHelpFile("index.htm").toStdString(), m_folder.Path() + "/index.htm");
}

TEST_F(ViewsTest, PrivacyPageIsBuiltOnItsFirstChoiceWithTheStoredStates) {
    m_settings.ClearCookies.Set(1);
    m_settings.EnableJS.Set(1);
    NrOfBlockPopups(m_store).Set(7);
    CMainWindowQt window(Services());
    window.Start();
    EXPECT_EQ(window.Sheet()->PrivacyPage(), nullptr);
    window.Sheet()->Tabs().setCurrentIndex(1);
    ASSERT_NE(window.Sheet()->PrivacyPage(), nullptr);
    QWidget& page = *window.Sheet()->PrivacyPage();
    EXPECT_TRUE(page.isVisibleTo(window.Sheet()));
    EXPECT_FALSE(window.Sheet()->SettingsPage().isVisibleTo(window.Sheet()));
    EXPECT_EQ(page.pos(), window.Sheet()->SettingsPage().pos());

    ExpectControls(page,
                   {{"1024", "QCheckBox", "Block Popups", Du(21, 22, 57, 10)},
                    {"1025", "QLineEdit", "", Du(218, 19, 40, 14)},
                    {"1003", "QCheckBox", "Clear Temporary Internet Files", Du(21, 58, 114, 10)},
                    {"1004", "QCheckBox", "Clear Cookies", Du(21, 71, 59, 10)},
                    {"1005", "QCheckBox", "Delete Last Typed Addresses", Du(151, 58, 107, 10)},
                    {"1006", "QCheckBox", "Delete History", Du(151, 71, 61, 10)},
                    {"1002", "QCheckBox", "Enable Java Script", Du(21, 105, 75, 10)},
                    {"1010", "QCheckBox", "Enable Active X", Du(151, 105, 65, 10)},
                    {"1030", "QPushButton", "Help", Du(162, 135, 41, 14)},
                    {"1029", "QPushButton", "Save Settings", Du(208, 135, 62, 14)}});
    EXPECT_EQ(TabOrder(page, "1024"),
              (std::vector<std::string>{"1024", "1025", "1003", "1004", "1005", "1006", "1002",
                                        "1010", "1030", "1029"}));
    EXPECT_THAT(Texts(page),
                testing::UnorderedElementsAre("Popups Blocked", "[Popups ]", "[Privacy Options]",
                                              "[Java Script Options]"));
    EXPECT_EQ(page.findChild<QLineEdit*>("1025")->text().toStdString(), "7");
    EXPECT_TRUE(page.findChild<QLineEdit*>("1025")->isReadOnly());
    EXPECT_TRUE(page.findChild<QCheckBox*>("1004")->isChecked());
    EXPECT_TRUE(page.findChild<QCheckBox*>("1002")->isChecked());
    EXPECT_FALSE(page.findChild<QCheckBox*>("1024")->isChecked());

    // Whenever the page comes into view it shows the count as stored now.
    NrOfBlockPopups(m_store).Set(9);
    window.Sheet()->Tabs().setCurrentIndex(0);
    window.Sheet()->Tabs().setCurrentIndex(1);
    EXPECT_EQ(page.findChild<QLineEdit*>("1025")->text().toStdString(), "9");
    NrOfBlockPopups(m_store).Set(10);
    window.hide();
    window.ShowInFront();
    EXPECT_EQ(page.findChild<QLineEdit*>("1025")->text().toStdString(), "10");

    // Save Settings stores what the boxes show.
    page.findChild<QCheckBox*>("1024")->setChecked(true);
    page.findChild<QPushButton*>("1029")->click();
    EXPECT_EQ(SettingsCatalogue(m_store).BlockPopups.Get(), 1u);
}

TEST_F(ViewsTest, AddProxyDialogEndsWithZeroAfterOkAndTwoAfterCancel) {
    QWidget owner;
    CAddProxyDialogQt dialog(&owner, m_store, m_messages);
    EXPECT_EQ(dialog.windowTitle().toStdString(), "Add Proxy");
    ExpectControls(dialog, {{"1", "QPushButton", "OK", Du(15, 64, 61, 14)},
                            {"2", "QPushButton", "Cancel", Du(108, 64, 61, 14)},
                            {"1022", "QLineEdit", "", Du(14, 40, 156, 14)}});
    EXPECT_EQ(TabOrder(dialog, "1"), (std::vector<std::string>{"1", "2", "1022"}));
    EXPECT_EQ(Texts(dialog), (std::vector<std::string>{kAddProxySyntaxText}));
    EXPECT_TRUE(dialog.findChild<QLabel*>()->alignment() & Qt::AlignHCenter);

    dialog.findChild<QPushButton*>("1")->click();  // empty: the warning
    EXPECT_EQ(dialog.result(), 0);
    ASSERT_EQ(m_messages.shown.size(), 1u);
    EXPECT_EQ(m_messages.shown[0].text, "Please enter a proxy address");
    EXPECT_EQ(m_messages.shown[0].caption, "WARNING");

    dialog.findChild<QLineEdit*>("1022")->setText("10.1.1.1:8080");
    dialog.findChild<QPushButton*>("1")->click();
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_EQ(TMPProxy(m_store).Get(), "10.1.1.1:8080");
    dialog.findChild<QPushButton*>("2")->click();
    EXPECT_EQ(dialog.result(), kAddProxyCancelled);
    dialog.reject();  // the close box
    EXPECT_EQ(dialog.result(), kAddProxyCancelled);
}

TEST_F(ViewsTest, ListKeepsItsEditFieldSortsAndTestsPicksUnderABusyCursor) {
    WatchingProbe probe;
    CMainWindowQt window(Services(&probe));
    probe.window = &window;
    window.Start();
    CSettingsPageQt& page = window.Sheet()->SettingsPage();
    ProxyEntries listed = WithEntriesOf({}, "b.example:1\r\nA.example:2\r\na.example:3\r\n\r\n");
    page.ShowEntries(listed);
    auto* list = page.findChild<QComboBox*>("1028");
    std::vector<std::string> items;
    for (int i = 0; i < list->count(); ++i) {
        items.push_back(list->itemText(i).toStdString());
    }
    EXPECT_EQ(items, (std::vector<std::string>{"", "A.example:2", "a.example:3", "b.example:1"}));
    EXPECT_EQ(page.EditText(), "");  // adding picks nothing
    EXPECT_EQ(page.SelectedItemText(), "");

    // Update Proxy List Now with the vendor unreachable still ends with its
    // message; the busy cursor is gone afterwards.
    setenv("QUILLON_VENDOR_URL",
           ("http://127.0.0.1:" + std::to_string(testsupport::FreePort())).c_str(), 1);
    page.findChild<QPushButton*>("1027")->click();
    ASSERT_FALSE(m_messages.shown.empty());
    EXPECT_EQ(m_messages.shown.back().text, "Proxy List Updated");
    EXPECT_EQ(m_messages.shown.back().caption, "");
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);

    // Picking an entry tests it away from the window's thread, the window
    // busy meanwhile; the messages come in order, under the ordinary pointer.
    const std::string closed = "127.0.0.1:" + std::to_string(testsupport::FreePort());
    page.ShowEntries(listed = WithEntriesOf(listed, closed + "\r\n"));
    m_messages.shown.clear();
    std::vector<bool> busy;
    m_messages.onShow = [&] {
        const QCursor* cursor = QGuiApplication::overrideCursor();
        busy.push_back(cursor != nullptr && cursor->shape() == Qt::WaitCursor);
    };
    const int index = list->findText(QString::fromStdString(closed));
    list->setCurrentIndex(index);
    emit list->activated(index);
    ASSERT_EQ(m_messages.shown.size(), 2u);
    EXPECT_EQ(m_messages.shown[0].text,
              "Testing the proxy you selected. This may take a few seconds");
    EXPECT_EQ(m_messages.shown[1].text,
              "Proxy Server is NOT Available - Please select a different proxy");
    EXPECT_EQ(busy, (std::vector<bool>{false, false}));
    EXPECT_TRUE(probe.busyWhileMeasuring);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_TRUE(window.isEnabled());
}

std::vector<std::string> ItemTexts(const QComboBox& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.count(); ++i) {
        items.push_back(list.itemText(i).toStdString());
    }
    return items;
}

// A long list file, with repeats and case variants, through the real page:
// each text listed once, in Qt's case-blind order, equal ones in file order;
// neither the first fill nor a later one touches the edit field, and an item
// picked stays picked.
TEST_F(ViewsTest, ALongListIsListedOnceInOrderAndLeavesTheEditFieldAlone) {
    std::string file;
    std::map<std::string, unsigned> first;  // each text's first line
    for (unsigned i = 0; i < 60000; ++i) {
        // Each of 40,000 texts once or twice, in 20,000 pairs equal but for
        // case.
        const unsigned n = i * 35761u % 40000;
        const unsigned m = n / 2;
        const std::string entry = (n % 2 == 0 ? "host" : "Host") + std::to_string(m) +
                                  ".example:" + std::to_string(m % 7);
        file += entry + "\r\r\n";
        first.emplace(entry, i);
    }
    m_folder.Write("proxylist.txt", file);
    m_settings.ProxyName.Set("typed:1");
    CMainWindowQt window(Services());
    window.Start();
    CSettingsPageQt& page = window.Sheet()->SettingsPage();
    auto* list = page.findChild<QComboBox*>("1028");
    const std::vector<std::string> items = ItemTexts(*list);
    ASSERT_EQ(items.size(), first.size());
    EXPECT_EQ(std::set<std::string>(items.begin(), items.end()).size(), first.size());
    EXPECT_TRUE(std::all_of(items.begin(), items.end(),
                            [&](const std::string& item) { return first.count(item) == 1; }));
    for (std::size_t i = 1; i < items.size(); ++i) {
        const int order = QString::fromStdString(items[i - 1])
                              .compare(QString::fromStdString(items[i]), Qt::CaseInsensitive);
        ASSERT_TRUE(order < 0 || (order == 0 && first.at(items[i - 1]) < first.at(items[i])))
            << items[i - 1] << " before " << items[i];
    }
    EXPECT_EQ(page.EditText(), "typed:1");
    EXPECT_EQ(list->currentIndex(), -1);

    // Picked, then typed over; entries come before and after it.
    list->setCurrentIndex(list->findText("host2.example:2"));
    list->lineEdit()->setText("typ");
    list->lineEdit()->setCursorPosition(1);
    const ProxyEntries listed = WithEntriesOf({}, FromStoredForm(file));
    page.ShowEntries(
        WithEntriesOf(listed, "a:1\r\nhost2.example:1\r\nzz:9\r\nHOST2.example:2\r\n"));
    EXPECT_EQ(list->count(), static_cast<int>(first.size()) + 4);
    EXPECT_EQ(list->itemText(0).toStdString(), "a:1");
    EXPECT_EQ(page.SelectedItemText(), "host2.example:2");
    EXPECT_GT(list->findText("HOST2.example:2"), list->currentIndex());
    EXPECT_EQ(page.EditText(), "typ");
    EXPECT_EQ(list->lineEdit()->cursorPosition(), 1);
    list->showPopup();
    EXPECT_TRUE(list->view()->isVisible());
    list->hidePopup();
}

// The marks of the last check come with the list: a picture for each kind,
// greyed entries that do not work, and the same words as tooltip and
// accessible description; the texts stay the endpoints.
TEST_F(ViewsTest, ListEntriesCarryTheirCheckMarksBesideUnchangedTexts) {
    m_folder.Write("proxylist.txt", "a:1\r\r\nb:2\r\r\nc:3\r\r\nd:4\r\r\ne:5\r\r\n");
    const auto now = std::chrono::floor<std::chrono::seconds>(std::chrono::system_clock::now());
    ProxyCheckTable last;
    last.Put({"a:1", ProxyState::kAlive, 120, ProxyGrade::kElite, true, now});
    last.Put({"b:2", ProxyState::kAlive, 90, ProxyGrade::kTransparent, false, now});
    last.Put({"c:3", ProxyState::kDead, 0, ProxyGrade::kNone, false, now});
    last.Put({"d:4", ProxyState::kBad, 0, ProxyGrade::kNone, false, now - std::chrono::hours(50)});
    ASSERT_EQ(WriteProxyCheckFile(m_folder.Path() + "/", last), FileError::None);
    CMainWindowQt window(Services());
    window.Start();
    CSettingsPageQt& page = window.Sheet()->SettingsPage();
    QAbstractItemModel& model = *page.findChild<QComboBox*>("1028")->model();
    const auto cell = [&](int row, int role) { return model.data(model.index(row, 0), role); };
    std::set<QByteArray> pictures;
    for (int row = 0; row < 5; ++row) {
        EXPECT_EQ(cell(row, Qt::DisplayRole).toString().toStdString(),
                  std::string(1, static_cast<char>('a' + row)) + ":" + std::to_string(row + 1));
        EXPECT_EQ(cell(row, Qt::ToolTipRole), cell(row, Qt::AccessibleDescriptionRole));
        const QImage picture = cell(row, Qt::DecorationRole).value<QIcon>().pixmap(12).toImage();
        pictures.emplace(reinterpret_cast<const char*>(picture.constBits()), picture.sizeInBytes());
    }
    EXPECT_EQ(pictures.size(), 5u);
    EXPECT_EQ(cell(0, Qt::ToolTipRole).toString().toStdString(),
              "alive, 120 ms, elite, HTTPS yes, checked just now");
    EXPECT_EQ(cell(3, Qt::ToolTipRole).toString().toStdString(),
              "bad: no valid answer, checked 2 days ago");
    EXPECT_EQ(cell(4, Qt::ToolTipRole).toString().toStdString(), "not checked yet");
    EXPECT_FALSE(cell(0, Qt::ForegroundRole).isValid());
    EXPECT_TRUE(cell(2, Qt::ForegroundRole).isValid());
    EXPECT_TRUE(cell(3, Qt::ForegroundRole).isValid());

    // A result redraws its row alone, and a new load leaves no mark on a
    // row that moved.
    std::vector<std::pair<int, int>> changed;
    QObject::connect(&model, &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& top, const QModelIndex& bottom) {
                         changed.emplace_back(top.row(), bottom.row());
                     });
    page.ShowEntryChecks({{4, {"e:5", ProxyState::kDead, 0, ProxyGrade::kNone, false, now}}});
    EXPECT_EQ(changed, (std::vector<std::pair<int, int>>{{4, 4}}));
    EXPECT_EQ(cell(4, Qt::ToolTipRole).toString().toStdString(), "dead, checked just now");
    page.ShowEntries(
        WithEntriesOf(WithEntriesOf({}, "a:1\r\nb:2\r\nc:3\r\nd:4\r\ne:5\r\n"), "0:0\r\n"));
    EXPECT_EQ(cell(1, Qt::ToolTipRole).toString().toStdString(), "not checked yet");
}

// Without a notification area (as here) nothing may hide the window: the
// close box and Enter minimise it. Enter is the window's OK, never a click
// of the page's "Save Settings"; Exit ends the run once the menu is done.
TEST_F(ViewsTest, CloseAndEnterKeepTheWindowReachableAndExitEndsTheRun) {
    CMainWindowQt window(Services());
    int ended = -1;
    window.SetOnEnd([&](int result) { ended = result; });
    window.Start();
    ASSERT_TRUE(window.isVisible());
    window.close();  // the close box: out of the way, not ended
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(window.isMinimized());
    EXPECT_EQ(ended, -1);
    window.ShowInFront();  // a second start
    EXPECT_TRUE(window.isVisible());
    EXPECT_FALSE(window.isMinimized());

    const std::size_t browserCalls = m_browser.Calls().size();
    for (const char* id : {"1002", "1028"}) {
        QWidget* control = window.Sheet()->SettingsPage().findChild<QWidget*>(id);
        ASSERT_NE(control, nullptr);
        control->setFocus();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(control, &enter);
        EXPECT_TRUE(window.isMinimized()) << id;
        window.ShowInFront();
    }
    EXPECT_EQ(m_browser.Calls().size(), browserCalls);  // nothing was saved

    QAction* exitItem = window.TrayMenu().findChild<QAction*>("32775");
    ASSERT_NE(exitItem, nullptr);
    exitItem->trigger();
    EXPECT_EQ(ended, -1);  // posted, as a menu's command is
    QCoreApplication::processEvents();
    EXPECT_EQ(ended, 0);
    ASSERT_FALSE(m_browser.Calls().empty());
    EXPECT_EQ(m_browser.Calls().back().operation, "Disable");
}

// The selection list keeps what is typed, and only a choice of an item
// tests it: typing a listed endpoint and leaving the field tests nothing.
TEST_F(ViewsTest, TypedTextIsNeitherCompletedNorTakenForAPick) {
    CMainWindowQt window(Services());
    window.Start();
    CSettingsPageQt& page = window.Sheet()->SettingsPage();
    const std::string closed = "127.0.0.1:" + std::to_string(testsupport::FreePort());
    page.ShowEntries(WithEntriesOf({}, closed + "\r\n"));
    auto* list = page.findChild<QComboBox*>("1028");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->completer(), nullptr);
    QLineEdit* edit = list->lineEdit();
    ASSERT_NE(edit, nullptr);
    list->setFocus();
    for (const QChar c : QStringLiteral("127")) {
        QKeyEvent key(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(list, &key);
    }
    EXPECT_EQ(page.EditText(), "127");

    m_messages.shown.clear();
    edit->setText(QString::fromStdString(closed));
    emit edit->editingFinished();  // focus leaves the field
    EXPECT_TRUE(m_messages.shown.empty());

    // A pick with the keys is one: the next item, tested.
    list->setCurrentIndex(-1);
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QApplication::sendEvent(list, &down);
    ASSERT_EQ(m_messages.shown.size(), 2u);
    EXPECT_EQ(m_messages.shown[1].text,
              "Proxy Server is NOT Available - Please select a different proxy");
}

// A real box (not the one-line form) is answered under the ordinary pointer
// even while the page shows that it waits.
TEST_F(ViewsTest, MessageBoxesAreAnsweredWithTheOrdinaryPointer) {
    CMessageBoxQt box(nullptr);
    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    Qt::CursorShape during = Qt::WaitCursor;
    QString shownText;
    QTimer::singleShot(0, [&] {
        during = QGuiApplication::overrideCursor()->shape();
        if (auto* shown = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shownText = shown->text();
            shown->button(QMessageBox::Ok)->click();
        }
    });
    box.Show("Proxy List Updated", "", MessageIcon::None);
    EXPECT_EQ(shownText.toStdString(), "Proxy List Updated");
    EXPECT_EQ(during, Qt::ArrowCursor);
    ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QGuiApplication::restoreOverrideCursor();
}

TEST_F(ViewsTest, OffscreenBoxesAreOneLineOnTheErrorStreamAndAboutFollowsItsTemplate) {
    std::ostringstream out;
    CMessageBoxQt box(&out);
    box.Show("Please enter a proxy address", "WARNING", MessageIcon::None);
    box.Show("Proxy List Updated", "", MessageIcon::Stop);
    EXPECT_EQ(out.str(), "WARNING: Please enter a proxy address\n: Proxy List Updated\n");

    CAboutDialogQt about(nullptr);
    EXPECT_EQ(about.windowTitle().toStdString(), "About Quillon ...");
    ExpectControls(about, {{"1", "QPushButton", "OK", Du(48, 78, 50, 14)}});
    const std::vector<std::string> texts = Texts(about);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], "Quillon Version 1.1");
    EXPECT_EQ(LogoBitmap().size(), QSize(200, 31));
    EXPECT_FALSE(ApplicationIcon().isNull());
}

// A later copy hands over to the running one and ends only once the running
// copy has shown its window; a request that arrives with the connection is
// not lost.
TEST(SingleInstanceTest, ALaterCopyEndsOnceTheRunningOneHasShownItsWindow) {
    testsupport::TempDir folder;
    const QString name = QString::fromStdString(folder.Path() + "/instance");
    CLocalSingleInstance first(name);
    ASSERT_TRUE(first.Claim());
    std::atomic<int> shown{0};
    first.SetOnShowRequest([&] { ++shown; });
    // Three later copies one after the other, while this copy's loop runs.
    std::vector<int> shownWhenEnded;
    QEventLoop loop;
    std::thread later([&] {
        for (int copy = 1; copy <= 3; ++copy) {
            CLocalSingleInstance second(name);
            if (!second.Claim()) {
                second.HandOver();
            }
            shownWhenEnded.push_back(shown.load());
        }
        QMetaObject::invokeMethod(
            &loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
    });
    // Runs until the later copies are done: a time bound, not a count of
    // turns, which a loop with nothing to do would use up at once.
    QTimer::singleShot(60000, &loop, [&loop] { loop.quit(); });
    loop.exec();
    later.join();
    EXPECT_EQ(shownWhenEnded, (std::vector<int>{1, 2, 3}));
}

}  // namespace

// The application lives in main's frame, so that it is gone, with its fonts,
// before the process ends.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
