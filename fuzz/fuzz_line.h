// The adapter's side of the line for fuzzing: the fuzzer's bytes become what the adapter sends,
// cut into reads at points the input itself chooses.
//
// The port is one end of a local sequenced-packet socket pair. Each packet the harness queues is
// what one read call of the utility returns (a read that asks for less gets the front of the
// packet), and an empty packet is a read call that found nothing: so the input decides both the
// bytes and where the reply is split. After the last packet the line reads as hung up. What the
// utility writes is drained on a thread of its own so that long programming runs never block.
// The line is the port of the session it is made for; make the session first, so that the line
// goes before it.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <thread>

#include "serial/serial_link.h"

namespace tornelvox::fuzzing {

class FuzzLine {
  public:
    // Input layout: repeated [length byte][that many bytes]; a length past the end takes what
    // is left.
    FuzzLine(LinkSession &link, const std::uint8_t *data, std::size_t size) : link_(link) {
        int pair[2];
        if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0) return;
        port_ = pair[0];
        adapter_ = pair[1];
        const int room = 1 << 20;
        setsockopt(adapter_, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
        std::size_t at = 0;
        while (at < size) {
            std::size_t length = data[at++];
            if (length > size - at) length = size - at;
            if (send(adapter_, data + at, length, MSG_DONTWAIT) < 0) break;
            at += length;
        }
        shutdown(adapter_, SHUT_WR);
        drain_ = std::thread([fd = adapter_] {
            std::uint8_t sink[8192];
            while (recv(fd, sink, sizeof sink, 0) > 0) {
            }
        });
        link_.ReadCallTimeoutMs = 0;  // a read call finds its packet at once or none at all
        link_.hComm = port_;
    }

    ~FuzzLine() {
        // The code under test may have closed the port itself (a settings read does after a
        // short reply); close it only if it is still ours.
        if (link_.hComm == port_) close(port_);
        link_.hComm = 0;
        if (adapter_ >= 0) shutdown(adapter_, SHUT_RDWR);
        if (drain_.joinable()) drain_.join();
        if (adapter_ >= 0) close(adapter_);
    }

    bool Ready() const { return port_ >= 0; }

  private:
    LinkSession &link_;
    int port_ = -1;
    int adapter_ = -1;
    std::thread drain_;
};

}  // namespace tornelvox::fuzzing
