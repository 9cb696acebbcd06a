#include "cli/line_splitter.h"

namespace tornelvox::cli {

void LineSplitter::Feed(std::string_view bytes, const LineHandler &handle) {
    while (!bytes.empty()) {
        const std::size_t newline = bytes.find('\n');
        const std::string_view part = bytes.substr(0, newline);
        const std::size_t room = max_line_ - pending_.size();
        if (part.size() > room) cut_ = true;
        pending_.append(part.substr(0, room));
        if (newline == std::string_view::npos) return;
        handle(pending_, cut_);
        pending_.clear();
        cut_ = false;
        bytes.remove_prefix(newline + 1);
    }
}

void LineSplitter::Finish(const LineHandler &handle) {
    if (!pending_.empty() || cut_) handle(pending_, cut_);
    pending_.clear();
    cut_ = false;
}

}  // namespace tornelvox::cli
