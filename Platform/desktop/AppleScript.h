#pragma once

#include "Platform/base/Export.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace scrivlet {

// The result of a script.
class SCRIVLET_PLATFORM_API AppleEventDescriptor {
public:
    explicit AppleEventDescriptor(std::optional<std::string> text) : text_(std::move(text)) {}
    const std::optional<std::string>& stringValue() const { return text_; }

private:
    std::optional<std::string> text_;
};

// A script sent to another application, which answers it (or not).
class SCRIVLET_PLATFORM_API AppleScript {
public:
    // Nothing for an empty source.
    static std::unique_ptr<AppleScript> withSource(std::string source);

    // The result, or nothing with `errorInfo` filled in when the script failed.
    std::optional<AppleEventDescriptor>
    executeAndReturnError(std::map<std::string, std::string>* errorInfo) const;

    const std::string& source() const { return source_; }

private:
    explicit AppleScript(std::string source) : source_(std::move(source)) {}
    std::string source_;
};

} // namespace scrivlet
