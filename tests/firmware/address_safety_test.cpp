// The update never loses or swaps the adapter's Bluetooth address: the name page is found at
// either place, an address not read from this adapter in this update is never written without
// asking, a backup is on disk before anything is erased, and the name page is read back.
// Also: a build without the vendor image refuses a real adapter, and an earlier update's check
// value error never decides a later update.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "tests/firmware/adapter_fixture.h"
#include "workflow/workflow.h"

namespace tornelvox::testing {
namespace {

using emu::FaultKind;
using Address = std::array<std::uint8_t, 6>;

const Address kOwn = emu::AdapterConfig{}.bt_address;             // 40:9E:21:5C:03:A7
constexpr Address kOther = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};  // 66:55:44:33:22:11
constexpr Address kSaved = {0x5A, 0x04, 0x33, 0x22, 0x11, 0xC0};  // C0:11:22:33:04:5A

// The address the session holds for the name page.
BtAddress Held(const LinkSession &session) {
    BtAddress held;
    std::memcpy(held.data(), session.BT_ADD, held.size());
    return held;
}

std::vector<std::uint32_t> PageReads(const emu::EmulatedAdapter &adapter) {
    std::vector<std::uint32_t> reads;
    for (const emu::FrameRecord &record : adapter.Frames()) {
        if (record.kind != emu::RecordKind::kFrame || record.code != kCmdReadPage) continue;
        reads.push_back(record.bytes[8] | record.bytes[9] << 8 | record.bytes[10] << 16 |
                        record.bytes[11] << 24);
    }
    return reads;
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

// ---- Where the name page is looked for -----------------------------------------------------

enum class Version { kQueried, kUnknown, kStaleFromAnotherPort };

struct FindCase {
    const char *name;
    std::uint32_t adapter_version;
    Version version;
    int cur_ver_num;  // for kUnknown and kStaleFromAnotherPort
    bool page_stored;
    std::optional<Address> other_place;
    std::vector<std::uint32_t> reads;  // the places read, in order
    std::optional<Address> found;      // the address GetID takes; none when it fails
    bool conflict;
};

void PrintTo(const FindCase &c, std::ostream *os) {
    *os << c.name;
}

class NamePageSearchTest : public AdapterTest, public ::testing::WithParamInterface<FindCase> {};

TEST_P(NamePageSearchTest, FindsThePageWhereverTheAdapterKeepsIt) {
    const FindCase &c = GetParam();
    auto &adapter = StartAdapter({.version = c.adapter_version,
                                  .name_page_stored = c.page_stored,
                                  .other_place_address = c.other_place},
                                 c.version == Version::kQueried);
    if (c.version != Version::kQueried) session.CurVerNum = c.cur_ver_num;
    if (c.version == Version::kStaleFromAnotherPort) {
        session.QueriedAdapter = {"/dev/ttyUSB7", true, true};
    }
    ASSERT_EQ(Set2Boot(session), 1);

    EXPECT_EQ(GetID(session, 1), c.found ? 1 : 0) << Log();
    EXPECT_EQ(PageReads(adapter), c.reads);
    EXPECT_EQ(session.LastNamePageSearch.Conflict(), c.conflict);
    EXPECT_EQ(Held(session), c.found ? *c.found : kDefaultAddress);
}

INSTANTIATE_TEST_SUITE_P(
    Places, NamePageSearchTest,
    ::testing::Values(
        // The version read from this adapter says where: one read, as always.
        FindCase{"Queried", 0x302, Version::kQueried, 0, true, {}, {0xFD000}, kOwn, false},
        FindCase{"QueriedOld", 0x2FF, Version::kQueried, 0, true, {}, {0x7D000}, kOwn, false},
        // The version is not this adapter's: the other place is read too.
        FindCase{"UnknownOldAdapter",
                 0x2FF,
                 Version::kUnknown,
                 0,
                 true,
                 {},
                 {0x7D000, 0xFD000},
                 kOwn,
                 false},
        FindCase{"UnknownNewAdapter",
                 0x302,
                 Version::kUnknown,
                 0,
                 true,
                 {},
                 {0x7D000, 0xFD000},
                 kOwn,
                 false},
        FindCase{"StaleNewOnOldAdapter",
                 0x2FF,
                 Version::kStaleFromAnotherPort,
                 0x302,
                 true,
                 {},
                 {0xFD000, 0x7D000},
                 kOwn,
                 false},
        FindCase{"StaleOldOnNewAdapter",
                 0x302,
                 Version::kStaleFromAnotherPort,
                 0x2FF,
                 true,
                 {},
                 {0x7D000, 0xFD000},
                 kOwn,
                 false},
        // Not valid where the version implies: the other place.
        FindCase{"OnlyAtTheOtherPlace",
                 0x302,
                 Version::kQueried,
                 0,
                 false,
                 kOther,
                 {0xFD000, 0x7D000},
                 kOther,
                 false},
        // Valid at both places with different addresses: not this function's to choose.
        FindCase{"TwoDifferent",
                 0x302,
                 Version::kUnknown,
                 0,
                 true,
                 kOther,
                 {0x7D000, 0xFD000},
                 std::nullopt,
                 true},
        FindCase{"Neither",
                 0x302,
                 Version::kUnknown,
                 0,
                 false,
                 {},
                 {0x7D000, 0xFD000},
                 std::nullopt,
                 false}),
    [](const auto &info) { return std::string(info.param.name); });

// ---- The question, the backup, the read back -----------------------------------------------

class AddressSafety : public AdapterTest {
  protected:
    void SaveBackup(const Address &address, const std::string &port) {
        std::string error;
        ASSERT_TRUE(AppendAddressRecord(
            session.AddressBackupSubfolder,
            {"2026-12-01T09:30:00Z", address, "Tornelvox(45A)", port, "", "read"}, error))
            << error;
    }

    void Answer(AddressAnswer::Kind kind, std::size_t index = 0) {
        window_->AnswerAddressQuestions([kind, index](const AddressQuestion &) {
            return AddressAnswer{kind, index};
        });
    }

    std::vector<std::uint8_t> NamePageAddress() { return Adapter().ReadFlash(kNamePageAddress, 6); }
};

struct AnswerCase {
    const char *name;
    AddressAnswer::Kind answer;
    std::optional<Address> written;  // none: nothing erased
    const char *line;                // what the log says of the answer
};

void PrintTo(const AnswerCase &c, std::ostream *os) {
    *os << c.name;
}

class AddressQuestionTest : public AddressSafety,
                            public ::testing::WithParamInterface<AnswerCase> {};

// An adapter whose name page is gone (an update that never finished): the first attempt reads
// again, the second asks, offering the backup's address; each answer does what it says.
TEST_P(AddressQuestionTest, NoStoredAddressIsAskedForAndTheAnswerIsKept) {
    const AnswerCase &c = GetParam();
    auto &adapter = StartAdapter({.name_page_stored = false});
    SaveBackup(kSaved, session.ComPortName);
    Answer(c.answer, 0);

    ASSERT_TRUE(RunUpdate());

    const auto questions = window_->Questions();
    ASSERT_EQ(questions.size(), 1u) << Log();
    ASSERT_EQ(questions[0].candidates.size(), 1u);
    EXPECT_EQ(questions[0].candidates[0].address, kSaved);
    EXPECT_EQ(questions[0].candidates[0].port, session.ComPortName);
    EXPECT_TRUE(Contains(Log(), " Try again. Try count = 1\n")) << Log();
    EXPECT_TRUE(Contains(Log(), c.line)) << Log();
    if (c.written) {
        EXPECT_EQ(NamePageAddress(),
                  std::vector<std::uint8_t>(c.written->begin(), c.written->end()));
        EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kSuccess);
    } else {
        EXPECT_EQ(adapter.CountOf(kCmdEraseStep), 0) << "nothing may be erased";
        EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kRefused);
        EXPECT_EQ(window_->ButtonStates().back(), ButtonState::Restored);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, AddressQuestionTest,
    ::testing::Values(
        AnswerCase{"Backup", AddressAnswer::Kind::kCandidate, kSaved,
                   " Using the BT address C0:11:22:33:04:5A (address backup).\n"},
        AnswerCase{"BuiltIn", AddressAnswer::Kind::kBuiltInAddress, kDefaultAddress,
                   " Using the built-in BT address 06:04:03:00:01:00: the adapter gets a new "
                   "address, and phones paired with it must pair again.\n"},
        AnswerCase{"Refused", AddressAnswer::Kind::kRefused, std::nullopt,
                   " No BT address was chosen: nothing was erased.\n"},
        AnswerCase{"NoAnswer", AddressAnswer::Kind::kNoAnswer, std::nullopt,
                   " No BT address was chosen: nothing was erased.\n"}),
    [](const auto &info) { return std::string(info.param.name); });

// The address an earlier update read stays in memory, but it may be another adapter's: the
// next update offers it and never writes it unasked.
TEST_F(AddressSafety, AnEarlierUpdatesAddressIsOfferedNeverWrittenSilently) {
    StartAdapter({.bt_address = kOther});
    ASSERT_TRUE(RunUpdate());
    ASSERT_EQ(Held(session), kOther);

    auto &second = StartAdapter({.name_page_stored = false});
    ASSERT_TRUE(RunUpdate());

    const auto questions = window_->Questions();
    ASSERT_EQ(questions.size(), 1u) << Log();
    ASSERT_FALSE(questions[0].candidates.empty());
    EXPECT_EQ(questions[0].candidates[0].address, kOther);
    EXPECT_TRUE(Contains(questions[0].candidates[0].origin, "earlier update"));
    EXPECT_EQ(second.CountOf(kCmdEraseStep), 0);
}

// From the sixth attempt on the name page is not read; when no attempt read it, the update asks
// rather than writing whatever address it holds.
TEST_F(AddressSafety, LaterAttemptsWithoutAnAddressReadAsk) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdReadPage, .kind = FaultKind::kSilence, .times = emu::kAlways});

    ASSERT_TRUE(RunUpdate());

    EXPECT_EQ(window_->Questions().size(), 1u);
    EXPECT_EQ(pauses_.size(), 5u);
    EXPECT_EQ(adapter.CountOf(kCmdEraseStep), 0);
    EXPECT_EQ(adapter.ReadFlash(kNamePageAddress, 6),
              std::vector<std::uint8_t>(kOwn.begin(), kOwn.end()));
}

