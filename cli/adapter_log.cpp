#include "cli/adapter_log.h"

#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "firmware/state_folder.h"
#include "serial/outside_text.h"

namespace tornelvox::cli {

namespace {

// A line is followed up to this many bytes.
constexpr std::size_t kLineBytes = 400;

bool Substantive(const std::string &line) {
    const auto letters = std::count_if(line.begin(), line.end(), [](char c) {
        return std::isalpha(static_cast<unsigned char>(c)) != 0;
    });
    return letters >= 3;
}

std::string Trimmed(const std::string &line) {
    const auto first = line.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    const auto last = line.find_last_not_of(" \t\r");
    return line.substr(first, last - first + 1);
}

}  // namespace

std::string LogFileName(const std::string &port) {
    std::string name;
    for (char c : port) {
        const bool kept =
            std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '-' || c == '_';
        name += kept ? c : '_';
    }
    const auto first = name.find_first_not_of("_.");
    name = first == std::string::npos ? std::string("adapter") : name.substr(first);
    return name + ".log";
}

std::string AdapterLogFolder() {
    const std::string state = StateFolder();
    return state.empty() ? "" : state + "/update-all-logs";
}

AdapterLog::~AdapterLog() {
    if (file_ != nullptr) std::fclose(file_);
}

bool AdapterLog::Open(int folder_fd, const std::string &name, std::string &error) {
    const int fd = OpenPrivateFile(folder_fd, name, FileUse::kReplace, error);
    if (fd < 0) return false;
    file_ = fdopen(fd, "w");
    if (file_ == nullptr) {
        error = std::strerror(errno);
        close(fd);
        return false;
    }
    return true;
}

void AdapterLog::Write(const std::string &text) {
    if (text.empty()) return;
    file_line_open_ = text.back() != '\n';
    if (file_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), file_);
    std::fflush(file_);
}

void AdapterLog::AddLine(std::string_view line, bool follow) {
    const std::string clean = PrintableLogText(line);
    Write((file_line_open_ ? "\n" : "") + clean + "\n");
    if (!follow) return;
    const std::string trimmed = Trimmed(clean.substr(0, kLineBytes));
    if (Substantive(trimmed)) last_line_ = trimmed;
}

void AdapterLog::Add(std::string_view text, bool follow) {
    const std::string clean = PrintableLogText(text);
    Write(clean);
    if (!follow) return;
    for (char c : clean) {
        if (c == '\n') {
            std::string line = Trimmed(line_);
            if (Substantive(line)) last_line_ = std::move(line);
            line_.clear();
        } else if (line_.size() < kLineBytes) {
            line_ += c;
        }
    }
}

}  // namespace tornelvox::cli
