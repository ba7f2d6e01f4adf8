#pragma once

#include <sys/types.h>

#include <string>

// Where this user's local sockets live. In a folder that others may write to (the shared
// temporary folder), another user could bind the socket's name first and receive what this
// user's programs send to it; so the folder must be this user's alone, and so must the socket.

// Why path cannot hold the sockets of user uid, or empty when it can: it must be a folder (not a
// link to one) that uid owns and that no one else may enter, list or write.
std::string PrivateFolderProblem(const std::string& path, uid_t uid);

// Creates path with mode 0700 when it is missing, then checks it as above.
std::string MakePrivateFolder(const std::string& path, uid_t uid);

// Why the socket at path is not one that user uid may hand anything to, or empty when it is: it
// must be a socket that uid owns and that no one else may write to. A missing socket is no
// problem (nothing listens).
std::string OwnSocketProblem(const std::string& path, uid_t uid);
