#include <gtest/gtest.h>
#include <spdlog/spdlog.h>
#include <QAbstractButton>
#include <QApplication>
#include <QTextBlock>
#include <QTextEdit>
#include <algorithm>
#include <string>

#include "Platform/Env.h"
#include "Platform/Log.h"
#include "Qx/Code_Panel_Logger.h"

namespace {

using _QX::PANEL::Code_Panel_Logger;
using _QX::PANEL::LOGGER_DEF;

// The panel keeps its level in the settings.
struct SETTINGS : testing::Environment {
    void SetUp() override { _OS::ENV::Initialize("PanelTest", 0, nullptr); }
};
testing::Environment* const kSettings = testing::AddGlobalTestEnvironment(new SETTINGS);

QAbstractButton* Button(Code_Panel_Logger& panel, const QString& text) {
    for (QAbstractButton* button : panel.findChildren<QAbstractButton*>())
        if (button->text() == text)
            return button;
    return nullptr;
}

std::unique_ptr<Code_Panel_Logger> MakePanel(const std::string& name, const std::string& key,
                                             int maxLines) {
    LOGGER_DEF def;
    def.Name = name;
    def.LevelKey = key;
    def.MaxLines = maxLines;
    auto panel = std::make_unique<Code_Panel_Logger>(def, nullptr);
    spdlog::get(name)->set_pattern("%v");
    return panel;
}

void LogLines(int count) {
    for (int i = 0; i < count; ++i)
        _LOG::Error("line " + std::to_string(i));
}

std::optional<std::string> Stored(const std::string& key) {
    return _OS::ENV::GetRegDatabase()->Get(key);
}

TEST(PanelLoggerTest, LineLimitFromMaxLines) {
    const struct {
        int maxLines;
        int kept;
    } cases[] = {{0, 512}, {-3, 512}, {1, 1}};
    int n = 0;
    for (const auto& c : cases) {
        auto panel = MakePanel("limit" + std::to_string(n++), "Test/Limit", c.maxLines);
        LogLines(600);
        EXPECT_EQ(panel->m_TextEdit->document()->blockCount(), c.kept + 1) << c.maxLines;
        EXPECT_EQ(panel->m_TextEdit->document()->firstBlock().text(), "line 599");
    }
}

// Every log line used to stay in the text's undo history, so a long-running gateway grew by a
// few hundred bytes per line although the view keeps only its last lines.
TEST(PanelLoggerTest, LinesLeaveNoUndoHistory) {
    auto panel = MakePanel("undo", "Test/Undo", 3);
    LogLines(50);
    Button(*panel, "Blank")->click();
    LogLines(5);
    EXPECT_EQ(panel->m_TextEdit->document()->blockCount(), 4);
    EXPECT_EQ(panel->m_TextEdit->document()->availableUndoSteps(), 0);
    EXPECT_FALSE(panel->m_TextEdit->document()->isUndoAvailable());
}

// One log call is one line: a text of line breaks would cost the GUI thread a block each and
// push every other line out of the view, and an escape sequence would reach the terminal.
TEST(PanelLoggerTest, OneLogCallIsOneLineInTheViewAndOnTheConsole) {
    auto panel = MakePanel("one-line", "Test/OneLine", 0);
    LogLines(3);
    spdlog::default_logger()->set_pattern("%v");
    testing::internal::CaptureStdout();
    _LOG::Error(std::string(2000, '\n'));
    _LOG::Error(
        "\x1b]0;title\x07\x1b[2J\r\xc2\x9b"
        "31m\xe2\x80\xa9\xef\xb7\x90\xef\xb7\x91\x7f");
    const std::string out = testing::internal::GetCapturedStdout();
    spdlog::default_logger()->set_pattern("%+");

    const QTextDocument* doc = panel->m_TextEdit->document();
    ASSERT_EQ(doc->blockCount(), 6);
    EXPECT_TRUE(doc->findBlockByNumber(0).text().startsWith("\\x1b]0;title"));
    EXPECT_TRUE(doc->findBlockByNumber(1).text().startsWith("\\n\\n"));
    EXPECT_LE(doc->findBlockByNumber(1).text().size(), 2000);
    EXPECT_EQ(doc->findBlockByNumber(2).text(), "line 2");
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2);
    EXPECT_EQ(std::count_if(out.begin(), out.end(),
                            [](char c) {
                                const auto byte = static_cast<unsigned char>(c);
                                return byte != '\n' && (byte < 0x20 || byte == 0x7f);
                            }),
              0);
    EXPECT_EQ(out.find("\xc2\x9b"), std::string::npos) << out;
}

TEST(PanelLoggerTest, NothingStoredChecksTrace) {
    auto panel = MakePanel("fresh", "Test/Fresh", 10);
    EXPECT_TRUE(Button(*panel, "Trace")->isChecked());
    EXPECT_EQ(spdlog::get("fresh")->level(), spdlog::level::trace);
    EXPECT_FALSE(Stored("Test/Fresh"));
}

TEST(PanelLoggerTest, ChosenLevelIsStoredAndApplied) {
    {
        auto panel = MakePanel("choice", "", 10);
        Button(*panel, "Warning")->click();
        EXPECT_EQ(Stored("Qt/Panel/Logger/DebugLevel"), "3");
        EXPECT_EQ(spdlog::get("choice")->level(), spdlog::level::warn);
        EXPECT_EQ(spdlog::default_logger()->level(), spdlog::level::warn);
    }
    EXPECT_EQ(spdlog::get("choice"), nullptr);

    spdlog::default_logger()->set_level(spdlog::level::trace);
    auto restarted = MakePanel("choice", "", 10);
    EXPECT_TRUE(Button(*restarted, "Warning")->isChecked());
    EXPECT_FALSE(Button(*restarted, "Trace")->isChecked());
    EXPECT_EQ(spdlog::default_logger()->level(), spdlog::level::warn);
    Button(*restarted, "Trace")->click();
    EXPECT_EQ(Stored("Qt/Panel/Logger/DebugLevel"), "0");
}

TEST(PanelLoggerTest, ForeignStoredLevelChecksNothingAndTurnsLoggingOff) {
    _OS::ENV::GetRegDatabase()->Put("Test/Foreign", "9");
    auto panel = MakePanel("foreign", "Test/Foreign", 10);
    for (QAbstractButton* button : panel->findChildren<QAbstractButton*>())
        EXPECT_FALSE(button->isChecked()) << button->text().toStdString();
    EXPECT_EQ(spdlog::get("foreign")->level(), spdlog::level::off);
    spdlog::set_level(spdlog::level::trace);
}

TEST(PanelLoggerTest, BlankAddsASeparatorAboveTheNewestLine) {
    auto panel = MakePanel("blank", "Test/Blank", 10);
    QTextDocument* doc = panel->m_TextEdit->document();
    Button(*panel, "Blank")->click();
    EXPECT_EQ(doc->blockCount(), 2);
    EXPECT_EQ(doc->firstBlock().text(), "");

    LogLines(1);
    ASSERT_EQ(doc->blockCount(), 3);
    EXPECT_EQ(doc->findBlockByNumber(0).text(), "line 0");
    EXPECT_EQ(doc->findBlockByNumber(1).text(), "");
}

TEST(PanelLoggerTest, ClearEmptiesTheView) {
    auto panel = MakePanel("clear", "Test/Clear", 10);
    LogLines(3);
    Button(*panel, "Clear")->click();
    EXPECT_TRUE(panel->m_TextEdit->document()->isEmpty());
    _LOG::Error("alone");
    EXPECT_EQ(panel->m_TextEdit->toPlainText(), "alone\n");
}

}  // namespace
