// The program's state folder: what it keeps between runs (the address backup, the logs of
// update --all), per user. Another local user can neither read it nor have a file written where
// they choose: every folder on the way is checked, and no file in it is written through a link.
#pragma once

#include <string>

namespace tornelvox {

// The user's home folder: $HOME when it is an absolute path, otherwise this user's entry in the
// password database (a udev rule, env -i and a service start programs without HOME). Empty when
// neither gives one; never a folder other users share.
std::string HomeFolder();

// $XDG_STATE_HOME/tornelvox-utility, or HOME/.local/state/tornelvox-utility when XDG_STATE_HOME
// is unset or not an absolute path. Empty when no home folder is known.
std::string StateFolder();

// What OpenPrivateFolder does with folders that are not there.
enum class MissingFolders { kMake, kFail };

// Opens the folder at path (absolute) as a folder of this user alone, and returns a descriptor of
// it (close-on-exec), or -1 with why in words in error. Missing folders on the way are made with
// mode 0700 when make is kMake. Every folder on the way must belong to this user or to root, and
// one that every user may write must have the sticky bit (as /tmp has); a link on the way is
// followed only when it too belongs to this user or to root. The folder itself must be a real
// folder (not a link) of this user; its mode is made 0700.
int OpenPrivateFolder(const std::string &path, MissingFolders make, std::string &error);

// How OpenPrivateFile uses the file.
enum class FileUse {
    kRead,     // read it; it must be there
    kAppend,   // read it, and write at its end; made when missing
    kReplace,  // write it from its start, emptied; made when missing
};

// Opens the file called name in the folder folder_fd (from OpenPrivateFolder) without following
// a link: a file made has mode 0600, one that is there must be a plain file of this user, and its
// mode is made 0600. Returns its descriptor (close-on-exec) or -1 with why in words in error.
int OpenPrivateFile(int folder_fd, const std::string &name, FileUse use, std::string &error);

}  // namespace tornelvox
