#include <gtest/gtest.h>
#include <spdlog/sinks/ostream_sink.h>
#include <spdlog/spdlog.h>

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "Automation/CAxRegistry.h"
#include "Gateway/Code_Bartender.h"
#include "Platform/Gcd.h"
#include "Platform/NormalPath.h"
#include "Qx/QxApp.h"
#include "Support/ChildScenario.h"
#include "Support/Wait.h"

namespace {

using _QX::IAutomationObject;

const QString PROG_ID = QStringLiteral("BarTender.Application");

std::thread::id g_MainThread;
std::ostringstream g_Log;

struct CALL {
    QString Object;
    QByteArray Member;
    QVariantList Args;
    std::thread::id Thread;
};

// What the in-process test engine answers, and what it was asked.
struct FAKE_ENGINE {
    std::vector<CALL> Calls;
    QVariant Width = 100.0;
    QVariant Height = 50.0;
    QVariant Orientation = 0;
    bool HasFormats = true;
    bool ExportsImage = true;
    int LivePageSetups = 0;

    std::vector<CALL> Of(const QByteArray& member) const {
        std::vector<CALL> out;
        for (const CALL& call : Calls)
            if (call.Member == member)
                out.push_back(call);
        return out;
    }
};
FAKE_ENGINE g_Fake;

// Objects are named "application", "formats", a format by the path it was opened with, and
// "page:" followed by the format's name. A path containing "missing" does not open.
struct Code_FakeObject : IAutomationObject {
    QX_REFCOUNTED
public:
    explicit Code_FakeObject(QString name) : m_Name(std::move(name)) {
        if (IsPage())
            ++g_Fake.LivePageSetups;
    }
    ~Code_FakeObject() override {
        if (IsPage())
            --g_Fake.LivePageSetups;
    }

    QVariant Invoke(const QByteArray& member, const QVariantList& args) override {
        g_Fake.Calls.push_back({m_Name, member, args, std::this_thread::get_id()});
        if (member == "PaperWidth(QVariant) ")
            return g_Fake.Width;
        if (member == "PaperHeight(QVariant) ")
            return g_Fake.Height;
        if (member == "Orientation")
            return g_Fake.Orientation;
        if (member == "ExportToClipboard(int,int)" && g_Fake.ExportsImage) {
            QImage image(16, 8, QImage::Format_RGB32);
            image.fill(Qt::blue);
            QGuiApplication::clipboard()->setImage(image);
        }
        return true;
    }

    _OBJ<IAutomationObject> SubObject(const QByteArray& member, const QVariantList& args) override {
        g_Fake.Calls.push_back({m_Name, member, args, std::this_thread::get_id()});
        if (m_Name == "application" && member == "Formats" && g_Fake.HasFormats)
            return New("formats");
        if (m_Name == "formats" && member == "Open(QString,bool,char *)" &&
            !args.value(0).toString().contains("missing"))
            return New(args.value(0).toString());
        if (member == "PageSetup")
            return New("page:" + m_Name);
        return {};
    }

private:
    static _OBJ<IAutomationObject> New(const QString& name) {
        return _OBJ<IAutomationObject>(new Code_FakeObject(name));
    }
    bool IsPage() const { return m_Name.startsWith("page:"); }

    QString m_Name;
};

void RegisterFake() {
    g_Fake = FAKE_ENGINE();
    _QX::CAxRegistry::Register(PROG_ID, [] {
        return _OBJ<IAutomationObject>(new Code_FakeObject(QStringLiteral("application")));
    });
}

void SetClipboardImage(const QImage& image) {
    _QX::APP::InvokeBlocking([image] { QGuiApplication::clipboard()->setImage(image); });
}

QImage Marker() {
    QImage image(2, 2, QImage::Format_RGB32);
    image.fill(Qt::red);
    return image;
}

struct FakeEngineTest : testing::Test {
    void SetUp() override {
        RegisterFake();
        m_Bartender = Code_Bartender::Create();
        ASSERT_TRUE(m_Bartender);
        g_Fake.Calls.clear();
    }
    void TearDown() override {
        m_Bartender.reset();
        _QX::CAxRegistry::Unregister(PROG_ID);
    }

