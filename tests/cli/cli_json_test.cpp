// --json: every line of stdout is one JSON object, the last the result.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_fixture.h"

namespace tornelvox::cli_test {
namespace {

struct JsonCase {
    const char *name;
    std::vector<std::string> args;
    int exit;
};

class JsonLinesTest : public CliTest, public ::testing::WithParamInterface<JsonCase> {};

TEST_P(JsonLinesTest, EveryLineParsesAndTheResultIsLast) {
    const std::string link = StartEmulator(1);
    std::vector<std::string> args = GetParam().args;
    args.push_back("--json");
    const Finished finished = Run(args);
    EXPECT_EQ(finished.status, GetParam().exit);
    const std::vector<nlohmann::json> lines = ParseLines(finished.out);
    ASSERT_FALSE(lines.empty());
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_NE(lines[i].value("type", ""), "result") << lines[i];
    }
    const nlohmann::json &result = lines.back();
    EXPECT_EQ(result.value("type", ""), "result");
    EXPECT_EQ(result.value("exit", -1), GetParam().exit);
    EXPECT_EQ(lines.front().value("type", ""), "log");
    EXPECT_EQ(lines.front().value("text", ""), "\n Search Device ...\n");
}

INSTANTIATE_TEST_SUITE_P(
    Commands, JsonLinesTest,
    ::testing::Values(JsonCase{"Check", {"check"}, 0}, JsonCase{"Update", {"update", "--yes"}, 0},
                      JsonCase{"Unconfirmed", {"update"}, 5}, JsonCase{"Settings", {"settings"}, 0},
                      JsonCase{"SettingsSet", {"settings", "set", "LED Debug=TRUE"}, 0}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(CliTest, UpdateResultNamesPortAddressAndVersions) {
    const std::string link = StartEmulator(1);
    const Finished finished = Run({"update", "--yes", "--json"});
    const nlohmann::json result = ParseLines(finished.out).back();
    EXPECT_EQ(result.value("status", ""), "success");
    EXPECT_EQ(result.value("port", ""), link);
    EXPECT_EQ(result.value("version_before", ""), "302");
    EXPECT_EQ(result.value("version_after", ""), "603");
    // The emulator's own address, read from its name page and written back.
    EXPECT_EQ(result.value("address", "").size(), 17u) << result;
}

// Each progress line carries the update worker's time left: null at the attempt's first report,
// before any step is measured, then whole seconds down to 0 at the last. The emulator takes time
// for its erase steps and its check value, as an adapter does.
TEST_F(CliTest, UpdateProgressLinesCarryTheTimeLeft) {
    StartEmulator(1, {"--erase-step-ms", "5", "--verify-ms", "50"});
    const Finished finished = Run({"update", "--yes", "--json"});
    EXPECT_EQ(finished.status, 0);
    std::vector<nlohmann::json> progress;
    for (const nlohmann::json &line : ParseLines(finished.out)) {
        if (line.value("type", "") == "progress") progress.push_back(line);
    }
    ASSERT_EQ(progress.size(), 31u + 255u + 3u);
    for (const char *key : {"attempt", "stage", "done", "total", "seconds_left"}) {
        for (const nlohmann::json &line : progress) ASSERT_TRUE(line.contains(key)) << line;
    }
    EXPECT_TRUE(progress.front()["seconds_left"].is_null()) << progress.front();
    for (std::size_t i = 1; i < progress.size(); ++i) {
        ASSERT_TRUE(progress[i]["seconds_left"].is_number_integer()) << progress[i];
        EXPECT_GE(progress[i]["seconds_left"].get<int>(), 0) << progress[i];
    }
    EXPECT_EQ(progress.back()["seconds_left"], 0) << progress.back();
}

TEST_F(CliTest, PortsResultListsEveryNode) {
    const std::string adapter = StartEmulator(1, {"--version", "0x300"});
    const Finished finished = Run({"ports", "--json"});
    EXPECT_EQ(finished.status, 0);
    const nlohmann::json result = ParseLines(finished.out).back();
    ASSERT_EQ(result["ports"].size(), 1u) << result;
    EXPECT_EQ(result["ports"][0].value("path", ""), adapter);
    EXPECT_EQ(result["ports"][0].value("kind", ""), "adapter");
    EXPECT_EQ(result["ports"][0].value("version", ""), "300");
}

}  // namespace
}  // namespace tornelvox::cli_test
