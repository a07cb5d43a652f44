#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "Platform/Env.h"
#include "Platform/Reg.h"

namespace {

constexpr int kDefault = -424242;
const std::string kKey = "Fuzz/Setting";
std::filesystem::path g_Root;

void RemoveRoot() {
    std::error_code ec;
    std::filesystem::remove_all(g_Root, ec);
}

}  // namespace

// The registry lives in a temporary folder: the environment lays its data out beside the
// working directory.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    std::string pattern = (std::filesystem::temp_directory_path() / "qx-fuzz-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        std::abort();
    g_Root = pattern;
    std::atexit(RemoveRoot);
    std::filesystem::create_directories(g_Root / "work");
    std::filesystem::current_path(g_Root / "work");
    _OS::ENV::Initialize("QxFuzz", *argc, *argv);
    return 0;
}

// The bytes as the stored text of a typed setting (a settings store edited or damaged outside
// the program).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    _OBJ<_OS::ENV::IRegDatabase> registry = _OS::ENV::GetRegDatabase();
    registry->Put(kKey, text);

    _OS::ENV::REG<int> setting(kKey, kDefault);
    // Loading never writes.
    FUZZ_CHECK(registry->Get(kKey) == text);

    // Only numbers and booleans give a value other than the default.
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false, false);
    switch (json.type()) {
        case nlohmann::json::value_t::boolean:
            FUZZ_CHECK(setting.Get() == (json.get<bool>() ? 1 : 0));
            break;
        case nlohmann::json::value_t::number_integer:
        case nlohmann::json::value_t::number_unsigned:
            FUZZ_CHECK(static_cast<uint32_t>(setting.Get()) ==
                       static_cast<uint32_t>(json.get<uint64_t>()));
            break;
        case nlohmann::json::value_t::number_float: {
            const double value = std::trunc(json.get<double>());
            const bool inRange = value >= std::numeric_limits<int>::min() &&
                                 value <= std::numeric_limits<int>::max();
            FUZZ_CHECK(setting.Get() == (inRange ? static_cast<int>(value) : kDefault));
            break;
        }
        default:
            FUZZ_CHECK(setting.Get() == kDefault);
    }

    // What Set writes, the next setting on the key loads.
    const int value = setting.Get() ^ static_cast<int>(size);
    setting.Set(value);
    FUZZ_CHECK(registry->Get(kKey) == std::to_string(value));
    _OS::ENV::REG<int> reloaded(kKey, kDefault);
    FUZZ_CHECK(reloaded.Get() == value);
    return 0;
}