    _OBJ<IBartender> m_Bartender;
};

TEST_F(FakeEngineTest, OneFileIsOpenedOnceHoweverItsPathIsWritten) {
    const bool windows = _OS::kPathRule == _OS::PATH_RULE::WINDOWS;
    EXPECT_TRUE(m_Bartender->Open(windows ? u"C:\\Formats\\A.btw" : u"C:/Formats/A.btw"));
    ASSERT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 1u);
    const QVariantList args = g_Fake.Of("Open(QString,bool,char *)")[0].Args;
    EXPECT_EQ(args, (QVariantList{QStringLiteral("C:/Formats/A.btw"), false, QString("")}));
    EXPECT_EQ(args[1].typeId(), QMetaType::Bool);

    const std::u16string cwd = QDir::currentPath().toStdU16String();
    for (const std::u16string& spelling :
         {std::u16string(u"C:/Formats/A.btw"), std::u16string(u"C:/Formats//A.btw"),
          std::u16string(u"C:/Formats/./x/../A.btw"), cwd + u"/C:/Formats/A.btw"}) {
        EXPECT_TRUE(m_Bartender->Open(spelling))
            << QString::fromStdU16String(spelling).toStdString();
        EXPECT_TRUE(m_Bartender->Activate(spelling));
    }
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 1u);

    // Letter case names another file here, the same one on Windows.
    EXPECT_TRUE(m_Bartender->Open(u"C:/Formats/a.btw"));
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), windows ? 1u : 2u);

    // Outside Windows a backslash is a character of a name: another file, named as it is.
    if (!windows) {
        EXPECT_TRUE(m_Bartender->Open(u"C:/Formats\\A.btw"));
        ASSERT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 3u);
        EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)")[2].Args[0],
                  QStringLiteral("C:/Formats\\A.btw"));
    }
}

// A real file is known by its identity through a link, and by its name once it has been saved
// anew (another file under the same name), as the format the engine holds open still is.
TEST_F(FakeEngineTest, AFileIsKnownThroughALinkAndByItsNameOnceReplaced) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path file = dir.filePath("a.btw").toStdU16String();
    const std::filesystem::path link = dir.filePath("link.btw").toStdU16String();
    const std::filesystem::path saved = dir.filePath("saved.tmp").toStdU16String();
    std::ofstream(file) << "one";
    std::filesystem::create_symlink(file, link);

    ASSERT_TRUE(m_Bartender->Open(file.u16string()));
    ASSERT_TRUE(m_Bartender->Open(link.u16string()));
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 1u);

    std::ofstream(saved) << "two";
    std::filesystem::rename(saved, file);
    EXPECT_TRUE(m_Bartender->Activate(file.u16string()));
    EXPECT_TRUE(m_Bartender->Activate(link.u16string()));
    m_Bartender->Close(file.u16string());
    EXPECT_FALSE(m_Bartender->Activate(link.u16string()));
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 1u);
}

// A file's identity passes to other files once it is gone (inode numbers are reused at once):
// it finds a format only while the name the format was opened under still names that file.
// Moving the file away and making a new one under its name shows the same as a reuse.
TEST_F(FakeEngineTest, AnIdentityCountsOnlyWhileItsNameStillNamesTheFile) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::filesystem::path file = dir.filePath("a.btw").toStdU16String();
    const std::filesystem::path moved = dir.filePath("moved.btw").toStdU16String();
    std::ofstream(file) << "one";
    ASSERT_TRUE(m_Bartender->Open(file.u16string()));

    std::filesystem::rename(file, moved);
    std::ofstream(file) << "two";
    EXPECT_FALSE(m_Bartender->Activate(moved.u16string()));
    EXPECT_TRUE(m_Bartender->Activate(file.u16string()));
    ASSERT_TRUE(m_Bartender->Open(moved.u16string()));
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 2u);
}

TEST_F(FakeEngineTest, FailedOpenLeavesNothingOpenAndAsksTheEngineAgain) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/A.btw"));
    EXPECT_FALSE(m_Bartender->Open(u"C:/missing.btw"));
    EXPECT_FALSE(m_Bartender->GetPageSetup());
    EXPECT_FALSE(m_Bartender->Activate(u"C:/missing.btw"));
    EXPECT_FALSE(m_Bartender->Open(u"C:/missing.btw"));
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 3u);

    const char16_t lone[] = {u'C', u':', u'/', 0xD800, u'.', u'b', u't', u'w', 0};
    EXPECT_FALSE(m_Bartender->Open(lone));
    EXPECT_FALSE(m_Bartender->Activate(lone));
    m_Bartender->Close(lone);
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 3u);
}