// Valid pages at both places with different addresses: the user picks.
TEST_F(AddressSafety, TwoStoredAddressesAreBothOffered) {
    StartAdapter({.other_place_address = kOther});
    session.QueriedAdapter.version_read =
        false;  // as after a Check that could not read the version
    session.CurVerNum = 0;
    Answer(AddressAnswer::Kind::kCandidate, 1);

    ASSERT_TRUE(RunUpdate());

    const auto questions = window_->Questions();
    ASSERT_EQ(questions.size(), 1u) << Log();
    ASSERT_GE(questions[0].candidates.size(), 2u);
    EXPECT_EQ(questions[0].candidates[0].address, kOther);  // 0x7D000, read first
    EXPECT_EQ(questions[0].candidates[1].address, kOwn);
    EXPECT_EQ(NamePageAddress(), std::vector<std::uint8_t>(kOwn.begin(), kOwn.end()));
    EXPECT_TRUE(Contains(Log(),
                         "\t Device has two different stored BT addresses: "
                         "66:55:44:33:22:11 at 7D000 and 40:9E:21:5C:03:A7 at FD000.\n"));
}

TEST_F(AddressSafety, BackupIsOnDiskBeforeTheFirstErase) {
    auto &adapter = StartAdapter();
    adapter.AddFault(
        {.code = kCmdEraseStep, .kind = FaultKind::kUnplug});  // gone at the first erase

    ASSERT_TRUE(RunUpdate());

    const auto backup = Backup();
    ASSERT_FALSE(backup.empty());
    EXPECT_EQ(backup[0].address, kOwn);
    EXPECT_EQ(backup[0].name, "Tornelvox(3A7)");
    EXPECT_EQ(backup[0].port, session.ComPortName);
    EXPECT_EQ(backup[0].source, "read");
    EXPECT_EQ(backup[0].time.size(), 20u) << backup[0].time;
}

