#pragma once

namespace scrivlet {

// The identifier the app knows the file manager by, whichever program plays that role: every
// desktop lists the file manager's process under it, and the app looks for it by it.
inline constexpr const char* fileManagerBundleIdentifier = "com.apple.finder";

} // namespace scrivlet
