#pragma once

#include <QString>

namespace platform {

// Why a file or folder call failed, for a user to read inside a sentence ("... : the disk is
// full"): plain words for what a desktop user meets, the system's own text for the rest.
QString ErrnoText(int code);

} // namespace platform
