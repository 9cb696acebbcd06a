#include "emulator/fault_plan.h"

#include <algorithm>

namespace tornelvox::emulator {
namespace {

constexpr std::uint8_t kNoiseByte = 0x11;
constexpr std::uint8_t kExtraByte = 0xEA;

}  // namespace

void FaultPlan::Add(const FaultRule &rule) {
    rules_.push_back({rule, 0});
}

std::vector<FaultRule> FaultPlan::Select(int code, int option, int page) {
    std::vector<FaultRule> applied;
    for (Watched &watched : rules_) {
        const FaultRule &rule = watched.rule;
        if (rule.code != code) continue;
        if (rule.option >= 0 && rule.option != option) continue;
        if (rule.page >= 0 && rule.page != page) continue;
        const int index = watched.seen++;
        if (index < rule.skip) continue;
        if (rule.times != kAlways && index - rule.skip >= rule.times) continue;
        applied.push_back(rule);
    }
    return applied;
}

HandlingFaults HandlingFor(const std::vector<FaultRule> &rules) {
    HandlingFaults handling;
    for (const FaultRule &rule : rules) {
        if (rule.kind == FaultKind::kWrongCheckValue) handling.corrupt_check_value = true;
        if (rule.kind == FaultKind::kOutOfRangeNumber) handling.settings_number = rule.value;
        if (rule.kind == FaultKind::kPageWriteFails) handling.page_write_fails = true;
        if (rule.kind == FaultKind::kUnwrittenPage) handling.page_left_unwritten = true;
        if (rule.kind == FaultKind::kErasedPageRead) handling.page_reads_erased = true;
    }
    return handling;
}

Delivery Shape(const std::vector<FaultRule> &rules, std::vector<std::uint8_t> &reply) {
    Delivery delivery;
    for (const FaultRule &rule : rules) {
        if (!delivery.notes.empty()) delivery.notes += ", ";
        delivery.notes += FaultName(rule.kind);
        switch (rule.kind) {
            case FaultKind::kSilence:
            case FaultKind::kPageWriteFails:
                delivery.silent = true;
                break;
            case FaultKind::kShortReply:
                reply.resize(std::min(rule.bytes, reply.size()));
                break;
            case FaultKind::kOneByteReply:
                reply.resize(std::min<std::size_t>(1, reply.size()));
                break;
            case FaultKind::kSplitReply:
                delivery.piece = std::max<std::size_t>(1, rule.bytes);
                delivery.pause = std::chrono::milliseconds(std::max(0, rule.delay_ms));
                break;
            case FaultKind::kExtraBytes:
                if (!reply.empty()) reply.insert(reply.end(), rule.bytes, kExtraByte);
                break;
            case FaultKind::kGarbage:
                for (std::size_t i = 0; i < reply.size(); ++i) {
                    reply[i] = static_cast<std::uint8_t>(i % 2 == 0 ? 0xA5 : 0x3C);
                }
                break;
            case FaultKind::kLateReply:
                delivery.delay += std::chrono::milliseconds(std::max(0, rule.delay_ms));
                break;
            case FaultKind::kLeadingNoise:
                if (!reply.empty()) reply.insert(reply.begin(), rule.bytes, kNoiseByte);
                break;
            case FaultKind::kUnplug:
                delivery.unplug = true;
                break;
            case FaultKind::kWrongCheckValue:
            case FaultKind::kOutOfRangeNumber:
            case FaultKind::kErasedPageRead:
            case FaultKind::kUnwrittenPage:
                break;  // changed the handling, not the reply's shape
        }
    }
    if (reply.empty()) delivery.silent = true;
    return delivery;
}

const char *FaultName(FaultKind kind) {
    switch (kind) {
        case FaultKind::kSilence:
            return "silence";
        case FaultKind::kShortReply:
            return "short reply";
        case FaultKind::kOneByteReply:
            return "one-byte reply";
        case FaultKind::kSplitReply:
            return "split reply";
        case FaultKind::kExtraBytes:
            return "extra bytes";
        case FaultKind::kGarbage:
            return "garbage";
        case FaultKind::kLateReply:
            return "late reply";
        case FaultKind::kLeadingNoise:
            return "leading noise";
        case FaultKind::kWrongCheckValue:
            return "wrong check value";
        case FaultKind::kOutOfRangeNumber:
            return "out-of-range number";
        case FaultKind::kPageWriteFails:
            return "page write fails";
        case FaultKind::kUnplug:
            return "unplug";
        case FaultKind::kErasedPageRead:
            return "page reads erased";
        case FaultKind::kUnwrittenPage:
            return "page left unwritten";
    }
    return "fault";
}

}  // namespace tornelvox::emulator
