// Why a serial device node could not be opened, said in words a user can act on.
#pragma once

#include <string>

#include "serial/link_session.h"

namespace tornelvox {

// Why `path` could not be opened, as log lines (each starting with a tab and ending "\n", in the
// same plain style as the utility's other log lines). `error` is the errno of the failed open or
// lock. Never empty.
//   EACCES, EPERM: who owns the node, whether the user is in its group and how to join it.
//   EBUSY, EWOULDBLOCK: which programs hold the node (read from link.ProcRoot), or that a system
//     service may hold it, with how to stop ModemManager when it runs.
//   ENOTTY: what the node is, since it is no terminal (ExplainNotATerminal).
//   ENOENT: the node is gone. Anything else: the system's text for the error.
std::string ExplainOpenFailure(const LinkSession &link, const std::string &path, int error);

// The advice for a node whose group would grant access, by what the user's membership of that
// group is: in the group database (the group's member list or the user's primary group), and in
// this process's groups. Used by ExplainOpenFailure; tests check the decision directly, since
// the case of a member refused all the same cannot be arranged with plain permissions.
std::string GroupAccessAdvice(const std::string &path, const std::string &group,
                              const std::string &user, bool in_group_database,
                              bool in_process_groups);

// A hint to log after "Can't find Tornelvox device" when no candidate node exists at all: when
// brltty is installed (a regular file at one of link.BrlttyProgramPaths), that it is known to claim
// some USB serial adapters and how to stop it. Empty when brltty is not installed.
std::string BrlttyHint(const LinkSession &link);

}  // namespace tornelvox
