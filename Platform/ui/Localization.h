#pragma once

#include "Platform/base/Export.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace scrivlet {

namespace ui {

// Looks up the user-visible strings of the interface. Keys are the English text itself,
// with %@ (or positional %1$@, %2$@...) where an argument goes, so without a table the key
// is the English text. The app ships English only; tests install tables to prove that a
// string really goes through the lookup. Main thread only.
class SCRIVLET_PLATFORM_API Localization {
public:
    using Table = std::map<std::string, std::string, std::less<>>;

    // The translation of `key`, or the key itself when there is none.
    static std::string string(std::string_view key);
    // The translation with `arguments` filled into its placeholders; "%%" is a percent sign.
    // A placeholder without an argument shows nothing.
    static std::string format(std::string_view key, const std::vector<std::string>& arguments);

    // Replaces the table (nothing: no table). Answers the one it replaced.
    static std::optional<Table> installTable(std::optional<Table> table);
};

// Installs a table for the lifetime of the object and puts the previous one back after.
class SCRIVLET_PLATFORM_API ScopedLocalizationTable {
public:
    explicit ScopedLocalizationTable(Localization::Table table)
        : previous_(Localization::installTable(std::move(table))) {}
    ~ScopedLocalizationTable() { Localization::installTable(std::move(previous_)); }
    ScopedLocalizationTable(const ScopedLocalizationTable&) = delete;
    ScopedLocalizationTable& operator=(const ScopedLocalizationTable&) = delete;

private:
    std::optional<Localization::Table> previous_;
};

} // namespace ui

} // namespace scrivlet
