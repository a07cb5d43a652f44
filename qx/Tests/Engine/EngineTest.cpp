#include <gtest/gtest.h>

#include <QClipboard>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>
#include <memory>

#include "Automation/CAxObject.h"

namespace {

using _QX::CAxObject;

// The stand-in engine's plug-in is found in its build folder.
struct PLUGIN_PATH : testing::Environment {
    void SetUp() override { qputenv("QX_AUTOMATION_PATH", QX_ENGINE_DIR); }
};
testing::Environment* const kPluginPath = testing::AddGlobalTestEnvironment(new PLUGIN_PATH);

const QString SAMPLES = QString::fromUtf8(QX_ENGINE_SAMPLES);

QImage ClipboardImage() {
    return QGuiApplication::clipboard()->image();
}

// The stand-in engine, loaded as a plug-in from its build folder like the gateway loads it.
struct EngineTest : testing::Test {
    void SetUp() override {
        ASSERT_TRUE(m_Application->setControl(QStringLiteral("BarTender.Application")));
        m_Formats = m_Application->querySubObject("Formats");
        ASSERT_NE(m_Formats, nullptr);
    }

    CAxObject* Open(const QString& path) {
        return m_Formats->querySubObject("Open(QString,bool,char *)", path, false, QString());
    }

    QImage Export(CAxObject* format, int dpi) {
        QGuiApplication::clipboard()->clear();
        format->dynamicCall("ExportToClipboard(int,int)", 0, dpi);
        return ClipboardImage();
    }

    std::unique_ptr<CAxObject> m_Application = std::make_unique<CAxObject>();
    CAxObject* m_Formats = nullptr;
};

// Only the gateway's member text and millimetres answer.
TEST_F(EngineTest, PageSetupAnswersInMillimetres) {
    CAxObject* format = Open(SAMPLES + "/Label_100x50.btw");
    ASSERT_NE(format, nullptr);
    CAxObject* page = format->querySubObject("PageSetup");
    ASSERT_NE(page, nullptr);
    EXPECT_EQ(page->dynamicCall("PaperWidth(QVariant) ", 3).toDouble(), 100);
    EXPECT_EQ(page->dynamicCall("PaperHeight(QVariant) ", 3).toDouble(), 50);
    EXPECT_EQ(page->dynamicCall("Orientation").toInt(), 0);
    EXPECT_FALSE(page->dynamicCall("PaperWidth(QVariant) ", 1).isValid());
    EXPECT_FALSE(page->dynamicCall("PaperWidth(QVariant)", 3).isValid());
}

TEST_F(EngineTest, MissingOrInvalidFilesDoNotOpen) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const char* invalid[] = {
        "not json",
        "[1, 2]",
        R"({"Height": 50})",
        R"({"Width": 0, "Height": 50})",
        R"({"Width": "100", "Height": 50})",
        R"({"Width": 100, "Height": 50, "SubStrings": {"A": 1}})",
        R"({"Width": 100, "Height": 50, "Objects": [{"Width": 10, "Height": 0}]})",
        R"({"Width": 100, "Height": 50, "Objects": [{"Width": 10, "Height": 5, "Align": "up"}]})",
        R"({"Width": 100, "Height": 50, "Orientation": 1e300})",
    };
    int n = 0;
    for (const char* text : invalid) {
        SCOPED_TRACE(text);
        QFile file(dir.filePath(QString::number(++n) + ".btw"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text);
        file.close();
        EXPECT_EQ(Open(file.fileName()), nullptr);
    }
    EXPECT_EQ(Open(dir.filePath("missing.btw")), nullptr);
    EXPECT_EQ(m_Formats->querySubObject("Open(QString,bool,char *)", 5, false, QString()), nullptr);
}

TEST_F(EngineTest, UnfitResolutionFailsAndLeavesTheClipboardAlone) {
    CAxObject* format = Open(SAMPLES + "/Label_100x50.btw");
    ASSERT_NE(format, nullptr);
    QImage marker(3, 3, QImage::Format_RGB32);
    marker.fill(Qt::red);
    // 2500 dpi: 48 megapixels, seconds of filling, PNG and base64 on the gateway's queue 1.
    for (int dpi : {0, -300, 2500, 100000, 2147483647}) {
        SCOPED_TRACE(dpi);
        QGuiApplication::clipboard()->setImage(marker);
        EXPECT_FALSE(format->dynamicCall("ExportToClipboard(int,int)", 0, dpi).toBool());
        EXPECT_EQ(ClipboardImage().size(), QSize(3, 3));
    }
    EXPECT_TRUE(format->dynamicCall("ExportToClipboard(int,int)", 0, 1200).toBool());
}

// Rendering is bounded before anything is built: a value filled in at every one of many
// places, and many objects of a large font at a high resolution, are both refused at once.
TEST_F(EngineTest, RenderBeyondItsBoundsFailsAtOnce) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto write = [&](const QString& name, const QByteArray& objects) {
        QFile file(dir.filePath(name));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(R"({"Width": 100, "Height": 100, "SubStrings": {"A": ""}, "Objects": [)" +
                   objects + "]}");
        return Open(file.fileName());
    };
    const QByteArray wide = R"({"Width": 100, "Height": 100, "FontSize": 20, "Text": ")";
    CAxObject* repeated = write("repeated.btw", wide + QByteArray("{A}").repeated(300000) + "\"}");
    ASSERT_NE(repeated, nullptr);
    repeated->dynamicCall("SetNamedSubStringValue(char *,char *)", "A", QString(100000, 'W'));
    CAxObject* many = write("many.btw", (wide + "WWWWWWWWWW\"},").repeated(2000) + wide + "W\"}");
    ASSERT_NE(many, nullptr);

    for (CAxObject* format : {repeated, many}) {
        QElapsedTimer timer;
        timer.start();
        EXPECT_FALSE(format->dynamicCall("ExportToClipboard(int,int)", 0, 1200).toBool());
        EXPECT_LT(timer.elapsed(), 1000);
    }
}

