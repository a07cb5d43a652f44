#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <QTextBlock>
#include <QTextEdit>

#include "Platform/Log.h"
#include "Qx/Code_Logger_Qt.h"

namespace {

using _QX::WIDGET::Code_Logger_Qt;

QString Top(const QTextEdit& edit) {
    return edit.document()->firstBlock().text();
}

TEST(LoggerQtTest, NullWidgetGivesNoLogger) {
    EXPECT_FALSE(Code_Logger_Qt::Create("null-widget", 10, nullptr));
    EXPECT_EQ(spdlog::get("null-widget"), nullptr);
}

TEST(LoggerQtTest, DuplicateNameKeepsTheFirstLogger) {
    QTextEdit first;
    QTextEdit second;
    _OBJ<_LOG::ILogger> a = Code_Logger_Qt::Create("dup", 10, &first);
    ASSERT_TRUE(a);
    EXPECT_FALSE(Code_Logger_Qt::Create("dup", 10, &second));

    _LOG::Pattern("%v");
    _LOG::Info("after the refused one");
    EXPECT_EQ(Top(first), "after the refused one");
    EXPECT_TRUE(second.document()->isEmpty());
}

// The logger's pattern starts the level colour at the line's start: a pattern that only ends
// it colours everything before that end. A writer's pieces make one message.
TEST(LoggerQtTest, LevelFiltersAndColoursLines) {
    QTextEdit edit;
    _OBJ<_LOG::ILogger> logger = Code_Logger_Qt::Create("level", 10, &edit);
    ASSERT_TRUE(logger);
    logger->SetPattern("[%l]%$ %v");
    logger->SetLevel(_LOG::LEVEL_ERROR);
    logger->Info("hidden");
    logger->Log(_LOG::LEVEL_ERROR, [](std::ostringstream& out) { out << "shown " << 2; });
    EXPECT_EQ(edit.document()->blockCount(), 2);
    EXPECT_EQ(Top(edit), "[error] shown 2");
    const QTextBlock::iterator first = edit.document()->firstBlock().begin();
    EXPECT_EQ(first.fragment().text(), "[error]");
    EXPECT_EQ(first.fragment().charFormat().foreground().color(), QColor(Qt::red));
    EXPECT_EQ(first.fragment().charFormat().background().style(), Qt::NoBrush);
}

}  // namespace
