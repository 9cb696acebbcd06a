// The demo mode: the window program with an emulated adapter inside it, for trying the utility
// without an adapter and without root. The adapter's node is linked into the program's private
// runtime folder, which the search lists before /dev; its updates keep their address backups
// apart from those of real adapters.
#pragma once

#include <memory>
#include <string>

#include "emulator/emulated_adapter.h"
#include "ui/demo_options.h"
#include "workflow/adapter_session.h"

namespace tornelvox {

// What the window's title adds in the demo mode.
inline constexpr char kEmulatedTitleNote[] = " (emulated adapter)";
// The folder inside the address backup's folder that holds the demo's backups.
inline constexpr char kDemoBackupSubfolder[] = "emulated";
// The name of the demo adapter's node; a second demo running at the same time adds "-2", ...
inline constexpr char kDemoNodeName[] = "cu.usbserial-EMULATED";
// The line rate the demo's adapter is paced at, unless full speed is asked for.
inline constexpr int kDemoLineBaud = 115200;

class DemoMode {
  public:
    DemoMode();
    // Stop().
    ~DemoMode();
    DemoMode(const DemoMode &) = delete;
    DemoMode &operator=(const DemoMode &) = delete;

    // Starts the emulated adapter at options.version, paced at kDemoLineBaud unless
    // options.full_speed, links its node as kDemoNodeName in the runtime folder, makes session's
    // search list that folder before any other and moves session's address backup into
    // kDemoBackupSubfolder.
    // The link and the folder's other entries are removed also when the process ends by exit or
    // quick_exit. False, with the reason in words in `error` and nothing left behind, when the
    // adapter or its link cannot be made, or the link's path is too long for a port
    // (kPortPathSize). Run it on the interface thread, while no search or
    // update runs.
    bool Start(std::shared_ptr<AdapterSession> session, const DemoOptions &options,
               std::string &error);

    // Stops the adapter, removes the link and its lock, removes the runtime folder when it is
    // empty and gives the session's search and address backup their own places back. Safe to
    // call twice, and when Start failed.
    void Stop();

    bool Running() const { return adapter_ != nullptr; }
    // The node's link, in the runtime folder; empty when not running.
    const std::string &LinkPath() const { return link_; }
    // The emulated adapter; only while running.
    emulator::EmulatedAdapter &Adapter() { return *adapter_; }

  private:
    std::unique_ptr<emulator::EmulatedAdapter> adapter_;
    std::shared_ptr<AdapterSession> session_;  // the session Start pointed at the adapter
    std::string folder_;
    std::string link_;
    std::string lock_;
    int lock_fd_ = -1;
    std::string previous_first_directory_;
    std::string previous_backup_subfolder_;
};

}  // namespace tornelvox
