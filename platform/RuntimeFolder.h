#pragma once

// The per-user runtime folder of the programs: where message-window sockets and the
// single-instance lock live. It is `$XDG_RUNTIME_DIR/qrv` when XDG_RUNTIME_DIR holds an
// absolute path, else `/tmp/qrv-<uid>`. Only its owner may enter it (mode 0700).

#include <string>

namespace qrv {

// The folder's path for the current environment and user; nothing is created.
std::string QrvRuntimeFolder();

// Creates the folder when missing (mode 0700; the parent must exist) and checks that it
// is a real folder (no symbolic link) owned by this user, taking group and other rights
// away when it has any. Answers the path, or empty when the folder cannot be made safe:
// in a shared place such as /tmp another user may have made it first, and a socket in
// that user's folder would hand our messages to them.
std::string EnsureQrvRuntimeFolder();

} // namespace qrv
