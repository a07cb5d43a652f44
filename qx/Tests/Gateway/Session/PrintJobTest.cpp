#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Gateway/PrintJob.h"

namespace {

using nlohmann::json;

json FullJob() {
    return json::parse(R"({
        "Type": "Label", "PrinterName": "ZT410", "FormatName": "Box",
        "FormatFilename": "C:/fmt/box.btw", "WidthInMm": 80.5, "HeightInMm": 40,
        "isLandscape": true, "Dpi": 300, "Data": {"SN": "A1", "Lot": "7"}})");
}

PRINT_JOB::DEF Read(const json& j) {
    return j.get<PRINT_JOB::DEF>();
}

// Fields before the stop point were read; the stop field and every later one are defaults.
void ExpectReadUpTo(const PRINT_JOB::DEF& job, int fieldsRead) {
    const PRINT_JOB::DEF full = Read(FullJob());
    const PRINT_JOB::DEF none;
    EXPECT_EQ(job.Type, fieldsRead > 0 ? full.Type : none.Type);
    EXPECT_EQ(job.PrinterName, fieldsRead > 1 ? full.PrinterName : none.PrinterName);
    EXPECT_EQ(job.FormatName, fieldsRead > 2 ? full.FormatName : none.FormatName);
    EXPECT_EQ(job.FormatFilename, fieldsRead > 3 ? full.FormatFilename : none.FormatFilename);
    EXPECT_EQ(job.WidthInMm, fieldsRead > 4 ? full.WidthInMm : 0.0);
    EXPECT_EQ(job.HeightInMm, fieldsRead > 5 ? full.HeightInMm : 0.0);
    EXPECT_EQ(job.isLandscape, fieldsRead > 6 ? full.isLandscape : false);
    EXPECT_EQ(job.Dpi, fieldsRead > 7 ? full.Dpi : 203);
    EXPECT_EQ(job.Data, fieldsRead > 8 ? full.Data : json());
}

TEST(PrintJobRead, StopsAtFirstMissingKey) {
    const char* keys[] = {"Type",           "PrinterName", "FormatName",
                          "FormatFilename", "WidthInMm",   "HeightInMm",
                          "isLandscape",    "Dpi",         "Data"};
    for (int i = 0; i < 9; ++i) {
        SCOPED_TRACE(keys[i]);
        json j = FullJob();
        j.erase(keys[i]);
        ExpectReadUpTo(Read(j), i);
    }
}

TEST(PrintJobRead, DpiTakesNumbersAndBooleans) {
    const std::vector<std::pair<json, int32_t>> cases = {{300.9, 300},
                                                         {-300.9, -300},
                                                         {-1, -1},
                                                         {true, 1},
                                                         {false, 0},
                                                         {600u, 600},
                                                         {4294967596ull, 300},
                                                         {-4294966996ll, 300},
                                                         {1e12, 2147483647},
                                                         {-1e12, -2147483647 - 1}};
    for (const auto& [dpi, expected] : cases) {
        SCOPED_TRACE(dpi.dump());
        json j = FullJob();
        j["Dpi"] = dpi;
        const PRINT_JOB::DEF job = Read(j);
        EXPECT_EQ(job.Dpi, expected);
        EXPECT_EQ(job.Data, FullJob()["Data"]);
    }
}

TEST(PrintJobRead, MistypedValueStopsReading) {
    const std::vector<std::tuple<const char*, json, int>> cases = {
        {"Type", 5, 0},
        {"FormatFilename", json::array(), 3},
        {"WidthInMm", true, 4},
        {"WidthInMm", "50", 4},
        {"HeightInMm", nullptr, 5},
        {"isLandscape", 1, 6},
        {"isLandscape", "true", 6},
        {"Dpi", "300", 7},
        {"Dpi", nullptr, 7},
        {"Dpi", json::object(), 7}};
    for (const auto& [key, value, fieldsRead] : cases) {
        SCOPED_TRACE(std::string(key) + "=" + value.dump());
        json j = FullJob();
        j[key] = value;
        ExpectReadUpTo(Read(j), fieldsRead);
    }
}

TEST(PrintJobRead, DataOfEveryTypeIsTaken) {
    const std::vector<json> values = {nullptr,
                                      true,
                                      42,
                                      -7,
                                      2.5,
                                      "text",
                                      json::array({1, "a"}),
                                      json::object(),
                                      json::parse(R"({"a":{"b":[]}})")};
    for (const json& value : values) {
        SCOPED_TRACE(value.dump());
        json j = FullJob();
        j["Data"] = value;
        const PRINT_JOB::DEF job = Read(j);
        EXPECT_EQ(job.Data, value);
        EXPECT_EQ(job.Dpi, 300);
    }
}

TEST(PrintJobRead, NonObjectGivesDefaults) {
    for (const json& value : {json(nullptr), json(3), json("job"), json::array({FullJob()})}) {
        SCOPED_TRACE(value.dump());
        ExpectReadUpTo(Read(value), 0);
    }
}

TEST(PrintJobRead, ReadingIntoAUsedRecordLeavesNothingOfIt) {
    PRINT_JOB::DEF job = Read(FullJob());
    from_json(json{{"Type", "Other"}}, job);
    EXPECT_EQ(job.Type, "Other");
    job.Type.clear();
    ExpectReadUpTo(job, 0);
}

// A job's weight counts every value it holds: a frame of small numbers builds far more in memory
// than its text.
TEST(PrintJobHeldBytes, CountEveryValueAndText) {
    PRINT_JOB::DEF job;
    job.Type = std::string(1000, 't');
    job.Data = json::array();
    for (int i = 0; i < 10000; ++i)
        job.Data.push_back(0);
    EXPECT_GE(PRINT_JOB::HeldBytes(job), 1000 + 10000 * sizeof(json));
    job.Data = {{std::string(2000, 'k'), std::string(5000, 'v')}};
    EXPECT_GE(PRINT_JOB::HeldBytes(job), 1000u + 2000 + 5000);
}

}  // namespace
