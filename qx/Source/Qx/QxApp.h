#pragma once

#include <QLocale>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>

class QApplication;
class QSystemTrayIcon;
class QTranslator;
class QWidget;

// Runs Qt on the main thread of a program whose other threads belong to _GCD, and gives the
// workers their ways to reach the operator.
namespace _QX::APP {

// Guards the four pointers below; held for one read, write, construction or posting only.
extern std::mutex g_Mutex;
// Null before CreateApplication and again as soon as ShutdownApp has run: from then on the
// main thread serves no invocation.
extern QApplication* g_Application;
extern QTranslator* g_Translator;
extern QWidget* g_MainWidget;
extern QSystemTrayIcon* g_TrayIcon;
// Set once, just before the event loop starts; never cleared.
extern std::atomic<bool> g_QtStarted;

// Worker threads: returns once g_QtStarted is set, testing it every 10 ms.
void WaitQtStarted();

QApplication* CreateApplication(int argc, char** argv);
// The translation language of a locale: "en" unless Chinese; Chinese gives "zh_CN" in
// Simplified Han script, "zh_TW" in Traditional Han script, and none (empty) in any other.
std::string LanguageForLocale(QLocale::Language language, QLocale::Script script);
// Loads ":/i18n/<appId>_<language>"; an empty language comes from the system locale.
void LoadTranslator(const std::string& appId, const std::string& language);
// A tray icon object that is a Qt child of the application object.
QSystemTrayIcon* CreateTrayIcon();
QApplication* GetApplication();
void SetMainWidget(QWidget* widget);
// Main thread, after the event loop returned: removes the translator, stops serving
// invocations and hands the application object to a clean-up task on queue 1.
void ShutdownApp();

// Runs task on the main thread and waits until it has run. Returns false, without running
// it, when there is no application object or it is shut down before serving the call, and
// false when the task throws: what it threw is logged and goes no further.
// On the main thread itself the task runs at once.
bool InvokeBlocking(const std::function<void()>& task);
// Worker threads: the "Shutdown" box on the main thread, then the end of the event loop.
// Returns once the box has been closed.
void ShutdownWithMessage(const std::string& text);
// Icon kinds of a tray balloon; any other value shows none.
constexpr int TRAY_INFORMATION = 1;
constexpr int TRAY_WARNING = 2;
constexpr int TRAY_CRITICAL = 3;
// Any thread: a tray balloon on the main thread; never waits.
void ShowTrayMessage(std::string title, std::string text, int kind, int seconds);

}  // namespace _QX::APP
