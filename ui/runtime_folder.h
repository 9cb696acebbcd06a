// The program's private runtime folder: where the demo mode links its emulated adapter's node.
#pragma once

#include <string>

namespace tornelvox {

// Makes (when missing) and returns the runtime folder: $XDG_RUNTIME_DIR/tornelvox-utility when
// XDG_RUNTIME_DIR is an absolute path, else tornelvox-utility-<uid> in the temporary folder
// ($TMPDIR or /tmp). The folder must be a real folder (not a link) owned by this user; it is
// made, or left, with mode 0700. Empty, with the reason in words in `error`, when it cannot be
// made or is not this user's own.
std::string MakeRuntimeFolder(std::string &error);

}  // namespace tornelvox
