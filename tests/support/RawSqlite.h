#pragma once

#include <filesystem>
#include <string>

namespace scrivlet {

// Reaches into a store file directly, as another program (or a damaged disk) would.
// Both throw std::runtime_error with SQLite's message when the statement fails.
void runSql(const std::filesystem::path& file, const std::string& sql);
// The first column of the first row, as text ("" when there is no row).
std::string querySqlText(const std::filesystem::path& file, const std::string& sql);

} // namespace scrivlet
