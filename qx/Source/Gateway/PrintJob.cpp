#include "Gateway/PrintJob.h"

#include <cmath>
#include <limits>

namespace PRINT_JOB {

namespace {

using json = nlohmann::json;

const json* Find(const json& j, const char* key) {
    const auto it = j.find(key);
    return it == j.end() ? nullptr : &*it;
}

bool ReadText(const json& j, const char* key, std::string& out) {
    const json* v = Find(j, key);
    if (!v || !v->is_string())
        return false;
    out = v->get_ref<const std::string&>();
    return true;
}

// A boolean is no number here, although the library would convert it.
bool ReadMillimetres(const json& j, const char* key, double& out) {
    const json* v = Find(j, key);
    if (!v || !v->is_number())
        return false;
    out = v->get<double>();
    return true;
}

bool ReadFlag(const json& j, const char* key, bool& out) {
    const json* v = Find(j, key);
    if (!v || !v->is_boolean())
        return false;
    out = v->get<bool>();
    return true;
}

// Integers keep their low 32 bits; floats are truncated toward zero and held to the range.
bool ReadDpi(const json& j, const char* key, int32_t& out) {
    const json* v = Find(j, key);
    if (!v)
        return false;
    if (v->is_boolean()) {
        out = v->get<bool>() ? 1 : 0;
    } else if (v->is_number_unsigned()) {
        out = static_cast<int32_t>(static_cast<uint32_t>(v->get<uint64_t>()));
    } else if (v->is_number_integer()) {
        out = static_cast<int32_t>(static_cast<uint32_t>(v->get<int64_t>()));
    } else if (v->is_number_float()) {
        const double d = std::trunc(v->get<double>());
        constexpr double lo = std::numeric_limits<int32_t>::min();
        constexpr double hi = std::numeric_limits<int32_t>::max();
        out = d <= lo   ? std::numeric_limits<int32_t>::min()
              : d >= hi ? std::numeric_limits<int32_t>::max()
                        : static_cast<int32_t>(d);
    } else {
        return false;
    }
    return true;
}

bool ReadData(const json& j, const char* key, json& out) {
    const json* v = Find(j, key);
    if (!v)
        return false;
    out = *v;
    return true;
}

// A JSON value, its slot in its array or object, and the allocator's share.
constexpr size_t kValueBytes = 64;

// The parser bounds the nesting, and so this recursion.
size_t DataBytes(const json& value) {
    size_t bytes = kValueBytes;
    if (value.is_string()) {
        bytes += value.get_ref<const std::string&>().size();
    } else if (value.is_object()) {
        for (auto it = value.begin(); it != value.end(); ++it)
            bytes += it.key().size() + DataBytes(*it);
    } else if (value.is_array()) {
        for (const json& element : value)
            bytes += DataBytes(element);
    }
    return bytes;
}

}  // namespace

namespace {

// The fields before "Data", in order; true when every one of them was read.
bool ReadHead(const json& j, DEF& job) {
    return j.is_object() && ReadText(j, "Type", job.Type) &&
           ReadText(j, "PrinterName", job.PrinterName) &&
           ReadText(j, "FormatName", job.FormatName) &&
           ReadText(j, "FormatFilename", job.FormatFilename) &&
           ReadMillimetres(j, "WidthInMm", job.WidthInMm) &&
           ReadMillimetres(j, "HeightInMm", job.HeightInMm) &&
           ReadFlag(j, "isLandscape", job.isLandscape) && ReadDpi(j, "Dpi", job.Dpi);
}

}  // namespace

void from_json(const json& j, DEF& job) {
    job = DEF{};
    try {
        if (ReadHead(j, job))
            ReadData(j, "Data", job.Data);
    } catch (...) {
        // Silent by design: reading a job never fails; what was read so far stands and the
        // rest keeps its defaults.
    }
}

DEF Take(json&& j) {
    DEF job;
    try {
        if (ReadHead(j, job)) {
            const auto data = j.find("Data");
            if (data != j.end())
                job.Data = std::move(*data);
        }
    } catch (...) {
        // As from_json.
    }
    return job;
}

void to_json(json& j, const DEF& job) {
    j["Type"] = job.Type;
    j["PrinterName"] = job.PrinterName;
    j["FormatName"] = job.FormatName;
    j["FormatFilename"] = job.FormatFilename;
    j["WidthInMm"] = job.WidthInMm;
    j["HeightInMm"] = job.HeightInMm;
    j["isLandscape"] = job.isLandscape;
    j["Dpi"] = job.Dpi;
    j["Data"] = job.Data;
}

size_t HeldBytes(const DEF& job) {
    return sizeof(DEF) + job.Type.size() + job.PrinterName.size() + job.FormatName.size() +
           job.FormatFilename.size() + DataBytes(job.Data);
}

}  // namespace PRINT_JOB
