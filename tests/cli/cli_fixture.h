// A temporary device folder with emulated adapters linked into it, a temporary state folder for
// the address backup, and the program run against them as a process of its own.
#pragma once

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "child_process.h"

namespace tornelvox::cli_test {

// Generous limits: a run that needs them has hung.
inline constexpr std::chrono::seconds kRunLimit{60};
inline constexpr std::chrono::seconds kLineLimit{20};

// Each line of a --json run's stdout, parsed; a line that does not parse fails the test.
inline std::vector<nlohmann::json> ParseLines(const std::string &out) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(out);
    std::string line;
    while (std::getline(stream, line)) {
        EXPECT_NO_THROW(lines.push_back(nlohmann::json::parse(line))) << line;
    }
    return lines;
}

class CliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char folder[] = "/tmp/tornelvox-cli-test-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root_ = folder;
        std::filesystem::create_directory(root_ / "dev");
        std::filesystem::create_directory(root_ / "state");
    }

    void TearDown() override {
        for (auto &emulator : emulators_) {
            emulator->Signal(SIGTERM);
            emulator->Wait(kRunLimit);
        }
        emulators_.clear();
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::string DeviceDir() const { return (root_ / "dev").string(); }

    // Starts an emulated adapter linked at <dev>/cu.usbserial-<number>; returns the link.
    std::string StartEmulator(int number, const std::vector<std::string> &options = {}) {
        const std::string link = DeviceDir() + "/cu.usbserial-" + std::to_string(number);
        std::vector<std::string> argv = {EMULATOR_PATH, "--link", link};
        argv.insert(argv.end(), options.begin(), options.end());
        emulators_.push_back(std::make_unique<Child>(argv, std::vector<std::string>{}));
        Child &emulator = *emulators_.back();
        EXPECT_TRUE(emulator.ReadLine(kLineLimit).has_value());  // the slave's path
        EXPECT_EQ(emulator.ReadLine(kLineLimit).value_or(""), link);
        return link;
    }

    std::vector<std::string> Argv(const std::vector<std::string> &args) const {
        std::vector<std::string> argv = {TORNELVOX_PATH};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), {"--device-dir", DeviceDir()});
        return argv;
    }

    std::vector<std::string> Environment() const {
        return {"XDG_STATE_HOME=" + (root_ / "state").string()};
    }

    // Runs tornelvox with args and --device-dir to its end.
    Finished Run(const std::vector<std::string> &args) {
        Child program(Argv(args), Environment());
        return program.Wait(kRunLimit);
    }

    std::unique_ptr<Child> Start(const std::vector<std::string> &args) {
        return std::make_unique<Child>(Argv(args), Environment());
    }

    std::filesystem::path root_;
    std::vector<std::unique_ptr<Child>> emulators_;
};

}  // namespace tornelvox::cli_test
