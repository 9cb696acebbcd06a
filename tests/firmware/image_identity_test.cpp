// The build step that decides what the embedded image is: the placeholder builds as not the
// vendor's; another file must carry the vendor image's check value for its version.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "firmware/firmware_update.h"
#include "tools/jamcrc.h"

namespace tornelvox::testing {
namespace {

struct Outcome {
    int status = -1;
    std::string source;  // the generated file
    std::string errors;
};

Outcome RunCheck(const std::string &image, const std::string &expected, bool placeholder) {
    const auto folder = std::filesystem::temp_directory_path();
    const std::string source = (folder / "identity-test.cpp").string();
    const std::string errors = (folder / "identity-test.err").string();
    std::filesystem::remove(source);
    const std::string command = std::string(EMBED_IMAGE_CHECK_PATH) + " '" + image + "' '" +
                                source + "' 0x603 '" + expected + "' " + (placeholder ? "1" : "0") +
                                " 2> '" + errors + "'";
    const int status = std::system(command.c_str());
    Outcome outcome;
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::stringstream text;
    text << std::ifstream(source).rdbuf();
    outcome.source = text.str();
    std::stringstream error_text;
    error_text << std::ifstream(errors).rdbuf();
    outcome.errors = error_text.str();
    return outcome;
}

std::string CheckValueText(const unsigned char *bytes) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X %02X", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

// The placeholder's own check value, whatever image this build embeds.
std::string PlaceholderCheckValue() {
    std::ifstream file(PLACEHOLDER_IMAGE_PATH, std::ios::binary);
    std::vector<unsigned char> checked(tools::kCheckedRange);
    file.read(reinterpret_cast<char *>(checked.data()),
              static_cast<std::streamsize>(checked.size()));
    EXPECT_TRUE(file) << PLACEHOLDER_IMAGE_PATH;
    return CheckValueText(tools::JamCrcBytes(tools::JamCrc(checked.data(), checked.size())).data());
}

TEST(ImageIdentity, PlaceholderBuildsAsNotTheVendorsImage) {
    const Outcome outcome = RunCheck(PLACEHOLDER_IMAGE_PATH, "62 F3 CE FA", true);
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_NE(outcome.source.find("const bool kVendorImage = false;"), std::string::npos);
    EXPECT_NE(outcome.source.find("const char Ver_Num[8] = \"6.03\";"), std::string::npos);
}

TEST(ImageIdentity, AFileWithTheExpectedCheckValueIsTheVendorsImage) {
    const Outcome outcome = RunCheck(PLACEHOLDER_IMAGE_PATH, PlaceholderCheckValue(), false);
    EXPECT_EQ(outcome.status, 0) << outcome.errors;
    EXPECT_NE(outcome.source.find("const bool kVendorImage = true;"), std::string::npos);
}

// This build's own image: the placeholder is never taken for the vendor's, and any other image
// got this far only with the check value it was given.
TEST(ImageIdentity, ThisBuildsImageIsTheVendorsExactlyWhenItIsNotThePlaceholder) {
    const bool placeholder = CheckValueText(FW_CRC) == PlaceholderCheckValue();
    EXPECT_NE(kVendorImage, placeholder) << CheckValueText(FW_CRC);
}

TEST(ImageIdentity, AWrongFileOfTheRightSizeStopsTheBuild) {
    const Outcome outcome = RunCheck(PLACEHOLDER_IMAGE_PATH, "62 F3 CE FA", false);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.errors.find("not the 62 F3 CE FA of the vendor's image of version 6.03"),
              std::string::npos)
        << outcome.errors;
    EXPECT_TRUE(outcome.source.empty());
}

TEST(ImageIdentity, AFileOfAnotherSizeStopsTheBuild) {
    const std::string small = (std::filesystem::temp_directory_path() / "small.bin").string();
    std::ofstream(small) << "too short";
    const Outcome outcome = RunCheck(small, CheckValueText(FW_CRC), false);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_NE(outcome.errors.find("it must be exactly 1036288 bytes"), std::string::npos)
        << outcome.errors;
    std::filesystem::remove(small);
}

}  // namespace
}  // namespace tornelvox::testing