// Each record says what the port's device was when it was saved, as `ports` names devices.
TEST_F(AddressSafety, BackupRecordsSayWhichDeviceTheyWereSavedFrom) {
    const struct {
        const char *name;
        bool listed;  // the stand-in device tree lists the adapter's node as a USB device
        const char *device;
    } rows[] = {
        {"ListedUsbDevice", true, "Tornelvox Emulated adapter, serial A50285BI"},
        {"UnlistedPseudoTerminal", false, "pseudo-terminal"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        session.SysfsRoot = (state_home_ / row.name / "sys").string();
        auto &adapter = StartAdapter({.usb_serial = "A50285BI"});
        if (row.listed) {
            ASSERT_TRUE(adapter.ListInDeviceTree(session.SysfsRoot));
        }
        adapter.AddFault({.code = kCmdEraseStep, .kind = FaultKind::kUnplug});

        ASSERT_TRUE(RunUpdate());

        const auto backup = Backup();
        ASSERT_FALSE(backup.empty()) << Log();
        EXPECT_EQ(backup[0].device, row.device);
        EXPECT_EQ(backup[0].usb_serial, row.listed ? "A50285BI" : "");
        ClosePort(session);
        adapter.Stop();
    }
}

// The question shows each backup record's device: the words saved with it, or for a record
// saved before those were kept its USB serial number in the same words, or nothing.
TEST_F(AddressSafety, TheQuestionNamesEachBackupRecordsDevice) {
    constexpr Address kOldest = {0x01, 0x22, 0x33, 0x44, 0x55, 0x66};
    constexpr Address kOld = {0x02, 0x22, 0x33, 0x44, 0x55, 0x66};
    StartAdapter({.name_page_stored = false});
    const struct {
        Address address;
        const char *usb_serial;
        const char *device;  // as saved
        const char *shown;   // as the question shows it
    } rows[] = {
        {kSaved, "FT2B", "Maker Gadget, serial FT2B", "Maker Gadget, serial FT2B"},
        {kOld, "FT1A", "", "USB device, serial FT1A"},
        {kOldest, "", "", ""},
    };
    for (auto row = std::rbegin(rows); row != std::rend(rows); ++row) {
        std::string error;
        ASSERT_TRUE(AppendAddressRecord(session.AddressBackupSubfolder,
                                        {"2026-12-01T09:30:00Z", row->address, "", "/dev/ttyUSB0",
                                         row->usb_serial, "read", row->device},
                                        error))
            << error;
    }
    Answer(AddressAnswer::Kind::kRefused);

    ASSERT_TRUE(RunUpdate());

    const auto questions = window_->Questions();
    ASSERT_EQ(questions.size(), 1u) << Log();
    std::vector<AddressCandidate> offered;
    for (const AddressCandidate &candidate : questions[0].candidates) {
        if (candidate.origin == "address backup") offered.push_back(candidate);
    }
    ASSERT_EQ(offered.size(), std::size(rows));
    for (std::size_t i = 0; i < offered.size(); ++i) {
        EXPECT_EQ(offered[i].address, rows[i].address) << i;
        EXPECT_EQ(offered[i].device, rows[i].shown) << i;
    }
}

// A backup that cannot be written is said once, and the update goes on.
TEST_F(AddressSafety, UnwritableBackupIsToldAndTheUpdateGoesOn) {
    StartAdapter();
    const std::string blocked = state_home_.string() + "/file";
    std::ofstream(blocked) << "a file where the folder should be";
    setenv("XDG_STATE_HOME", blocked.c_str(), 1);

    ASSERT_TRUE(RunUpdate());

    EXPECT_TRUE(Contains(Log(), " Could not save the BT address backup (cannot make the folder "))
        << Log();
    EXPECT_TRUE(Contains(Log(), "Success"));
    EXPECT_EQ(NamePageAddress(), std::vector<std::uint8_t>(kOwn.begin(), kOwn.end()));
}

struct ReadBackCase {
    const char *name;
    int wrong_reads;  // read backs that come back garbled
    bool retried;     // the attempt failed and a second one ran
};

void PrintTo(const ReadBackCase &c, std::ostream *os) {
    *os << c.name;
}

class NamePageReadBack : public AddressSafety,
                         public ::testing::WithParamInterface<ReadBackCase> {};

TEST_P(NamePageReadBack, MustHoldWhatWasWritten) {
    const ReadBackCase &c = GetParam();
    auto &adapter = StartAdapter();
    // The first page read is the name page read of the attempt; the read backs follow.
    adapter.AddFault(
        {.code = kCmdReadPage, .kind = FaultKind::kGarbage, .skip = 1, .times = c.wrong_reads});

    ASSERT_TRUE(RunUpdate());

    const std::string log = Log();
    EXPECT_TRUE(Contains(log,
                         " Verify flash ... Done\n BT info does not read back as written, "
                         "reading it again\n"))
        << log;
    EXPECT_EQ(Contains(log, " Fail to verify BT info\n Try again. Try count = 1\n"), c.retried)
        << log;
    EXPECT_EQ(session.FailCode == kFailNamePageReadBack, c.retried);
    EXPECT_TRUE(Contains(log, "Success")) << log;
    EXPECT_EQ(NamePageAddress(), std::vector<std::uint8_t>(kOwn.begin(), kOwn.end()));
}

INSTANTIATE_TEST_SUITE_P(Reads, NamePageReadBack,
                         ::testing::Values(ReadBackCase{"WrongOnce", 1, false},
                                           ReadBackCase{"WrongTwice", 2, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// ---- What the build may update; earlier updates' failure codes -----------------------------

TEST_F(AddressSafety, PlaceholderBuildRefusesARealAdapterBeforeTheFirstFrame) {
    if (kVendorImage) GTEST_SKIP() << "built with the vendor's image, which updates any adapter";
    auto &adapter = StartAdapter({.identifies_as_emulator = false});
    ASSERT_EQ(session.CurVerNum, kOlderVersion);

    ASSERT_TRUE(RunUpdate());

    EXPECT_TRUE(adapter.ReceivedCodes().empty()) << adapter.Transcript();
    EXPECT_EQ(Log(),
              " This build carries no vendor firmware image: it updates only the emulated "
              "adapter.\n To update this adapter, build the utility with the vendor's image (see "
              "\"The firmware image\" in the README).\n\n");
    EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kRefused);
    EXPECT_EQ(window_->ButtonStates(),
              (std::vector<ButtonState>{ButtonState::LockedForUpdate, ButtonState::Restored}));
    EXPECT_EQ(session.CurVerNum, kOlderVersion);
}

// The vendor's image updates an adapter that does not name itself as the emulated one, and keeps
// its address.
TEST_F(AddressSafety, VendorBuildUpdatesARealAdapter) {
    if (!kVendorImage) {
        GTEST_SKIP() << "built with the placeholder image, which updates only the emulated adapter";
    }
    auto &adapter = StartAdapter({.identifies_as_emulator = false});

    ASSERT_TRUE(RunUpdate());

    EXPECT_TRUE(Contains(Log(), "Success")) << Log();
    EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kSuccess);
    const auto image = adapter.ReadFlash(0, kImageSize);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), rawData)) << "image pages differ";
    EXPECT_EQ(NamePageAddress(), std::vector<std::uint8_t>(kOwn.begin(), kOwn.end()));
}

