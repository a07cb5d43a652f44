#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "FuzzCheck.h"
#include "Gateway/PrintJob.h"

namespace {

using json = nlohmann::json;

// How many of the nine keys, in reading order, hold a value of their field's kind.
int KeysRead(const json& j) {
    if (!j.is_object())
        return 0;
    const auto has = [&j](const char* key, bool (*kind)(const json&)) {
        const auto it = j.find(key);
        return it != j.end() && kind(*it);
    };
    const auto text = [](const json& v) { return v.is_string(); };
    const auto number = [](const json& v) { return v.is_number(); };
    const auto flag = [](const json& v) { return v.is_boolean(); };
    const auto dpi = [](const json& v) { return v.is_number() || v.is_boolean(); };
    const auto any = [](const json&) { return true; };
    int n = 0;
    n += has("Type", text);
    n += n == 1 && has("PrinterName", text);
    n += n == 2 && has("FormatName", text);
    n += n == 3 && has("FormatFilename", text);
    n += n == 4 && has("WidthInMm", number);
    n += n == 5 && has("HeightInMm", number);
    n += n == 6 && has("isLandscape", flag);
    n += n == 7 && has("Dpi", dpi);
    n += n == 8 && has("Data", any);
    return n;
}

bool SameJob(const PRINT_JOB::DEF& a, const PRINT_JOB::DEF& b) {
    return a.Type == b.Type && a.PrinterName == b.PrinterName && a.FormatName == b.FormatName &&
           a.FormatFilename == b.FormatFilename && a.WidthInMm == b.WidthInMm &&
           a.HeightInMm == b.HeightInMm && a.isLandscape == b.isLandscape && a.Dpi == b.Dpi &&
           a.Data == b.Data;
}

}  // namespace

// The bytes as the "params" of a "Print" notification from the MES.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const json params = json::parse(data, data + size, nullptr, false);
    if (params.is_discarded())
        return 0;

    // Reading never throws and starts from a fresh record whatever the target held.
    PRINT_JOB::DEF job;
    job.Type = "stale";
    job.WidthInMm = 1;
    job.isLandscape = true;
    job.Dpi = 1;
    job.Data = json::array({1});
    PRINT_JOB::from_json(params, job);

    // Fields up to the first missing or mistyped key are read, the rest keep their defaults.
    const int read = KeysRead(params);
    const PRINT_JOB::DEF fresh;
    FUZZ_CHECK(job.Type == (read > 0 ? params["Type"].get<std::string>() : fresh.Type));
    FUZZ_CHECK(read > 1 || job.PrinterName.empty());
    FUZZ_CHECK(read > 2 || job.FormatName.empty());
    FUZZ_CHECK(read > 3 || job.FormatFilename.empty());
    FUZZ_CHECK(read > 4 || job.WidthInMm == 0.0);
    FUZZ_CHECK(read > 5 || job.HeightInMm == 0.0);
    FUZZ_CHECK(read > 6 || !job.isLandscape);
    FUZZ_CHECK(read > 7 || job.Dpi == 203);
    FUZZ_CHECK(job.Data == (read > 8 ? params["Data"] : json()));

    // The record written back (the "Job" of the gateway's answer) reads back unchanged and
    // serialises; its nine keys are always there.
    const json written = job;
    FUZZ_CHECK(written.size() == 9);
    FUZZ_CHECK(KeysRead(written) == 9);
    PRINT_JOB::DEF again;
    PRINT_JOB::from_json(written, again);
    FUZZ_CHECK(SameJob(job, again));
    const std::string text = written.dump();
    FUZZ_CHECK(json::parse(text, nullptr, false).is_object());
    return 0;
}
