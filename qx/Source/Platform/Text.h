#pragma once

#include <filesystem>
#include <string>

namespace _OS {

// UTF-16 strings are std::u16string on every platform.
// Throws std::range_error("bad conversion") on an unpaired surrogate.
std::string WideToUtf8(const std::u16string& text);
// Each invalid UTF-8 sequence becomes U+FFFD, as the Windows UTF-8 code page does.
std::u16string Utf8ToWide(const std::string& text);
// The path as UTF-8, never throwing: an unpaired surrogate of a Windows name, or a byte
// sequence that is not UTF-8 elsewhere, becomes U+FFFD. exact, when given, tells whether
// nothing was replaced.
std::string PathToUtf8(const std::filesystem::path& path, bool* exact = nullptr);
// The path as UTF-16, never throwing: on Windows the native name as it is, elsewhere the
// native bytes decoded as UTF-8 with U+FFFD for each invalid sequence.
std::u16string PathToWide(const std::filesystem::path& path);
// ignoreCase folds only ASCII letters.
bool EndsWith(const std::string& text, const std::string& suffix, bool ignoreCase);

}  // namespace _OS
