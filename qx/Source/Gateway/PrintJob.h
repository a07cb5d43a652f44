#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

namespace PRINT_JOB {

// One print job as the MES sends it in "Print" and as the gateway returns it in "Job".
struct DEF {
    std::string Type;
    std::string PrinterName;
    std::string FormatName;
    std::string FormatFilename;
    double WidthInMm = 0.0;
    double HeightInMm = 0.0;
    bool isLandscape = false;
    int32_t Dpi = 203;
    nlohmann::json Data;
};

// Never throws: reading stops at the first missing or mistyped key, and that field and
// every later one keep their defaults.
void from_json(const nlohmann::json& j, DEF& job);
void to_json(nlohmann::json& j, const DEF& job);
// Reads as from_json, moving "Data" out of j instead of copying it.
DEF Take(nlohmann::json&& j);

// About what the record holds in memory: its texts, and for its data every key and text plus a
// share for each value, so that data of many small values weigh what they hold.
size_t HeldBytes(const DEF& job);

}  // namespace PRINT_JOB
