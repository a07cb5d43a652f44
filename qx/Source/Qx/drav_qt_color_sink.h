#pragma once

#include <spdlog/common.h>
#include <spdlog/details/log_msg.h>
#include <spdlog/sinks/base_sink.h>
#include <QColor>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <QTextBlock>
#include <QTextCharFormat>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

namespace spdlog {
namespace sinks {

// Writes each line into a QTextEdit, newest line first, with the colour range ("%^" .. "%$")
// in the level's colour. Logging threads only format and queue; the widget is changed on its
// own thread.
template <typename Mutex>
struct drav_qt_color_sink : public base_sink<Mutex> {
    drav_qt_color_sink(QTextEdit* textEdit, int lineLimit, bool darkColours, bool utf8)
        : m_TextEdit(textEdit), m_LineLimit(lineLimit), m_Utf8(utf8) {
        if (!m_TextEdit)
            throw spdlog_ex("qt_color_text_sink: text_edit is null");

        const QStringList families{QStringLiteral("Consolas"), QStringLiteral("Monaco"),
                                   QStringLiteral("Lucida Console"), QStringLiteral("Courier New")};
        m_DefaultFormat = m_TextEdit->currentCharFormat();
        m_DefaultFormat.setFontFamilies(families);
        m_DefaultFormat.setFontPointSize(12.0);

        QTextCharFormat format;
        format.setFontFamilies(families);
        format.setFontPointSize(14.0);
        const auto set = [&](level::level_enum lvl, const QColor& colour) {
            format.setForeground(QBrush(colour));
            m_LevelFormats[lvl] = format;
        };
        set(level::trace, darkColours ? Qt::darkGray : Qt::gray);
        set(level::debug, darkColours ? Qt::darkCyan : Qt::darkGray);
        set(level::info, Qt::darkGreen);
        set(level::warn, darkColours ? QColor(Qt::darkYellow) : QColor(255, 127, 0));
        set(level::err, Qt::red);
        format.setBackground(QBrush(Qt::red));
        set(level::critical, Qt::white);
    }

    // A line longer than this reaches the widget cut, with an ellipsis before its line end:
    // the widget lays a line out on the GUI thread, and a huge one holds that thread.
    static constexpr std::size_t max_line_chars = 2000;

    // One line on its way to the GUI thread: a copy that refers to nothing of the sink.
    struct append_request {
        int m_LineLimit;
        QTextEdit* m_TextEdit;
        QString m_Payload;
        QTextCharFormat m_DefaultFormat;
        QTextCharFormat m_LevelFormat;
        int m_ColourStart;
        int m_ColourEnd;
    };

    static void append_to_widget_(const append_request& request) {
        QTextDocument* document = request.m_TextEdit->document();
        QTextCursor cursor(document);

        // The newest lines are on top: the oldest is the block before the empty last block.
        while (document->blockCount() > request.m_LineLimit) {
            const QTextBlock last = document->lastBlock();
            const QTextBlock oldest = last.previous();
            if (!oldest.isValid())
                break;
            cursor.setPosition(oldest.position());
            cursor.setPosition(last.position(), QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }

        cursor.movePosition(QTextCursor::Start);
        cursor.setCharFormat(request.m_DefaultFormat);
        if (request.m_ColourEnd <= request.m_ColourStart) {
            cursor.insertText(request.m_Payload);
            return;
        }
        cursor.insertText(request.m_Payload.left(request.m_ColourStart));
        cursor.setCharFormat(request.m_LevelFormat);
        cursor.insertText(request.m_Payload.mid(request.m_ColourStart,
                                                request.m_ColourEnd - request.m_ColourStart));
        cursor.setCharFormat(request.m_DefaultFormat);
        cursor.insertText(request.m_Payload.mid(request.m_ColourEnd));
    }

protected:
    void sink_it_(const details::log_msg& msg) override {
        memory_buf_t formatted;
        base_sink<Mutex>::formatter_->format(msg, formatted);

        // Only a bounded prefix is decoded: the cut line never needs more, and a huge line
        // would cost its conversion for nothing. A UTF-16 unit takes at most 3 bytes.
        const std::size_t byteCount = formatted.size();
        const std::size_t prefix = std::min<std::size_t>(byteCount, 3 * max_line_chars + 3);
        QString payload;
        int start = static_cast<int>(msg.color_range_start);
        int end = static_cast<int>(msg.color_range_end);
        if (m_Utf8) {
            payload = QString::fromUtf8(formatted.data(), static_cast<qsizetype>(prefix));
            if (msg.color_range_start < msg.color_range_end) {
                // The range is in bytes; the widget counts characters.
                const auto characters = [&](std::size_t bytes) {
                    return static_cast<int>(
                        QString::fromUtf8(formatted.data(),
                                          static_cast<qsizetype>(std::min(bytes, prefix)))
                            .size());
                };
                start = characters(msg.color_range_start);
                end = characters(msg.color_range_end);
            }
        } else {
            payload = QString::fromLatin1(formatted.data(), static_cast<qsizetype>(prefix));
        }
        if (payload.size() > static_cast<qsizetype>(max_line_chars))
            cut_line_(payload, formatted, start, end);

        append_request request{
            m_LineLimit, m_TextEdit, std::move(payload), m_DefaultFormat, m_LevelFormats[msg.level],
            start,       end};
        QMetaObject::invokeMethod(
            m_TextEdit, [request = std::move(request)] { append_to_widget_(request); },
            Qt::AutoConnection);
    }

    void flush_() override {}

    // Keeps the start of the line, never half a surrogate pair, then "…" and the line end of
    // the whole line; the colour range ends at the cut at the latest.
    static void cut_line_(QString& payload, const memory_buf_t& formatted, int& start, int& end) {
        std::size_t lineEnd = 0;
        while (lineEnd < formatted.size() && lineEnd < 2) {
            const char c = formatted.data()[formatted.size() - 1 - lineEnd];
            if (c != '\n' && c != '\r')
                break;
            ++lineEnd;
        }
        qsizetype keep = static_cast<qsizetype>(max_line_chars - 1 - lineEnd);
        if (payload.at(keep - 1).isHighSurrogate())
            --keep;
        payload.truncate(keep);
        payload += QChar(0x2026);
        payload += QString::fromLatin1(formatted.data() + formatted.size() - lineEnd,
                                       static_cast<qsizetype>(lineEnd));
        start = std::min(start, static_cast<int>(keep));
        end = std::min(end, static_cast<int>(keep));
    }

private:
    QTextEdit* m_TextEdit;
    int m_LineLimit;
    bool m_Utf8;
    QTextCharFormat m_DefaultFormat;
    std::array<QTextCharFormat, 7> m_LevelFormats;
};

}  // namespace sinks
}  // namespace spdlog
