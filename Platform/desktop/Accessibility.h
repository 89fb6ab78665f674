#pragma once

#include "Platform/base/Export.h"
#include "Platform/base/Geometry.h"
#include "Platform/base/RunLoopSource.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <variant>
#include <vector>

namespace scrivlet {

// The accessibility interface through which the app reads another application's windows and
// hears its notifications. Elements and observers are answered by the desktop.

enum class AXError : int {
    success = 0,
    failure = -25200,
    illegalArgument = -25201,
    invalidUIElement = -25202,
    invalidUIElementObserver = -25203,
    cannotComplete = -25204,
    attributeUnsupported = -25205,
    notificationUnsupported = -25207,
    notificationAlreadyRegistered = -25209,
    notificationNotRegistered = -25210,
    apiDisabled = -25211,
    noValue = -25212,
};

// An element of another application: the application itself (windowNumber 0) or a window.
struct SCRIVLET_PLATFORM_API AXUIElement {
    pid_t processIdentifier = 0;
    std::uint32_t windowNumber = 0;
    bool isApplication() const { return windowNumber == 0; }
    friend bool operator==(const AXUIElement&, const AXUIElement&) = default;
};

SCRIVLET_PLATFORM_API AXUIElement AXUIElementCreateApplication(pid_t processIdentifier);

// A geometry value, or the error an attribute of a multiple read ended with.
struct SCRIVLET_PLATFORM_API AXValue {
    enum class Type { cgPoint, cgSize, cgRect, axError };
    Type type = Type::axError;
    CGPoint point;
    CGSize size;
    CGRect rect;
    AXError error = AXError::noValue;

    static AXValue ofPoint(CGPoint p) { return {Type::cgPoint, p, {}, {}, AXError::success}; }
    static AXValue ofSize(CGSize s) { return {Type::cgSize, {}, s, {}, AXError::success}; }
    static AXValue ofError(AXError e) { return {Type::axError, {}, {}, {}, e}; }
};

SCRIVLET_PLATFORM_API bool AXValueGetValue(const AXValue& value, AXValue::Type type,
                                           CGPoint& point);
SCRIVLET_PLATFORM_API bool AXValueGetValue(const AXValue& value, AXValue::Type type, CGSize& size);

// What an attribute read answers: nothing, a Boolean, a string, a number, a geometry value,
// or another element.
using AXAttributeValue =
    std::variant<std::monostate, bool, std::string, double, AXValue, AXUIElement>;

SCRIVLET_PLATFORM_API AXError AXUIElementCopyAttributeValue(const AXUIElement& element,
                                                            const std::string& attribute,
                                                            AXAttributeValue& value);
// With options 0 a failing attribute does not fail the read: its place in `values` holds an
// AXValue of type axError.
SCRIVLET_PLATFORM_API AXError AXUIElementCopyMultipleAttributeValues(
    const AXUIElement& element, const std::vector<std::string>& attributes, int options,
    std::vector<AXAttributeValue>& values);

class AXObserverObject;
using AXObserverRef = std::shared_ptr<AXObserverObject>;
using AXObserverCallback = void (*)(const AXObserverRef& observer, const AXUIElement& element,
                                    const std::string& notification, void* refcon);

// Receives the notifications registered on elements of one process, through its run-loop
// source, as long as that source is scheduled on a run loop.
class SCRIVLET_PLATFORM_API AXObserverObject
    : public std::enable_shared_from_this<AXObserverObject> {
public:
    AXObserverObject(pid_t processIdentifier, AXObserverCallback callback);

    pid_t processIdentifier() const { return processIdentifier_; }
    RunLoopSource& runLoopSource() { return source_; }

    AXError addNotification(const AXUIElement& element, const std::string& notification,
                            void* refcon);
    AXError removeNotification(const AXUIElement& element, const std::string& notification);
    std::size_t registrationCount() const { return registrations_.size(); }

    // The desktop posts here; matching registrations are called back on the source's loop.
    void deliver(const AXUIElement& element, const std::string& notification);

private:
    struct Registration {
        AXUIElement element;
        std::string notification;
        void* refcon;
    };
    bool isRegistered(const AXUIElement& element, const std::string& notification,
                      void** refcon) const;

    pid_t processIdentifier_;
    AXObserverCallback callback_;
    RunLoopSource source_;
    std::vector<Registration> registrations_;
};

SCRIVLET_PLATFORM_API AXError AXObserverCreate(pid_t processIdentifier, AXObserverCallback callback,
                                               AXObserverRef& observer);
SCRIVLET_PLATFORM_API AXError AXObserverAddNotification(const AXObserverRef& observer,
                                                        const AXUIElement& element,
                                                        const std::string& notification,
                                                        void* refcon);
SCRIVLET_PLATFORM_API AXError AXObserverRemoveNotification(const AXObserverRef& observer,
                                                           const AXUIElement& element,
                                                           const std::string& notification);
SCRIVLET_PLATFORM_API RunLoopSource& AXObserverGetRunLoopSource(const AXObserverRef& observer);

// Whether the user allowed this process to use accessibility; with `prompt`, an untrusted
// process asks the user (the system shows its prompt once per call).
SCRIVLET_PLATFORM_API bool AXIsProcessTrusted();
SCRIVLET_PLATFORM_API bool AXIsProcessTrustedWithOptions(bool prompt);

} // namespace scrivlet
