#include <gtest/gtest.h>
#include <spdlog/logger.h>
#include <QApplication>
#include <QMessageBox>
#include <QTextBlock>
#include <QTextEdit>
#include <QTimer>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "Qx/drav_qt_color_sink.h"
#include "Support/Wait.h"

namespace {

using Sink = spdlog::sinks::drav_qt_color_sink<std::mutex>;

struct Fragment {
    QString text;
    QTextCharFormat format;
};

std::vector<Fragment> Fragments(const QTextBlock& block) {
    std::vector<Fragment> out;
    for (auto it = block.begin(); !it.atEnd(); ++it)
        out.push_back({it.fragment().text(), it.fragment().charFormat()});
    return out;
}

struct ColorSinkTest : ::testing::Test {
    std::shared_ptr<spdlog::logger> MakeLogger(int lineLimit, const std::string& pattern) {
        auto sink = std::make_shared<Sink>(&edit, lineLimit, false, true);
        auto logger = std::make_shared<spdlog::logger>("sink-test", sink);
        logger->set_level(spdlog::level::trace);
        logger->set_pattern(pattern);
        return logger;
    }

    QTextEdit edit;
};

TEST_F(ColorSinkTest, KeepsTheNewestLinesOnTop) {
    auto logger = MakeLogger(3, "%v");
    for (int i = 1; i <= 5; ++i)
        logger->info("line {}", i);

    const QTextDocument* doc = edit.document();
    ASSERT_EQ(doc->blockCount(), 4);
    EXPECT_EQ(doc->findBlockByNumber(0).text(), "line 5");
    EXPECT_EQ(doc->findBlockByNumber(1).text(), "line 4");
    EXPECT_EQ(doc->findBlockByNumber(2).text(), "line 3");
    EXPECT_EQ(doc->findBlockByNumber(3).text(), "");
}

TEST_F(ColorSinkTest, EmptyColourRangeInsertsTheLineInTheDefaultFormat) {
    auto logger = MakeLogger(10, "[%l] %v");
    logger->error("plain");

    const auto parts = Fragments(edit.document()->firstBlock());
    ASSERT_EQ(parts.size(), 1u);
    EXPECT_EQ(parts[0].text, "[error] plain");
    EXPECT_EQ(parts[0].format.fontPointSize(), 12.0);
    EXPECT_NE(parts[0].format.foreground().color(), QColor(Qt::red));
}

// The range is counted in characters, and the level's format, a background included, ends
// with it.
TEST_F(ColorSinkTest, ColourRangeIsCountedInCharacters) {
    auto logger = MakeLogger(10, "中文日志 %^[%l]%$ %v 完");
    logger->critical("消息");

    const auto parts = Fragments(edit.document()->firstBlock());
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].text, QString::fromUtf8("中文日志 "));
    EXPECT_EQ(parts[1].text, "[critical]");
    EXPECT_EQ(parts[1].format.foreground().color(), QColor(Qt::white));
    EXPECT_EQ(parts[1].format.background().color(), QColor(Qt::red));
    EXPECT_EQ(parts[1].format.fontPointSize(), 14.0);
    EXPECT_EQ(parts[2].text, QString::fromUtf8(" 消息 完"));
    EXPECT_EQ(parts[2].format.fontPointSize(), 12.0);
    EXPECT_EQ(parts[2].format.background().style(), Qt::NoBrush);
    EXPECT_EQ(parts[0].format.fontFamilies().toStringList(),
              QStringList({"Consolas", "Monaco", "Lucida Console", "Courier New"}));
}

// A huge line would hold the GUI thread in its layout: it reaches the widget cut after a whole
// surrogate pair, with its colour range and one block.
TEST_F(ColorSinkTest, HugeLineIsCutBeforeTheWidget) {
    auto logger = MakeLogger(10, "%^[%l]%$ %v");
    std::string face;
    for (int i = 0; i < 250000; ++i)
        face += "\xF0\x9F\x98\x80";
    logger->info(face);

    const QTextDocument* doc = edit.document();
    ASSERT_EQ(doc->blockCount(), 2);
    const QString line = doc->firstBlock().text();
    EXPECT_LE(static_cast<std::size_t>(line.size()), Sink::max_line_chars);
    ASSERT_GE(line.size(), 100);
    EXPECT_EQ(line.back(), QChar(0x2026));
    EXPECT_TRUE(line.at(line.size() - 2).isLowSurrogate());
    const auto parts = Fragments(doc->firstBlock());
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].text, "[info]");
}

// While the GUI thread sits in a modal box and then does not turn its loop at all, a worker
// still logs to the end; the lines appear once the GUI thread runs again.
TEST_F(ColorSinkTest, WorkerNeverWaitsForTheGuiThread) {
    constexpr int kLines = 2000;
    auto logger = MakeLogger(kLines + 10, "%v");
    bool workerFinished = false;

    QTimer::singleShot(0, [&] {
        QWidget* box = QApplication::activeModalWidget();
        ASSERT_NE(box, nullptr);
        auto done = std::async(std::launch::async, [&] {
            for (int i = 0; i < kLines; ++i)
                logger->info("worker {}", i);
        });
        workerFinished = done.wait_for(std::chrono::seconds(20)) == std::future_status::ready;
        box->close();
    });
    QMessageBox::information(nullptr, "modal", "open");

    EXPECT_TRUE(workerFinished);
    SUPPORT::WaitUntil([&] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        return edit.document()->blockCount() >= kLines + 1;
    });
    ASSERT_EQ(edit.document()->blockCount(), kLines + 1);
    EXPECT_EQ(edit.document()->firstBlock().text(), QString("worker %1").arg(kLines - 1));
}

}  // namespace
