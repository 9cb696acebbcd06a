// The firmware versions around each settings gate, with the options each version lacks.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace tornelvox {

struct GateCase {
    std::uint32_t version;
    std::set<int> gated;  // options the version lacks: not read, not written, fixed values
};

inline void PrintTo(const GateCase &c, std::ostream *out) {
    *out << "version " << std::hex << c.version;
}

// clang-format off
inline const std::vector<GateCase> kGateCases = {
    GateCase{0x200, {13, 14, 15, 16, 17, 18}},
    GateCase{0x205, {13, 14, 15, 16, 17, 18}},
    GateCase{0x206, {15, 16, 17, 18}},
    GateCase{0x2FF, {15, 16, 17, 18}},
    GateCase{0x300, {16, 17, 18}},
    GateCase{0x301, {16, 17, 18}},
    GateCase{0x302, {}},
    GateCase{0x603, {}},
};
// clang-format on

// Test name of a case: "v2FF".
inline std::string GateCaseName(const GateCase &c) {
    char name[8];
    std::snprintf(name, sizeof name, "v%03X", static_cast<unsigned>(c.version));
    return name;
}

}  // namespace tornelvox