// Combining marks count for the shaping they cost: a base with 300,000 marks is refused at
// once, while more plain characters still render.
TEST_F(EngineTest, CombiningMarksCountTowardsTheRenderBound) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("small.btw"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"Width": 50, "Height": 20, "SubStrings": {"A": ""},
                   "Objects": [{"Width": 50, "Height": 20, "Text": "{A}"}]})");
    file.close();
    CAxObject* format = Open(file.fileName());
    ASSERT_NE(format, nullptr);
    const auto exports = [&](const QString& value) {
        format->dynamicCall("SetNamedSubStringValue(char *,char *)", "A", value);
        return format->dynamicCall("ExportToClipboard(int,int)", 0, 25).toBool();
    };
    EXPECT_TRUE(exports(QString(400000, QLatin1Char('a'))));
    EXPECT_FALSE(exports(QLatin1Char('a') + QString(300000, QChar(0x301))));
}

// A value shows in its own format only and replaces the one before; one for a name the format
// lacks changes nothing.
TEST_F(EngineTest, FormatsAreIndependentAndCloseEndsAFormat) {
    CAxObject* first = Open(SAMPLES + "/Label_100x50.btw");
    CAxObject* second = Open(SAMPLES + "/Label_100x50.btw");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    const QImage defaults = Export(second, 150);
    EXPECT_EQ(defaults.size(), QSize(591, 295));
    EXPECT_EQ(defaults.pixelColor(0, 0), QColor(Qt::white));
    first->dynamicCall("SetNamedSubStringValue(char *,char *)", "Lot", "L-42");
    EXPECT_NE(Export(first, 150), defaults);
    second->dynamicCall("SetNamedSubStringValue(char *,char *)", "NoSuchName", "X-1");
    EXPECT_EQ(Export(second, 150), defaults);
    first->dynamicCall("SetNamedSubStringValue(char *,char *)", "Lot", "L000");
    EXPECT_EQ(Export(first, 150), defaults) << "a new value replaces the old";
    EXPECT_TRUE(first->dynamicCall("Activate").toBool());

    EXPECT_TRUE(first->dynamicCall("Close(int)", 1).toBool());
    EXPECT_FALSE(first->dynamicCall("Activate").isValid());
    EXPECT_EQ(first->querySubObject("PageSetup"), nullptr);
    EXPECT_TRUE(Export(first, 150).isNull());
    EXPECT_FALSE(Export(second, 150).isNull());
}

TEST_F(EngineTest, QuitEndsEveryObjectOfTheEngine) {
    CAxObject* format = Open(SAMPLES + "/Label_100x50.btw");
    ASSERT_NE(format, nullptr);
    CAxObject* page = format->querySubObject("PageSetup");
    ASSERT_NE(page, nullptr);
    EXPECT_TRUE(m_Application->dynamicCall("Quit(int)", 1).toBool());
    EXPECT_FALSE(page->dynamicCall("Orientation").isValid());
    EXPECT_FALSE(format->dynamicCall("Activate").isValid());
    EXPECT_EQ(Open(SAMPLES + "/Label_100x50.btw"), nullptr);
    EXPECT_EQ(m_Application->querySubObject("Formats"), nullptr);

    CAxObject fresh;
    ASSERT_TRUE(fresh.setControl(QStringLiteral("bartender.application")));
    EXPECT_NE(fresh.querySubObject("Formats"), nullptr);
}

}  // namespace
