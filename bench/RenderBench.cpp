#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <cstdlib>
#include <map>

#include "Engine/CLabelFormat.h"

// The stand-in engine's render of the worst texts within its bounds: each case repeats a unit
// as often as the bound allows and renders the label once per iteration.
namespace {

using _ENGINE::CLabelFormat;

struct CASE {
    const char* m_Name;
    QString m_Head;  // written once before the repeated unit
    QString m_Unit;
    double m_FontMm;
    int m_Dpi;
};

QString Utf(const char* text) {
    return QString::fromUtf8(text);
}

// A 50 x 20 mm label with one object over all of it showing the substring "A".
CLabelFormat Label(double fontMm) {
    CLabelFormat format;
    format.m_WidthMm = 50;
    format.m_HeightMm = 20;
    CLabelFormat::TEXT text;
    text.m_Width = 50;
    text.m_Height = 20;
    text.m_FontMm = fontMm;
    text.m_Text = QStringLiteral("{A}");
    format.m_Texts.push_back(text);
    return format;
}

// The largest value of the case's shape that the bound lets through.
QString Largest(const CLabelFormat& format, const CASE& c) {
    const auto fits = [&](qsizetype n) {
        return format.Cost(c.m_Dpi, {{QStringLiteral("A"), c.m_Head + c.m_Unit.repeated(n)}}) <=
               CLabelFormat::MAX_GLYPH_PIXELS;
    };
    qsizetype low = 0, high = CLabelFormat::MAX_TEXT_CHARS / c.m_Unit.size() + 1;
    while (high - low > 1) {
        const qsizetype middle = (low + high) / 2;
        (fits(middle) ? low : high) = middle;
    }
    return c.m_Head + c.m_Unit.repeated(low);
}

void Render(benchmark::State& state, const CASE& c) {
    const CLabelFormat format = Label(c.m_FontMm);
    const std::map<QString, QString> values = {{QStringLiteral("A"), Largest(format, c)}};
    for (auto _ : state) {
        const QImage image = format.Render(c.m_Dpi, values);
        if (image.isNull())
            state.SkipWithError("refused");
    }
    const QString& text = values.begin()->second;
    state.counters["chars"] = static_cast<double>(text.size());
    state.counters["utf8_KiB"] = static_cast<double>(text.toUtf8().size()) / 1024;
    state.counters["cost_M"] = format.Cost(c.m_Dpi, values) / 1e6;
}

const CASE kCases[] = {
    {"Plain", {}, QStringLiteral("a"), 1, 25},
    {"Plain3px", {}, QStringLiteral("a"), 3, 25},
    {"Words", {}, QStringLiteral("ab "), 1, 25},
    {"ShortLines", {}, QStringLiteral("a\n"), 1, 25},
    {"MarksOneCluster", QStringLiteral("a"), Utf("\u0301"), 1, 25},
    {"MarksOneCluster3px", QStringLiteral("a"), Utf("\u0301"), 3, 25},
    {"MarksOneCluster30px", QStringLiteral("a"), Utf("\u0301"), 2.5, 300},
    {"MarksThirtyPerBase", {}, QStringLiteral("a") + Utf("\u0301").repeated(30), 1, 25},
    {"MarksSplitByCgj", QStringLiteral("a"), Utf("\u0301").repeated(30) + Utf("\u034f"), 1, 25},
    {"MarksSplitBySoftHyphen", QStringLiteral("a"), Utf("\u0301\u00ad"), 1, 25},
    {"ArabicHarakatOneCluster", Utf("\u0628"), Utf("\u064e"), 1, 25},
    {"HebrewPointsOneCluster", Utf("\u05d0"), Utf("\u05b8"), 1, 25},
    {"DevanagariNuktaOneCluster", Utf("\u0915"), Utf("\u093c"), 1, 25},
    {"DevanagariVowelSigns", Utf("\u0915"), Utf("\u0941"), 1, 25},
    {"DevanagariConjuncts", {}, Utf("\u0915\u094d\u0937\u093f"), 1, 25},
    {"DevanagariViramaChain", {}, Utf("\u0915\u094d"), 1, 25},
    {"EmojiZwjFamily",
     {},
     Utf("\U0001F469\u200d\U0001F469\u200d\U0001F467\u200d\U0001F466"),
     1,
     25},
    {"EmojiZwjOneCluster", Utf("\U0001F469"), Utf("\u200d\U0001F469"), 1, 25},
    {"EmojiSkinTone", {}, Utf("\U0001F44B\U0001F3FD"), 1, 25},
    {"BidiEveryCharacter", {}, Utf("a\u05d0"), 1, 25},
    {"BidiWords", {}, Utf("ab \u05d0\u05d1 "), 1, 25},
    {"BidiArabicDigits",
     {},
     Utf("\u0628"
         "1"),
     1,
     25},
    {"BidiEmbeddings", {}, Utf("\u202ba\u202c"), 1, 25},
    {"BidiBrackets", {}, Utf("(\u05d0"), 1, 25},
    {"CjkLatin", {}, Utf("a\u4e2d"), 1, 25},
    {"ScriptEveryCharacter", {}, Utf("a\u0431\u4e2d\u0628\u0915"), 1, 25},
    {"LargeGlyphs", {}, QStringLiteral("W"), 20, 300},
    {"LargeMarksOneCluster", QStringLiteral("W"), Utf("\u0301"), 20, 300},
};

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    for (const CASE& c : kCases)
        benchmark::RegisterBenchmark(c.m_Name, Render, c)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(1)
            ->UseRealTime();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
