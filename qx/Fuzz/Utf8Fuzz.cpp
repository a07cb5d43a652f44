#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

#include "FuzzCheck.h"
#include "Platform/Text.h"

// The bytes as UTF-8 text (file names, MES frames), then as UTF-16 code units (COM strings).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);

    // Every byte string converts; each byte gives at most one code unit.
    const std::u16string wide = _OS::Utf8ToWide(bytes);
    FUZZ_CHECK(wide.size() <= bytes.size());
    // The result is valid UTF-16: it converts back without throwing and round trips.
    const std::string utf8 = _OS::WideToUtf8(wide);
    FUZZ_CHECK(_OS::Utf8ToWide(utf8) == wide);
    // Without a replacement character nothing was ill-formed: the bytes come back unchanged.
    if (wide.find(u'\xFFFD') == std::u16string::npos)
        FUZZ_CHECK(utf8 == bytes);

    std::u16string units(size / 2, u'\0');
    for (size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(data[2 * i] | (data[2 * i + 1] << 8));
    try {
        FUZZ_CHECK(_OS::Utf8ToWide(_OS::WideToUtf8(units)) == units);
    } catch (const std::range_error& e) {
        FUZZ_CHECK(std::string(e.what()) == "bad conversion");
    }

    // The suffix test against a plain comparison; ignoring case only widens the match.
    const size_t cut = size ? data[0] % (size + 1) : 0;
    const std::string text = bytes.substr(0, cut);
    const std::string suffix = bytes.substr(cut);
    const bool exact = suffix.size() <= text.size() &&
                       text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
    FUZZ_CHECK(_OS::EndsWith(text, suffix, false) == exact);
    if (exact)
        FUZZ_CHECK(_OS::EndsWith(text, suffix, true));
    return 0;
}
