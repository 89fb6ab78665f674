#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/PlatformError.h"

#include <filesystem>
#include <optional>
#include <string>

namespace scrivlet {

// Opening the app at login, through an XDG autostart entry:
// $XDG_CONFIG_HOME/autostart/<identifier>.desktop. Desktop sessions read that folder when the
// user logs in; the same folder is where their "startup applications" settings keep the
// user's own choices, so an entry the user switched off there reads as not registered.
//
// The app asks for registration at every launch, so registering an unchanged entry touches
// nothing on disk, and a changed one is replaced in one step (a session that reads the folder
// at that moment sees the old entry or the new one, never half a file).
class SCRIVLET_PLATFORM_API LoginItemService {
public:
    enum class Status { notRegistered, enabled };

    // `identifier` names the entry file and must be non-empty and free of '/' (it is the
    // app's bundle identifier, e.g. "com.scrivlet.Scrivlet"). `executable` must be absolute:
    // the session starts it from its own working folder.
    LoginItemService(std::string identifier, std::filesystem::path executable,
                     std::string displayName);

    std::optional<PlatformError> registerItem();
    // Removing an entry that is not there succeeds.
    std::optional<PlatformError> unregisterItem();
    Status status() const;

    // Where the entry lives; empty when the identifier is refused.
    std::filesystem::path entryPath() const;

private:
    std::optional<PlatformError> refusal(const std::string& action) const;
    std::string entryContents() const;

    std::string identifier_;
    std::filesystem::path executable_;
    std::string displayName_;
};

} // namespace scrivlet
