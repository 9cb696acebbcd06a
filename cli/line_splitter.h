// Cuts a child's byte stream into lines, holding at most a bounded part of one line.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace tornelvox::cli {

class LineSplitter {
  public:
    // A line without its newline; cut is true when the line was longer than the bound and only
    // its first max_line bytes are given (the rest up to the newline is dropped).
    using LineHandler = std::function<void(std::string_view line, bool cut)>;

    explicit LineSplitter(std::size_t max_line) : max_line_(max_line) {}

    void Feed(std::string_view bytes, const LineHandler &handle);

    // The end of the stream: a last line without a newline is given as it is.
    void Finish(const LineHandler &handle);

  private:
    std::size_t max_line_;
    std::string pending_;
    bool cut_ = false;
};

}  // namespace tornelvox::cli
