#include <unistd.h>

#include <QGuiApplication>
#include <QImage>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "Engine/CLabelFormat.h"
#include "FuzzCheck.h"

namespace {

std::filesystem::path g_File;

void RemoveFile() {
    std::error_code ec;
    std::filesystem::remove(g_File, ec);
}

}  // namespace

// Rendering needs a GUI application; the offscreen platform does without a display.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    new QGuiApplication(*argc, *argv);
    std::string pattern = (std::filesystem::temp_directory_path() / "qx-format-XXXXXX").string();
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        std::abort();
    close(fd);
    g_File = pattern;
    std::atexit(RemoveFile);
    return 0;
}

// The bytes as a format file in the gateway's format folder.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(g_File.c_str(), "wb");
    FUZZ_CHECK(file && std::fwrite(data, 1, size, file) == size);
    std::fclose(file);

    const std::optional<_ENGINE::CLabelFormat> format =
        _ENGINE::CLabelFormat::Load(QString::fromStdString(g_File.string()));
    if (!format)
        return 0;

    // A loaded format has a paper and only text boxes that can hold text.
    FUZZ_CHECK(format->m_WidthMm > 0 && format->m_HeightMm > 0);
    for (const _ENGINE::CLabelFormat::TEXT& text : format->m_Texts)
        FUZZ_CHECK(text.m_Width > 0 && text.m_Height > 0 && text.m_FontMm > 0);

    // Rendering gives the paper at the resolution asked for, or nothing when the paper is too
    // big or its text costs more than a render may draw; the paper alone always renders.
    constexpr int kDpi = 12;
    const QImage image = format->Render(kDpi, format->m_SubStrings);
    const double width = std::round(format->m_WidthMm * kDpi / 25.4);
    const double height = std::round(format->m_HeightMm * kDpi / 25.4);
    if (width < 1 || height < 1 || width * height > _ENGINE::CLabelFormat::MAX_PIXELS) {
        FUZZ_CHECK(image.isNull());
    } else {
        FUZZ_CHECK(image.isNull() || (image.width() == width && image.height() == height));
        _ENGINE::CLabelFormat paper = *format;
        paper.m_Texts.clear();
        const QImage blank = paper.Render(kDpi, {});
        FUZZ_CHECK(blank.width() == width && blank.height() == height);
    }
    FUZZ_CHECK(format->Render(0, format->m_SubStrings).isNull());
    return 0;
}
