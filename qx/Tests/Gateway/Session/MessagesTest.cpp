#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Gateway/Messages.h"

namespace {

using nlohmann::json;

TEST(MessagesParams, CheckConfigCarriesItemsInGivenOrder) {
    EXPECT_EQ(MESSAGES::CheckConfigParams({}).dump(), R"({"Items":[]})");
    EXPECT_EQ(
        MESSAGES::CheckConfigParams({{"z.btw", "/f/z.btw"}, {"a/b.btw", "/f/a/b.btw"}}).dump(),
        R"({"Items":[{"absPath":"/f/z.btw","relPath":"z.btw"},)"
        R"({"absPath":"/f/a/b.btw","relPath":"a/b.btw"}]})");
}

TEST(MessagesParams, RegisterKeepsItemAndOverwritesPageSetup) {
    const json item = json::parse(R"({"DisplayName":"Box","Type":"T","absPath":"/f/box.btw",
        "Extra":{"k":[1]},"WidthInMm":"old","HeightInMm":1,"isLandscape":"x"})");
    EXPECT_EQ(MESSAGES::RegisterParams(item, 100, 50.25, true).dump(),
              R"({"DisplayName":"Box","Extra":{"k":[1]},"HeightInMm":50.25,"Type":"T",)"
              R"("WidthInMm":100.0,"absPath":"/f/box.btw","isLandscape":true})");
    EXPECT_THROW(MESSAGES::RegisterParams(json::array(), 1, 1, false), json::type_error);
}

TEST(MessagesParams, PrintCarriesPrinterImageAndJob) {
    PRINT_JOB::DEF job;
    job.FormatFilename = "/f/box.btw";
    job.Data = {{"SN", "1"}};
    EXPECT_EQ(MESSAGES::PrintParams("", "iVBORw0KGgo=", job).dump(),
              R"({"Job":{"Data":{"SN":"1"},"Dpi":203,"FormatFilename":"/f/box.btw",)"
              R"("FormatName":"","HeightInMm":0.0,"PrinterName":"","Type":"","WidthInMm":0.0,)"
              R"("isLandscape":false},"PrinterName":"","base64PngData":"iVBORw0KGgo="})");
}

TEST(MessagesParams, InitializeAnnouncesBartender) {
    EXPECT_EQ(MESSAGES::InitializeParams().dump(), R"({"_TYPE":"Bartender"})");
}

}  // namespace
