// SIGINT and SIGHUP act as the Cancel action: during an update the program reaches the cancel
// end and exits "cancelled", and the adapter can be updated afterwards; outside an update the
// program ends "cancelled" at once. Under nohup a hangup changes nothing, for every adapter of
// update --all as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>

#include "cli/exit_status.h"
#include "cli_fixture.h"

namespace tornelvox::cli_test {
namespace {

// The emulated line paced so that an update lasts seconds: the signal comes while it runs.
const std::vector<std::string> kPacedLine = {"--baud", "2000000"};

class UpdateSignalTest : public CliTest, public ::testing::WithParamInterface<int> {};

TEST_P(UpdateSignalTest, CancelsTheUpdate) {
    StartEmulator(1, kPacedLine);
    auto program = Start({"update", "--yes", "--json"});
    bool erasing = false;
    while (auto line = program->ReadLine(kLineLimit)) {
        if (line->find("Erase flash") != std::string::npos) {
            erasing = true;
            break;
        }
    }
    ASSERT_TRUE(erasing);
    program->Signal(GetParam());
    const Finished cancelled = program->Wait(kRunLimit);
    ASSERT_TRUE(cancelled.exited);
    EXPECT_EQ(cancelled.status, cli::ToInt(cli::ExitStatus::kCancelled)) << cancelled.out;
    EXPECT_NE(cancelled.out.find("\"status\":\"cancelled\""), std::string::npos) << cancelled.out;
    EXPECT_EQ(cancelled.out.find("Success"), std::string::npos) << cancelled.out;

    // Erased in part, perhaps with its name page: the update that follows repairs it, with the
    // address the cancelled one saved in the backup should it have to ask.
    std::ifstream backup(root_ / "state" / "tornelvox-utility" / "bt-address-backup.jsonl");
    std::string record;
    ASSERT_TRUE(std::getline(backup, record));
    const std::string address = nlohmann::json::parse(record).value("address", "");
    const Finished repaired = Run({"update", "--yes", "--json", "--address", address});
    EXPECT_EQ(repaired.status, 0) << repaired.out << repaired.err;
    EXPECT_NE(repaired.out.find("\"address\":\"" + address + "\""), std::string::npos)
        << repaired.out;
}

INSTANTIATE_TEST_SUITE_P(Signals, UpdateSignalTest, ::testing::Values(SIGINT, SIGHUP, SIGTERM),
                         [](const auto &info) { return std::string(sigabbrev_np(info.param)); });

// Started under nohup, the program keeps the hangup ignored: a dropped session does not stop the
// update the user meant to outlive it.
TEST_F(CliTest, UnderNohupAHangupDoesNotStopTheUpdate) {
    StartEmulator(1, kPacedLine);
    std::vector<std::string> argv = Argv({"update", "--yes", "--json"});
    argv.insert(argv.begin(), "/usr/bin/nohup");
    Child program(argv, Environment());
    bool erasing = false;
    while (auto line = program.ReadLine(kLineLimit)) {
        if (line->find("Erase flash") != std::string::npos) {
            erasing = true;
            break;
        }
    }
    ASSERT_TRUE(erasing);
    program.Signal(SIGHUP);
    const Finished finished = program.Wait(kRunLimit);
    ASSERT_TRUE(finished.exited);
    EXPECT_EQ(finished.status, 0) << finished.out << finished.err;
    EXPECT_NE(finished.out.find("\"status\":\"success\""), std::string::npos) << finished.out;
}

// update --all in a process group of its own, as a shell runs it, and a stop signal sent to that
// group once every adapter is being erased (the hangup a closed terminal sends, Ctrl-C's SIGINT,
// SIGTERM). Started under nohup, the hangup stays ignored and every update goes on to succeed;
// otherwise every adapter's update is cancelled and reaches its own cancel end, which its log
// says.
struct UpdateAllStopCase {
    const char *name;
    int signal_number;
    bool nohup;
};

class UpdateAllStopTest : public CliTest,
                          public ::testing::WithParamInterface<UpdateAllStopCase> {};

TEST_P(UpdateAllStopTest, TheSignalActsAsTheRunWasStartedToTakeIt) {
    const bool nohup = GetParam().nohup;
    const std::vector<std::string> ports = {StartEmulator(1, kPacedLine),
                                            StartEmulator(2, kPacedLine)};
    std::vector<std::string> argv = Argv({"update", "--all", "--yes", "--json"});
    if (nohup) argv.insert(argv.begin(), "/usr/bin/nohup");
    Child program(argv, Environment());
    std::set<std::string> erasing;
    while (erasing.size() < ports.size()) {
        const std::optional<std::string> line = program.ReadLine(kLineLimit);
        ASSERT_TRUE(line.has_value()) << program.Wait(kRunLimit).err;
        const nlohmann::json object = nlohmann::json::parse(*line, nullptr, false);
        if (object.value("text", "").find("Erase flash") != std::string::npos) {
            erasing.insert(object.value("port", ""));
        }
    }
    // The program is the leader of a session and process group of its own (Child).
    ASSERT_EQ(kill(-program.Pid(), GetParam().signal_number), 0);

    const Finished finished = program.Wait(kRunLimit);
    ASSERT_TRUE(finished.exited) << finished.err;
    const cli::ExitStatus expected =
        nohup ? cli::ExitStatus::kSuccess : cli::ExitStatus::kCancelled;
    EXPECT_EQ(finished.status, cli::ToInt(expected)) << finished.out << finished.err;
    const std::vector<nlohmann::json> lines = ParseLines(finished.out);
    ASSERT_FALSE(lines.empty());
    const nlohmann::json &result = lines.back();
    ASSERT_EQ(result["adapters"].size(), ports.size()) << result;
    for (const nlohmann::json &adapter : result["adapters"]) {
        EXPECT_EQ(adapter.value("status", ""), nohup ? "success" : "cancelled") << result;
    }
    if (nohup) return;
    for (const std::string &port : ports) {
        std::string name = port.substr(1);
        std::replace(name.begin(), name.end(), '/', '_');
        std::ifstream file(root_ / "state" / "tornelvox-utility" / "update-all-logs" /
                           (name + ".log"));
        const std::string log{std::istreambuf_iterator<char>(file), {}};
        EXPECT_NE(log.find(" The update was cancelled"), std::string::npos) << log;
        EXPECT_NE(log.find("\nCancelled.\nupdate --all: cancelled"), std::string::npos) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Signals, UpdateAllStopTest,
                         ::testing::Values(UpdateAllStopCase{"HangupUnderNohup", SIGHUP, true},
                                           UpdateAllStopCase{"Hangup", SIGHUP, false},
                                           UpdateAllStopCase{"Interrupt", SIGINT, false},
                                           UpdateAllStopCase{"Terminate", SIGTERM, false}),
                         [](const auto &info) { return std::string(info.param.name); });

// A signal while the Check waits on a device that never answers ends the program at once.
TEST_F(CliTest, SignalOutsideAnUpdateEndsTheProgram) {
    StartEmulator(1, {"--never-reads"});
    auto program = Start({"check", "--json"});
    ASSERT_TRUE(program->ReadLine(kLineLimit).has_value());  // the search has begun
    program->Signal(SIGINT);
    const Finished finished = program->Wait(kRunLimit);
    ASSERT_TRUE(finished.exited);
    EXPECT_EQ(finished.status, cli::ToInt(cli::ExitStatus::kCancelled));
    EXPECT_NE(finished.out.find("\"status\":\"cancelled\""), std::string::npos) << finished.out;
}

}  // namespace
}  // namespace tornelvox::cli_test
