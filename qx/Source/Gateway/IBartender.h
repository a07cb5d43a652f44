#pragma once

#include <QImage>
#include <cstdint>
#include <optional>
#include <string>

#include "Platform/IRoot.h"

// The gateway's label engine: opens formats, makes one current, reads its page setup, fills its
// named substrings and exports it as an image. Paths are UTF-16 with either separator.
// GetPageSetup, SetNamedSubStringValue and ExportImage act on the current format.
struct IBartender : IRoot {
    struct PAGE_SETUP {
        double WidthInMm = 0;
        double HeightInMm = 0;
        int32_t Orientation = 0;  // 1 is landscape
    };

    virtual bool Open(std::u16string path) = 0;
    virtual void Close(std::u16string path) = 0;
    virtual void CloseAll() = 0;
    virtual bool Activate(std::u16string path) = 0;
    virtual std::optional<PAGE_SETUP> GetPageSetup() = 0;
    virtual void SetNamedSubStringValue(std::string name, std::string value) = 0;
    virtual bool ExportImage(QImage& image, int32_t resolution) = 0;
    virtual ~IBartender() = default;
};
