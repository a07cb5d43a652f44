#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "Gateway/Messages.h"

namespace {

TEST(MessagesParams, CheckConfigCarriesItemsInGivenOrder) {
    EXPECT_EQ(MESSAGES::CheckConfigParams({}).dump(), R"({"Items":[]})");
    EXPECT_EQ(
        MESSAGES::CheckConfigParams({{"z.btw", "/f/z.btw"}, {"a/b.btw", "/f/a/b.btw"}}).dump(),
        R"({"Items":[{"absPath":"/f/z.btw","relPath":"z.btw"},)"
        R"({"absPath":"/f/a/b.btw","relPath":"a/b.btw"}]})");
}

}  // namespace
