#include "emulator/transcript.h"

#include <cstdio>

namespace tornelvox::emulator {
namespace {

constexpr std::size_t kShownHead = 24;
constexpr std::size_t kShownTail = 8;

std::string Hex(const std::vector<std::uint8_t> &bytes, std::size_t from, std::size_t to) {
    std::string text;
    char cell[4];
    for (std::size_t i = from; i < to && i < bytes.size(); ++i) {
        std::snprintf(cell, sizeof cell, "%02X", bytes[i]);
        if (!text.empty()) text += ' ';
        text += cell;
    }
    return text;
}

std::string Bytes(const std::vector<std::uint8_t> &bytes) {
    if (bytes.size() <= kShownHead + kShownTail) return Hex(bytes, 0, bytes.size());
    return Hex(bytes, 0, kShownHead) + " ... " +
           Hex(bytes, bytes.size() - kShownTail, bytes.size()) + " (" +
           std::to_string(bytes.size()) + " bytes)";
}

const char *Arrow(RecordKind kind) {
    switch (kind) {
        case RecordKind::kFrame:
            return "->";
        case RecordKind::kReply:
            return "<-";
        case RecordKind::kUnexpectedBytes:
            return "??";
        case RecordKind::kEvent:
            return "**";
    }
    return "  ";
}

bool SameFrame(const FrameRecord &a, const FrameRecord &b) {
    return a.kind == RecordKind::kFrame && b.kind == RecordKind::kFrame && a.code == b.code &&
           a.bytes == b.bytes && a.note == b.note;
}

}  // namespace

std::string RenderTranscript(const std::vector<FrameRecord> &records) {
    std::string text;
    for (std::size_t i = 0; i < records.size();) {
        const FrameRecord &record = records[i];
        std::size_t run = 1;
        while (i + run < records.size() && SameFrame(record, records[i + run])) ++run;
        text += Arrow(record.kind);
        if (record.kind == RecordKind::kFrame || record.kind == RecordKind::kReply) {
            text += " [" + std::to_string(record.code) + "]";
        }
        if (record.kind == RecordKind::kUnexpectedBytes) text += " unexpected";
        if (!record.bytes.empty()) text += " " + Bytes(record.bytes);
        if (record.kind == RecordKind::kReply && record.bytes.empty()) text += " (nothing)";
        if (run > 1) text += " x" + std::to_string(run);
        if (!record.note.empty()) {
            text += "  {";
            text += record.note;
            text += '}';
        }
        text += '\n';
        i += run;
    }
    return text;
}

}  // namespace tornelvox::emulator
