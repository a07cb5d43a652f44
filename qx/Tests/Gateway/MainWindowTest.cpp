#include <gtest/gtest.h>
#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QMenu>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QTranslator>
#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <vector>

#include "Gateway/Code_MainWindow.h"
#include "Platform/Env.h"
#include "Qx/QxApp.h"
#include "Support/Wait.h"

// The window's neighbours, recorded: the refresh action and the host's tray functions.
namespace {

// The window keeps its geometry in the gateway's settings.
struct SETTINGS : testing::Environment {
    void SetUp() override {
        _OS::ENV::Initialize("Bartender", 0, nullptr);
        _OS::ENV::SetDisplayName("Morvash 条码模版服务");
    }
};
testing::Environment* const kSettings = testing::AddGlobalTestEnvironment(new SETTINGS);

struct Balloon {
    std::string title;
    std::string text;
    int kind;
    int seconds;
};

std::mutex g_BalloonsMutex;
std::vector<Balloon> g_Balloons;
std::atomic<int> g_Refreshes{0};

std::vector<Balloon> Balloons() {
    std::lock_guard<std::mutex> lock(g_BalloonsMutex);
    return g_Balloons;
}

}  // namespace

QSystemTrayIcon* _QX::APP::CreateTrayIcon() {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_TrayIcon = new QSystemTrayIcon(g_Application);
    return g_TrayIcon;
}

void _QX::APP::ShowTrayMessage(std::string title, std::string text, int kind, int seconds) {
    std::lock_guard<std::mutex> lock(g_BalloonsMutex);
    g_Balloons.push_back({title, text, kind, seconds});
}

namespace {

using namespace std::chrono_literals;

const char* const kKeys[] = {"Qt/Win_Main/WindowX", "Qt/Win_Main/WindowY", "Qt/Win_Main/WindowW",
                             "Qt/Win_Main/WindowH"};

std::optional<std::string> Stored(const std::string& key) {
    return _OS::ENV::GetRegDatabase()->Get(key);
}

QColor IconColour(const QIcon& icon) {
    return icon.pixmap(48, 48).toImage().pixelColor(5, 5);
}

// Runs on a worker thread while the main thread keeps its loop turning.
void FromWorker(const std::function<void()>& work) {
    auto done = std::async(std::launch::async, work);
    ASSERT_TRUE(SUPPORT::WaitUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        return done.wait_for(0ms) == std::future_status::ready;
    }));
}

struct MainWindowTest : ::testing::Test {
    void SetUp() override {
        Code_MainWindow::SetRefreshAction([] { ++g_Refreshes; });
        window = Code_MainWindow::Create();
        g_Balloons.clear();
    }
    void TearDown() override {
        delete window.data();
        // Later tests start from an empty registry again.
        for (const char* key : kKeys)
            _OS::ENV::GetRegDatabase()->Put(key, "null");
    }

    QPointer<Code_MainWindow> window;
};

TEST_F(MainWindowTest, EmptyRegistryGivesTheDefaultGeometry) {
    EXPECT_EQ(window->pos(), QPoint(0, 0));
    EXPECT_EQ(window->size(), QSize(480, 480));
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->windowFlags().testFlag(Qt::Tool));
    EXPECT_TRUE(window->m_TrayIcon->isVisible());
    EXPECT_EQ(window->m_TrayIcon->toolTip(), QString::fromUtf8("Morvash 条码模版服务"));
    EXPECT_EQ(IconColour(window->m_TrayIcon->icon()).name(), "#f44336");
}

TEST_F(MainWindowTest, StoredGeometryIsUsedAndRaisedToTheMinimum) {
    delete window.data();
    const char* const stored[] = {"30", "40", "100", "50"};
    for (size_t i = 0; i < std::size(kKeys); ++i)
        _OS::ENV::GetRegDatabase()->Put(kKeys[i], stored[i]);
    window = Code_MainWindow::Create();
    EXPECT_EQ(window->pos(), QPoint(30, 40));
    EXPECT_EQ(window->size(), QSize(480, 320));
}

