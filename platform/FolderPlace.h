#pragma once

#include <string>

// Where a folder really is, links followed: the answer to "does this folder lie inside that one"
// must not depend on how its name was spelt.
namespace platform {

// The folder's absolute name with every link and "." or ".." resolved ("" reads as the current
// folder). A folder that does not exist yet is named by where it would be made below its nearest
// existing folder, so that a folder made on first use is judged before it exists. Empty when a
// missing step is "." or "..", which would name another folder.
std::string RealFolder(const std::string& folder);

// True when `inner` is `outer` or lies below it, both resolved by RealFolder; false when either
// cannot be resolved.
bool FolderWithin(const std::string& inner, const std::string& outer);

// Makes the one folder (its parent must exist), with the permissions the user's mask leaves;
// true when it exists afterwards.
bool MakeFolder(const std::string& folder);

} // namespace platform