TEST_F(FakeEngineTest, ActivateOfUnknownPathLeavesNoFormatCurrent) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/A.btw"));
    g_Fake.Calls.clear();
    EXPECT_FALSE(m_Bartender->Activate(u"C:/Other.btw"));
    QImage image = Marker();
    EXPECT_FALSE(m_Bartender->ExportImage(image, 300));
    EXPECT_EQ(image, Marker());
    EXPECT_FALSE(m_Bartender->GetPageSetup());
    m_Bartender->SetNamedSubStringValue("Name", "Value");
    EXPECT_TRUE(g_Fake.Calls.empty());
}

TEST_F(FakeEngineTest, CloseAndCloseAllCloseInKeyOrderAndClearTheCurrentFormat) {
    for (const char16_t* path : {u"C:/b.btw", u"C:/c.btw", u"C:/a.btw"})
        ASSERT_TRUE(m_Bartender->Open(path));
    g_Fake.Calls.clear();
    m_Bartender->Close(u"C:/none.btw");
    EXPECT_TRUE(g_Fake.Calls.empty());

    m_Bartender->Close(u"C:/./c.btw");
    ASSERT_EQ(g_Fake.Calls.size(), 1u);
    EXPECT_EQ(g_Fake.Calls[0].Object, "C:/c.btw");
    EXPECT_EQ(g_Fake.Calls[0].Args, QVariantList{1});
    EXPECT_TRUE(m_Bartender->GetPageSetup()) << "c was not current";

    m_Bartender->Close(u"C:/a.btw");
    EXPECT_FALSE(m_Bartender->GetPageSetup());

    ASSERT_TRUE(m_Bartender->Open(u"C:/a.btw"));
    g_Fake.Calls.clear();
    m_Bartender->CloseAll();
    ASSERT_EQ(g_Fake.Calls.size(), 2u);
    EXPECT_EQ(g_Fake.Calls[0].Object, "C:/a.btw");
    EXPECT_EQ(g_Fake.Calls[1].Object, "C:/b.btw");
    EXPECT_FALSE(m_Bartender->GetPageSetup());
    EXPECT_FALSE(m_Bartender->Activate(u"C:/b.btw"));

    g_Fake.Calls.clear();
    m_Bartender->CloseAll();
    EXPECT_TRUE(g_Fake.Calls.empty());
    EXPECT_TRUE(m_Bartender->Open(u"C:/b.btw"));
    EXPECT_EQ(g_Fake.Of("Open(QString,bool,char *)").size(), 1u);
}

TEST_F(FakeEngineTest, PageSetupKeepsTheLowestOrientationBitAndReadsNonNumbersAsZero) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/A.btw"));
    g_Fake.Width = 101.5;
    g_Fake.Height = QStringLiteral("49.25");
    g_Fake.Orientation = 3;
    auto setup = m_Bartender->GetPageSetup();
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->WidthInMm, 101.5);
    EXPECT_EQ(setup->HeightInMm, 49.25);
    EXPECT_EQ(setup->Orientation, 1);
    EXPECT_EQ(g_Fake.LivePageSetups, 0);

    const std::vector<CALL> page(g_Fake.Calls.end() - 3, g_Fake.Calls.end());
    EXPECT_EQ(page[0].Member, QByteArray("PaperWidth(QVariant) "));
    EXPECT_EQ(page[1].Member, QByteArray("PaperHeight(QVariant) "));
    EXPECT_EQ(page[2].Member, QByteArray("Orientation"));
    EXPECT_EQ(page[0].Args, QVariantList{3});
    EXPECT_EQ(page[0].Args[0].typeId(), QMetaType::Int);
    EXPECT_TRUE(page[2].Args.isEmpty());

    g_Fake.Width = QStringLiteral("wide");
    g_Fake.Height = QVariant();
    g_Fake.Orientation = 2;
    setup = m_Bartender->GetPageSetup();
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->WidthInMm, 0.0);
    EXPECT_EQ(setup->HeightInMm, 0.0);
    EXPECT_EQ(setup->Orientation, 0);
}

