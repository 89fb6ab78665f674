#pragma once

#include <filesystem>

namespace scrivlet {

// Sets or clears the file's immutable flag (chattr +i), which refuses every write even to
// root, who ignores file modes. False where the file system or the process cannot.
bool setImmutable(const std::filesystem::path& file, bool on);

} // namespace scrivlet
