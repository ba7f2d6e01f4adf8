#include "platform/private_folder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

std::string OwnerProblem(const struct stat& st, uid_t uid) {
    if (st.st_uid != uid) {
        return "it belongs to user " + std::to_string(st.st_uid);
    }
    return {};
}

}  // namespace

std::string PrivateFolderProblem(const std::string& path, uid_t uid) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode)) {
        return "it is not a folder";
    }
    if (std::string owner = OwnerProblem(st, uid); !owner.empty()) {
        return owner;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
        return std::string("others may use it (mode ") + mode + ")";
    }
    return {};
}

std::string MakePrivateFolder(const std::string& path, uid_t uid) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::strerror(errno);
    }
    return PrivateFolderProblem(path, uid);
}

std::string OwnSocketProblem(const std::string& path, uid_t uid) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? std::string() : std::string(std::strerror(errno));
    }
    if (!S_ISSOCK(st.st_mode)) {
        return "it is not a socket";
    }
    if (std::string owner = OwnerProblem(st, uid); !owner.empty()) {
        return owner;
    }
    if ((st.st_mode & 022) != 0) {
        return "others may write to it";
    }
    return {};
}
