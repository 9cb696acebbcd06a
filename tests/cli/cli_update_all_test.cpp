// update --all against emulated adapters, each its own process: one updates, one is unplugged
// in the middle of writing, one has lost its name page and so needs an answer that cannot be
// asked for under update --all.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>

#include "cli_fixture.h"
#include "tests/support/image_pages.h"

namespace tornelvox::cli_test {
namespace {

TEST_F(CliTest, UpdateAllEndsEachAdapterOnItsOwn) {
    const std::string healthy = StartEmulator(1);
    const std::string unplugged = StartEmulator(2, {"--unplug-while-writing"});
    const std::string nameless = StartEmulator(3, {"--no-name-page"});

    const Finished finished = Run({"update", "--all", "--yes", "--json"});
    ASSERT_TRUE(finished.exited) << finished.err;
    EXPECT_EQ(finished.status, 3) << finished.out;  // update failed: not every adapter succeeded

    const std::vector<nlohmann::json> lines = ParseLines(finished.out);
    ASSERT_FALSE(lines.empty());
    const nlohmann::json &result = lines.back();
    ASSERT_EQ(result.value("type", ""), "result") << result;
    std::map<std::string, nlohmann::json> adapters;
    for (const nlohmann::json &adapter : result["adapters"]) adapters[adapter["port"]] = adapter;
    ASSERT_EQ(adapters.size(), 3u) << result;

    EXPECT_EQ(adapters[healthy].value("status", ""), "success") << result;
    EXPECT_EQ(adapters[healthy].value("version_after", ""), "603") << result;
    EXPECT_EQ(adapters[unplugged].value("status", ""), "failed") << result;
    EXPECT_EQ(adapters[nameless].value("status", ""), "refused") << result;
    EXPECT_NE(adapters[nameless].value("reason", "").find("nothing was erased"), std::string::npos)
        << result;

    // The refused adapter still runs its firmware: it was never erased.
    const Finished check = Run({"check", "--port", nameless});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find("Device Firmware Version = 302"), std::string::npos) << check.out;

    // Each adapter's log went to a file of its own under the state folder.
    const std::filesystem::path logs = root_ / "state" / "tornelvox-utility" / "update-all-logs";
    EXPECT_EQ(result.value("log_dir", ""), logs.string());
    for (const std::string &port : {healthy, unplugged, nameless}) {
        std::string name = port.substr(1);
        for (char &c : name) {
            if (c == '/') c = '_';
        }
        EXPECT_TRUE(std::filesystem::exists(logs / (name + ".log"))) << name;
    }
}

// update --all --verify-all: each adapter's update reads the whole image back, so the adapter whose
// page was left unwritten is written again and ends well; its log says why it took a second
// attempt.
TEST_F(CliTest, UpdateAllGivesVerifyAllToEachAdapter) {
    const int page = testing::PageUnlikeErasedFrom(200);
    if (page < 0) GTEST_SKIP() << "the image is erased from page 200 on";
    const std::string link = StartEmulator(1, {"--unwritten-page", std::to_string(page)});

    const Finished finished = Run({"update", "--all", "--yes", "--json", "--verify-all"});
    ASSERT_TRUE(finished.exited) << finished.err;
    EXPECT_EQ(finished.status, 0) << finished.out;

    std::string name = link.substr(1);
    for (char &c : name) {
        if (c == '/') c = '_';
    }
    std::ifstream file(root_ / "state" / "tornelvox-utility" / "update-all-logs" / (name + ".log"));
    const std::string text{std::istreambuf_iterator<char>(file), {}};
    EXPECT_NE(text.find("Fail to verify flash add"), std::string::npos) << text;
    EXPECT_NE(text.find(" Read back flash "), std::string::npos) << text;
}

}  // namespace
}  // namespace tornelvox::cli_test