TEST_F(FakeEngineTest, ExportFailsWhenTheEngineLeavesNoImage) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/A.btw"));
    QImage image;
    EXPECT_TRUE(m_Bartender->ExportImage(image, 203));
    EXPECT_EQ(image.size(), QSize(16, 8));
    EXPECT_EQ(g_Fake.Of("ExportToClipboard(int,int)").back().Args, (QVariantList{0, 203}));

    g_Fake.ExportsImage = false;
    SetClipboardImage(Marker());
    EXPECT_FALSE(m_Bartender->ExportImage(image, 203));
    EXPECT_TRUE(image.isNull());
}

TEST_F(FakeEngineTest, NulByteEndsSubstringNameAndValue) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/A.btw"));
    m_Bartender->SetNamedSubStringValue(std::string("Pa\0rt", 5), std::string("中\0文", 5));
    m_Bartender->SetNamedSubStringValue("名称", "");
    const auto calls = g_Fake.Of("SetNamedSubStringValue(char *,char *)");
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].Args, (QVariantList{QStringLiteral("Pa"), QStringLiteral("中")}));
    EXPECT_EQ(calls[0].Args[0].typeId(), QMetaType::QString);
    EXPECT_EQ(calls[1].Args, (QVariantList{QStringLiteral("名称"), QStringLiteral("")}));
}

TEST_F(FakeEngineTest, EveryEngineCallRunsOnTheMainThread) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/A.btw"));
    ASSERT_TRUE(m_Bartender->Activate(u"C:/A.btw"));
    m_Bartender->SetNamedSubStringValue("Part", "P-1");
    QImage image;
    EXPECT_TRUE(m_Bartender->ExportImage(image, 100));
    EXPECT_TRUE(m_Bartender->GetPageSetup());
    m_Bartender->CloseAll();
    m_Bartender.reset();
    ASSERT_GE(g_Fake.Calls.size(), 10u);
    for (const CALL& call : g_Fake.Calls)
        EXPECT_EQ(call.Thread, g_MainThread) << call.Member.constData();
    EXPECT_EQ(g_Fake.Of("Quit(int)").size(), 1u);
}

TEST_F(FakeEngineTest, DestroyedWithoutApplicationCleansUpOnTheDestroyingThread) {
    ASSERT_TRUE(m_Bartender->Open(u"C:/b.btw"));
    ASSERT_TRUE(m_Bartender->Open(u"C:/a.btw"));
    g_Fake.Calls.clear();
    QApplication* app = nullptr;
    {
        std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
        app = std::exchange(_QX::APP::g_Application, nullptr);
    }
    EXPECT_FALSE(m_Bartender->Open(u"C:/c.btw"));
    EXPECT_FALSE(m_Bartender->Activate(u"C:/a.btw"));
    EXPECT_FALSE(m_Bartender->GetPageSetup());
    m_Bartender.reset();
    {
        std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
        _QX::APP::g_Application = app;
    }
    ASSERT_EQ(g_Fake.Calls.size(), 3u);
    EXPECT_EQ(g_Fake.Calls[0].Object, "C:/a.btw");
    EXPECT_EQ(g_Fake.Calls[1].Object, "C:/b.btw");
    EXPECT_EQ(g_Fake.Calls[0].Member, QByteArray("Close(int)"));
    EXPECT_EQ(g_Fake.Calls[1].Member, QByteArray("Close(int)"));
    EXPECT_EQ(g_Fake.Calls[2].Object, "application");
    EXPECT_EQ(g_Fake.Calls[2].Member, QByteArray("Quit(int)"));
    EXPECT_EQ(g_Fake.Calls[2].Args, QVariantList{1});
    for (const CALL& call : g_Fake.Calls)
        EXPECT_EQ(call.Thread, std::this_thread::get_id());
}

