#pragma once

#include <string>

namespace _OS {

// UTF-16 strings are std::u16string on every platform.
// Throws std::range_error("bad conversion") on an unpaired surrogate.
std::string WideToUtf8(const std::u16string& text);
// Each invalid UTF-8 sequence becomes U+FFFD, as the Windows UTF-8 code page does.
std::u16string Utf8ToWide(const std::string& text);
// ignoreCase folds only ASCII letters.
bool EndsWith(const std::string& text, const std::string& suffix, bool ignoreCase);

}  // namespace _OS
