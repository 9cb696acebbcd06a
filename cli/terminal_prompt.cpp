#include "cli/terminal_prompt.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>

namespace tornelvox::cli {

namespace {

constexpr std::size_t kLongestAnswer = 256;

std::string Trimmed(std::string text) {
    const auto space = [](unsigned char c) { return std::isspace(c) != 0; };
    text.erase(text.begin(), std::find_if_not(text.begin(), text.end(), space));
    text.erase(std::find_if_not(text.rbegin(), text.rend(), space).base(), text.end());
    return text;
}

}  // namespace

bool CanAsk() {
    return isatty(STDIN_FILENO) == 1;
}

std::optional<std::string> ReadAnswer(int wake_fd, std::chrono::seconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    std::string line;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {wake_fd, POLLIN, 0}};
        const int ready = poll(fds, wake_fd >= 0 ? 2 : 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return std::nullopt;
        if (wake_fd >= 0 && (fds[1].revents & POLLIN) != 0) return std::nullopt;
        char c = 0;
        const ssize_t n = read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        if (c == '\n') return Trimmed(line);
        if (line.size() < kLongestAnswer) line.push_back(c);
    }
}

bool IsYes(const std::string &answer) {
    std::string folded = answer;
    for (char &c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded == "y" || folded == "yes";
}

}  // namespace tornelvox::cli