TEST(BartenderCreateTest, WithoutEngineLogsOnceAndReturnsEmpty) {
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    qputenv("QX_AUTOMATION_PATH", empty.path().toUtf8());
    g_Log.str({});
    EXPECT_FALSE(Code_Bartender::Create());
    qputenv("QX_AUTOMATION_PATH", QX_ENGINE_DIR);
    spdlog::get("capture")->flush();
    EXPECT_EQ(g_Log.str(), "Failed to connect to Bartender Engine\n");
}

TEST(BartenderCreateTest, WithoutFormatsFailsSilentlyAndQuitsTheEngine) {
    RegisterFake();
    g_Fake.HasFormats = false;
    g_Log.str({});
    EXPECT_FALSE(Code_Bartender::Create());
    _QX::CAxRegistry::Unregister(PROG_ID);
    EXPECT_EQ(g_Log.str(), "");
    ASSERT_EQ(g_Fake.Of("Quit(int)").size(), 1u);
    EXPECT_EQ(g_Fake.Of("Quit(int)")[0].Args, QVariantList{1});
}

// Ends the event loop while a worker keeps calling the wrapper; the exit must not wait for
// a call that the main thread no longer serves. Runs in a child with Qt on its main thread.
void CallsInFlightWhenTheLoopEndsFail() {
    static int argc = 1;
    static char name[] = "BartenderTest";
    static char* argv[] = {name, nullptr};
    RegisterFake();
    _OBJ<IBartender> bartender;
    bool created = false;
    int callsAfterQuit = -1;
    _GCD::Run(
        [&] {
            _GCD::Post(
                [&] {
                    SUPPORT::WaitUntil([] { return _QX::APP::g_QtStarted.load(); });
                    bartender = Code_Bartender::Create();
                    created =
                        bartender && bartender->Open(u"C:/a.btw") && bartender->Open(u"C:/b.btw");
                    QMetaObject::invokeMethod(
                        _QX::APP::GetApplication(), [] { QCoreApplication::quit(); },
                        Qt::QueuedConnection);
                    if (!created)
                        return;
                    callsAfterQuit = 0;
                    while (bartender->Activate(u"C:/a.btw"))
                        ++callsAfterQuit;
                },
                _GCD::QUEUE_SERIAL);
            _QX::APP::CreateApplication(argc, argv);
            _QX::APP::g_QtStarted = true;
            QApplication::exec();
            _QX::APP::ShutdownApp();
            _GCD::Quit();
        },
        2);
    ASSERT_TRUE(created) << "the wrapper did not start";
    EXPECT_GE(callsAfterQuit, 0) << "the worker never ended its calls";
    EXPECT_EQ(_QX::APP::GetApplication(), nullptr);
    g_Fake.Calls.clear();
    bartender.reset();
    EXPECT_EQ(g_Fake.Of("Close(int)").size(), 2u) << "formats are closed";
    EXPECT_EQ(g_Fake.Of("Quit(int)").size(), 1u) << "the engine is quit";
    for (const CALL& call : g_Fake.Calls)
        EXPECT_EQ(call.Thread, std::this_thread::get_id()) << "clean-up runs here";
}

TEST(BartenderExitTest, CallsInFlightWhenTheLoopEndsFailAndTheExitCompletes) {
    EXPECT_CHILD_PASSES(CallsInFlightWhenTheLoopEndsFail);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QX_AUTOMATION_PATH", QX_ENGINE_DIR);
    g_MainThread = std::this_thread::get_id();

    auto sink = std::make_shared<spdlog::sinks::ostream_sink_mt>(g_Log);
    auto capture = std::make_shared<spdlog::logger>("capture", sink);
    capture->set_pattern("%v");
    spdlog::register_logger(capture);

    testing::InitGoogleTest(&argc, argv);
    // A child runs its scenario on the main thread, which starts Qt itself.
    if (SUPPORT::InChild())
        return RUN_ALL_TESTS();
    QApplication* app = _QX::APP::CreateApplication(argc, argv);
    int result = 1;
    // The wrapper is driven from a worker, as the gateway's task queue drives it.
    std::thread worker([&] {
        result = RUN_ALL_TESTS();
        QMetaObject::invokeMethod(
            app, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
    QApplication::exec();
    worker.join();
    {
        std::lock_guard<std::mutex> lock(_QX::APP::g_Mutex);
        _QX::APP::g_Application = nullptr;
    }
    delete app;
    return result;
}
