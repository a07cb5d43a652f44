#include "Platform/Text.h"

#include <cstdint>
#include <locale>
#include <stdexcept>

#ifdef _WIN32
#include <windows.h>
#endif

namespace _OS {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Surrogate pairs become one four-byte sequence. An unpaired surrogate throws when exact is
// null; otherwise it becomes U+FFFD and exact is set to false.
std::string EncodeUtf8(const std::u16string& text, bool* exact) {
    std::string out;
    out.reserve(text.size() * 3);
    for (size_t i = 0; i < text.size(); ++i) {
        const uint32_t unit = text[i];
        const uint32_t next = i + 1 < text.size() ? text[i + 1] : 0;
        if (unit >= 0xD800 && unit <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00));
            ++i;
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            if (!exact)
                throw std::range_error("bad conversion");
            *exact = false;
            AppendUtf8(out, kReplacement);
        } else {
            AppendUtf8(out, unit);
        }
    }
    return out;
}

#ifndef _WIN32
void AppendUtf16(std::u16string& out, uint32_t cp) {
    if (cp < 0x10000) {
        out.push_back(static_cast<char16_t>(cp));
        return;
    }
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
}

// Decodes well-formed UTF-8 and puts one U+FFFD in place of each maximal ill-formed
// subpart (a lead byte with as many valid continuation bytes as follow it), as the
// system's UTF-8 code page conversion does. Overlong forms, surrogates and code points
// above U+10FFFF are ill-formed through the narrowed range of their second byte.
std::u16string DecodeUtf8(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    const size_t n = text.size();
    size_t i = 0;
    while (i < n) {
        const auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            out.push_back(lead);
            ++i;
            continue;
        }
        int need = 0;
        unsigned char lo = 0x80;
        unsigned char hi = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            need = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            need = 2;
            if (lead == 0xE0)
                lo = 0xA0;
            if (lead == 0xED)
                hi = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            need = 3;
            if (lead == 0xF0)
                lo = 0x90;
            if (lead == 0xF4)
                hi = 0x8F;
        } else {
            out.push_back(kReplacement);
            ++i;
            continue;
        }
        uint32_t cp = lead & (0x3F >> need);
        size_t j = i + 1;
        int got = 0;
        for (; got < need && j < n; ++got, ++j) {
            const auto c = static_cast<unsigned char>(text[j]);
            if (c < lo || c > hi)
                break;
            cp = (cp << 6) | (c & 0x3F);
            lo = 0x80;
            hi = 0xBF;
        }
        if (got < need) {
            out.push_back(kReplacement);
        } else {
            AppendUtf16(out, cp);
        }
        i = j;
    }
    return out;
}
#endif

}  // namespace

std::string WideToUtf8(const std::u16string& text) {
    return EncodeUtf8(text, nullptr);
}

std::u16string Utf8ToWide(const std::string& text) {
    if (text.empty())
        return {};
#ifdef _WIN32
    const int size = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::u16string out(static_cast<size_t>(length), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, reinterpret_cast<wchar_t*>(out.data()),
                        length);
    return out;
#else
    return DecodeUtf8(text);
#endif
}

std::string PathToUtf8(const std::filesystem::path& path, bool* exact) {
    bool whole = true;
    std::string out = EncodeUtf8(PathToWide(path), &whole);
#ifndef _WIN32
    // Valid UTF-8 comes back byte for byte; anything else had a sequence replaced.
    whole = out == path.native();
#endif
    if (exact)
        *exact = whole;
    return out;
}

std::u16string PathToWide(const std::filesystem::path& path) {
#ifdef _WIN32
    const std::wstring& native = path.native();
    return std::u16string(native.begin(), native.end());
#else
    return DecodeUtf8(path.native());
#endif
}

bool EndsWith(const std::string& text, const std::string& suffix, bool ignoreCase) {
    if (suffix.size() > text.size())
        return false;
    const auto& ctype = std::use_facet<std::ctype<char>>(std::locale());
    auto t = text.rbegin();
    for (auto s = suffix.rbegin(); s != suffix.rend(); ++s, ++t) {
        const char a = ignoreCase ? ctype.toupper(*t) : *t;
        const char b = ignoreCase ? ctype.toupper(*s) : *s;
        if (a != b)
            return false;
    }
    return true;
}

}  // namespace _OS
