#include "Qx/QxApp.h"

#include <QApplication>
#include <QLocale>
#include <QMessageBox>
#include <QThread>
#include <QTranslator>
#include <chrono>
#include <exception>
#include <future>
#include <memory>
#include <thread>
#include <utility>

#include "Platform/Gcd.h"
#include "Platform/Log.h"

namespace _QX::APP {

std::mutex g_Mutex;
QApplication* g_Application = nullptr;
QTranslator* g_Translator = nullptr;
QWidget* g_MainWidget = nullptr;
QSystemTrayIcon* g_TrayIcon = nullptr;
std::atomic<bool> g_QtStarted{false};

namespace {

// QApplication keeps a reference to its argument count for its whole life.
int s_Argc = 0;

// Nothing may leave a task through Qt's event loop: what it throws is logged here instead.
bool RunCaught(const std::function<void()>& task) {
    try {
        task();
        return true;
    } catch (const std::exception& e) {
        _LOG::Error(std::string("A task on the main thread failed: ") + e.what());
    } catch (...) {
        _LOG::Error("A task on the main thread failed with an unknown exception");
    }
    return false;
}

}  // namespace

void WaitQtStarted() {
    while (!g_QtStarted.load()) {
        std::this_thread::sleep_until(std::chrono::steady_clock::now() +
                                      std::chrono::milliseconds(10));
    }
}

std::string LanguageForLocale(QLocale::Language language, QLocale::Script script) {
    if (language != QLocale::Chinese)
        return "en";
    switch (script) {
        case QLocale::SimplifiedHanScript:
            return "zh_CN";
        case QLocale::TraditionalHanScript:
            return "zh_TW";
        default:
            return {};
    }
}

QApplication* CreateApplication(int argc, char** argv) {
    std::lock_guard<std::mutex> lock(g_Mutex);
    s_Argc = argc;
    g_Application = new QApplication(s_Argc, argv);
    return g_Application;
}

void LoadTranslator(const std::string& appId, const std::string& language) {
    const QLocale system = QLocale::system();
    const std::string lang =
        language.empty() ? LanguageForLocale(system.language(), system.script()) : language;
    if (lang.empty())
        return;
    const QString file = QString::fromStdString(":/i18n/" + appId + "_" + lang);

    auto* translator = new QTranslator;
    QTranslator* previous = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        previous = std::exchange(g_Translator, translator);
    }
    delete previous;
    if (translator->load(file)) {
        QCoreApplication::installTranslator(translator);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        g_Translator = nullptr;
    }
    delete translator;
}

QApplication* GetApplication() {
    std::lock_guard<std::mutex> lock(g_Mutex);
    return g_Application;
}

void SetMainWidget(QWidget* widget) {
    std::lock_guard<std::mutex> lock(g_Mutex);
    g_MainWidget = widget;
}

void ShutdownApp() {
    QTranslator* translator = nullptr;
    QApplication* app = nullptr;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        translator = std::exchange(g_Translator, nullptr);
        app = std::exchange(g_Application, nullptr);
    }
    delete translator;
    if (!app)
        return;
    // The loop is over: invocations queued during its last turn would never run. Dropping
    // them releases their waiting callers.
    QCoreApplication::removePostedEvents(app, QEvent::MetaCall);
    _GCD::Post(
        [app] {
            std::lock_guard<std::mutex> lock(g_Mutex);
            app->deleteLater();
        },
        _GCD::QUEUE_SERIAL);
}

bool InvokeBlocking(const std::function<void()>& task) {
    auto done = std::make_shared<std::promise<bool>>();
    std::future<bool> ran = done->get_future();
    bool onMainThread = false;
    {
        std::lock_guard<std::mutex> lock(g_Mutex);
        if (!g_Application)
            return false;
        onMainThread = QThread::currentThread() == g_Application->thread();
        if (!onMainThread) {
            // Posted under the lock: ShutdownApp either finds this call queued and drops it,
            // or we find the null pointer. A caller never waits for a loop that has ended.
            // Taking the lock again before the task runs shows ThreadSanitizer the order the
            // event queue gives (inside Qt, which it cannot see) between our writes and the
            // task's reads.
            QMetaObject::invokeMethod(
                g_Application,
                [task, done] {
                    { std::lock_guard<std::mutex> handedOver(g_Mutex); }
                    done->set_value(RunCaught(task));
                },
                Qt::QueuedConnection);
        }
    }
    if (onMainThread)
        return RunCaught(task);
    // Only the queued call holds the promise now: dropping it unblocks us.
    done.reset();
    try {
        return ran.get();
    } catch (const std::future_error&) {
        return false;
    }
}

void ShutdownWithMessage(const std::string& text) {
    const QString message = QString::fromStdString(text);
    InvokeBlocking([message] {
        QMessageBox::information(nullptr, QStringLiteral("Shutdown"), message, QMessageBox::Ok,
                                 QMessageBox::NoButton);
        QCoreApplication::quit();
    });
}

}  // namespace _QX::APP
