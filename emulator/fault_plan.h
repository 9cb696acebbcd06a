// The faults a test has asked for, and what they do to a frame's handling and its reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulator/adapter_core.h"
#include "emulator/emulated_adapter.h"

namespace tornelvox::emulator {

// How a (possibly reshaped) reply goes out.
struct Delivery {
    bool silent = false;
    bool unplug = false;
    std::chrono::milliseconds delay{0};  // before the first byte
    std::size_t piece = 0;               // 0: in one piece
    std::chrono::milliseconds pause{0};  // between pieces
    std::string notes;                   // the faults applied, for the record
};

class FaultPlan {
  public:
    void Add(const FaultRule &rule);
    void Clear() { rules_.clear(); }
    // The rules that apply to this frame. Every rule that watches the frame counts it, also
    // while it is still skipping. option and page are -1 when the frame has none.
    std::vector<FaultRule> Select(int code, int option, int page);

  private:
    struct Watched {
        FaultRule rule;
        int seen = 0;
    };
    std::vector<Watched> rules_;
};

HandlingFaults HandlingFor(const std::vector<FaultRule> &rules);

// Reshapes the reply as the rules say and tells how to deliver it.
Delivery Shape(const std::vector<FaultRule> &rules, std::vector<std::uint8_t> &reply);

const char *FaultName(FaultKind kind);

}  // namespace tornelvox::emulator
