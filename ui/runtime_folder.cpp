#include "ui/runtime_folder.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tornelvox {

namespace {

constexpr char kFolderName[] = "tornelvox-utility";

std::string SystemError(const char *what, const std::string &path) {
    char reason[128];
    return std::string(what) + " " + path + ": " + strerror_r(errno, reason, sizeof reason);
}

// The environment is only read while the program starts.
std::string AbsoluteVariable(const char *name) {
    const char *value = std::getenv(name);  // NOLINT(concurrency-mt-unsafe)
    return value != nullptr && value[0] == '/' ? value : "";
}

}  // namespace

std::string MakeRuntimeFolder(std::string &error) {
    std::string folder;
    const std::string runtime = AbsoluteVariable("XDG_RUNTIME_DIR");
    if (!runtime.empty()) {
        folder = runtime + "/" + kFolderName;
    } else {
        const std::string temporary = AbsoluteVariable("TMPDIR");
        folder = (temporary.empty() ? std::string("/tmp") : temporary) + "/" + kFolderName + "-" +
                 std::to_string(getuid());
    }
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = SystemError("cannot make the folder", folder);
        return "";
    }
    // In a shared temporary folder another user may have made it first, or left a link there.
    struct stat info {};
    if (lstat(folder.c_str(), &info) != 0) {
        error = SystemError("cannot use the folder", folder);
        return "";
    }
    if (!S_ISDIR(info.st_mode) || info.st_uid != getuid()) {
        error = "the folder " + folder + " is not a folder of this user's own";
        return "";
    }
    if ((info.st_mode & 07777) != 0700 && chmod(folder.c_str(), 0700) != 0) {
        error = SystemError("cannot make private the folder", folder);
        return "";
    }
    return folder;
}

}  // namespace tornelvox
