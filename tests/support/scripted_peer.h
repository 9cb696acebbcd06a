// A byte-exact stand-in for the adapter on the far side of a pseudo-terminal. The test lists
// the frames the utility must send and what the peer answers to each; any other byte is a
// fault, reported with a hex transcript of the whole exchange.
#pragma once

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/pseudo_terminal.h"

namespace tornelvox::testing {

using Bytes = std::vector<unsigned char>;

// Hex text of bytes, long runs abbreviated.
inline std::string Hex(const Bytes &bytes, std::size_t shown = 48) {
    std::string text;
    char cell[4];
    for (std::size_t i = 0; i < bytes.size() && i < shown; ++i) {
        std::snprintf(cell, sizeof cell, "%02X ", bytes[i]);
        text += cell;
    }
    if (bytes.size() > shown) text += "... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

// Bytes from hex text such as "01 E0 FC 01 00".
inline Bytes FromHex(const std::string &hex) {
    Bytes bytes;
    for (std::size_t i = 0; i + 1 < hex.size();) {
        if (hex[i] == ' ') {
            ++i;
            continue;
        }
        bytes.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        i += 2;
    }
    return bytes;
}

class ScriptedPeer {
  public:
    struct Step {
        Bytes expect;               // the exact frame the utility must send
        std::vector<Bytes> pieces;  // the answer, sent piece by piece (none: silence)
        int pause_ms = 0;           // pause before each piece
        bool hang_up = false;       // close the line instead of answering
    };

    // The pseudo-terminal holds its slave open, which keeps the line up while the utility has
    // the port closed.
    ScriptedPeer() { line_.Open(); }
    ~ScriptedPeer() {
        Finish();
        line_.Close();
    }

    const std::string &Path() const { return line_.SlavePath(); }

    void Then(Bytes expect, std::vector<Bytes> pieces = {}, int pause_ms = 0) {
        steps_.push_back(Step{std::move(expect), std::move(pieces), pause_ms, false});
    }
    void ThenHangUp(Bytes expect) { steps_.push_back(Step{std::move(expect), {}, 0, true}); }

    // Serves the steps in order on a thread of its own.
    void Start() {
        thread_ = std::thread([this] { Serve(); });
    }

    // Waits for the script to end and checks that nothing more arrived. Returns "" when the
    // utility sent exactly the scripted frames, else a description with the transcript.
    std::string Finish() {
        if (thread_.joinable()) thread_.join();
        if (line_.IsOpen()) {
            unsigned char extra[256];
            pollfd watch{line_.Master(), POLLIN, 0};
            if (poll(&watch, 1, 20) > 0 && (watch.revents & POLLIN)) {
                const ssize_t n = read(line_.Master(), extra, sizeof extra);
                if (n > 0)
                    Fail("unexpected bytes after the script: " + Hex(Bytes(extra, extra + n)));
            }
        }
        std::lock_guard lock(mutex_);
        return errors_.empty() ? "" : errors_ + "\ntranscript:\n" + transcript_;
    }

    std::string Transcript() const {
        std::lock_guard lock(mutex_);
        return transcript_;
    }

  private:
    void Serve() {
        for (const Step &step : steps_) {
            Bytes got;
            if (!ReadExactly(step.expect.size(), got)) {
                Log("<- " + Hex(got) + " (incomplete)");
                Fail("expected " + Hex(step.expect) + " but the line stayed silent");
                return;
            }
            Log("<- " + Hex(got));
            if (got != step.expect) {
                Fail("expected " + Hex(step.expect) + " got " + Hex(got));
                return;
            }
            if (step.hang_up) {
                Log("-- hang-up");
                line_.Close();
                return;
            }
            for (const Bytes &piece : step.pieces) {
                if (step.pause_ms > 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(step.pause_ms));
                }
                Log("-> " + Hex(piece));
                if (write(line_.Master(), piece.data(), piece.size()) !=
                    static_cast<ssize_t>(piece.size())) {
                    Fail("answer not written");
                }
            }
        }
    }

    bool ReadExactly(std::size_t count, Bytes &got) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        unsigned char buffer[4200];
        while (got.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd watch{line_.Master(), POLLIN, 0};
            if (poll(&watch, 1, 50) <= 0 || !(watch.revents & POLLIN)) continue;
            const std::size_t want = std::min(count - got.size(), sizeof buffer);
            const ssize_t n = read(line_.Master(), buffer, want);
            if (n > 0) got.insert(got.end(), buffer, buffer + n);
        }
        return got.size() == count;
    }

    void Log(const std::string &line) {
        std::lock_guard lock(mutex_);
        transcript_ += line + "\n";
    }
    void Fail(const std::string &what) {
        std::lock_guard lock(mutex_);
        errors_ += what + "\n";
    }

    emulator::PseudoTerminal line_;
    std::vector<Step> steps_;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::string transcript_;
    std::string errors_;
};

}  // namespace tornelvox::testing