TEST_F(MainWindowTest, CloseWithTheTrayShownOnlyHides) {
    std::vector<std::optional<std::string>> before;
    for (const char* key : kKeys)
        before.push_back(Stored(key));
    window->move(12, 34);
    window->showNormal();
    ASSERT_TRUE(window->isVisible());
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isHidden());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    ASSERT_TRUE(window);
    for (size_t i = 0; i < std::size(kKeys); ++i)
        EXPECT_EQ(Stored(kKeys[i]), before[i]) << kKeys[i];
}

TEST_F(MainWindowTest, CloseWithoutTrayStoresGeometryAndDeletesTheWindow) {
    window->move(12, 34);
    window->resize(500, 400);
    window->m_TrayIcon->setVisible(false);
    window->showNormal();
    EXPECT_TRUE(window->close());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_FALSE(window);
    EXPECT_EQ(Stored("Qt/Win_Main/WindowW"), "500");
    EXPECT_EQ(Stored("Qt/Win_Main/WindowH"), "400");
    EXPECT_TRUE(Stored("Qt/Win_Main/WindowX").has_value());

    // The window is gone: a late connection change must not reach it.
    FromWorker([] { Code_MainWindow::SetConnected(true); });
    EXPECT_TRUE(Balloons().empty());
}

TEST_F(MainWindowTest, SetConnectedSwitchesColourAndShowsABalloonEachTime) {
    FromWorker([] { Code_MainWindow::SetConnected(true); });
    EXPECT_EQ(IconColour(window->windowIcon()).name(), "#2196f3");
    EXPECT_EQ(IconColour(window->m_TrayIcon->icon()).name(), "#2196f3");
    FromWorker([] { Code_MainWindow::SetConnected(true); });
    FromWorker([] { Code_MainWindow::SetConnected(false); });
    EXPECT_EQ(IconColour(window->windowIcon()).name(), "#f44336");
    EXPECT_EQ(IconColour(window->m_TrayIcon->icon()).name(), "#f44336");

    const auto balloons = Balloons();
    ASSERT_EQ(balloons.size(), 3u);
    for (const Balloon& b : balloons) {
        EXPECT_EQ(b.title, "Morvash 条码模版服务");
        EXPECT_EQ(b.seconds, 3);
    }
    EXPECT_EQ(balloons[0].text, "连线成功");
    EXPECT_EQ(balloons[0].kind, _QX::APP::TRAY_INFORMATION);
    EXPECT_EQ(balloons[1].text, "连线成功");
    EXPECT_EQ(balloons[2].text, "连线中断");
    EXPECT_EQ(balloons[2].kind, _QX::APP::TRAY_CRITICAL);
}

TEST_F(MainWindowTest, TrayMenu) {
    QMenu* menu = window->m_TrayMenu;
    ASSERT_EQ(window->m_TrayIcon->contextMenu(), menu);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 4);
    EXPECT_EQ(actions[0]->text(), QString::fromUtf8("结束程序"));
    EXPECT_EQ(actions[1]->text(), QString::fromUtf8("显示纪录"));
    EXPECT_EQ(actions[2]->text(), QString::fromUtf8("刷新模版"));
    EXPECT_EQ(actions[3]->text(), QString::fromUtf8("模版文件夹"));

    const int before = g_Refreshes;
    actions[2]->trigger();
    EXPECT_EQ(g_Refreshes, before + 1);

    actions[1]->trigger();
    EXPECT_TRUE(window->isVisible());

    emit window->m_TrayIcon->activated(QSystemTrayIcon::DoubleClick);
    EXPECT_FALSE(menu->isVisible());
    emit window->m_TrayIcon->activated(QSystemTrayIcon::Trigger);
    EXPECT_TRUE(menu->isVisible());
    menu->hide();
}

TEST(GatewayResourcesTest, GlyphAndTranslationsAreCompiledIn) {
    EXPECT_TRUE(QFile::exists(":/Resource/Svg/qr_code.svg"));
    for (const char* language : {"zh_CN", "zh_TW", "en"}) {
        _QX::APP::LoadTranslator("Bartender", language);
        std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
        ASSERT_NE(_QX::APP::g_Translator, nullptr) << language;
        EXPECT_EQ(_QX::APP::g_Translator->filePath(),
                  QString(":/i18n/Bartender_%1.qm").arg(language));
        EXPECT_TRUE(_QX::APP::g_Translator->isEmpty());
    }
}

}  // namespace