// The emulated adapter was checked, then unplugged, and a real adapter came in at the same
// path: it must say again what it is before it gets a frame that could flash it.
TEST_F(AddressSafety, PlaceholderBuildRefusesARealAdapterPluggedInSinceTheCheck) {
    if (kVendorImage) GTEST_SKIP() << "built with the vendor's image, which updates any adapter";
    char folder[] = "/tmp/tvx-XXXXXX";  // a short path: it must fit the port name
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string link = std::string(folder) + "/cu.usbserial-1";
    emu::EmulatedAdapter emulated;
    ASSERT_TRUE(emulated.Start());
    ASSERT_TRUE(emulated.LinkAt(link));
    std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s", link.c_str());
    ASSERT_TRUE(InitPort(session));
    ASSERT_EQ(CheckFMVersion(session), 1);
    ASSERT_TRUE(ImageMayUpdateAdapter(session));

    emulated.Unplug();
    emu::EmulatedAdapter real({.identifies_as_emulator = false});
    ASSERT_TRUE(real.Start());
    ASSERT_TRUE(real.LinkAt(link));

    ASSERT_TRUE(RunUpdate());

    EXPECT_EQ(real.ReceivedCodes(), std::vector<int>{kCmdQueryVersion}) << real.Transcript();
    EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kRefused);
    EXPECT_TRUE(Contains(Log(), " This build carries no vendor firmware image")) << Log();
    real.Stop();
    emulated.Stop();
    std::filesystem::remove_all(folder);
}

// One update ends on a check value error; the next one's first attempt fails on a short name
// page reply, which records no failure code of its own. The retries go on.
TEST_F(AddressSafety, AnEarlierUpdatesCheckValueErrorDoesNotEndALaterOne) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue, .times = 2});
    ASSERT_TRUE(RunUpdate());
    ASSERT_EQ(session.FailCode, kFailCheckValueMismatch);
    ASSERT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kFailure);

    adapter.ClearFaults();
    adapter.AddFault({.code = kCmdReadPage, .kind = FaultKind::kShortReply, .bytes = 100});
    window_->Clear();
    ASSERT_TRUE(RunUpdate());

    EXPECT_TRUE(Contains(Log(), " Try again. Try count = 1\n")) << Log();
    EXPECT_EQ(session.LastUpdateEnd.load(), UpdateEnd::kSuccess) << Log();
    EXPECT_EQ(NamePageAddress(), std::vector<std::uint8_t>(kOwn.begin(), kOwn.end()));
}

}  // namespace
}  // namespace tornelvox::testing
