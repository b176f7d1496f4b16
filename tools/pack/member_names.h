// Member names as the stub takes them: what it refuses, and what Windows
// cannot hold.
#pragma once

#include <string>

namespace pack {

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates,
// nothing above U+10FFFF).
bool IsValidUtf8(const std::string &bytes);
bool HasNonAscii(const std::string &bytes);

// Why the stub (or Windows under it) could not unzip a member of this name,
// or "" when it can. `folder` is true for a folder member (its name ends in
// a separator).
std::string NameProblem(const std::string &name, bool folder);

// The name for messages: the bytes as they are, control characters escaped.
std::string Printable(const std::string &name);

} // namespace pack
