#include "Platform/desktop/Accessibility.h"

#include "Platform/desktop/DesktopBackend.h"

namespace scrivlet {

namespace {

DesktopBackend& desktop() {
    return DesktopBackend::current();
}

// Errors that concern the element as a whole rather than one of its attributes.
bool isElementError(AXError error) {
    return error == AXError::invalidUIElement || error == AXError::cannotComplete ||
           error == AXError::apiDisabled;
}

// A registration on the application element also hears what its windows post.
bool covers(const AXUIElement& registered, const AXUIElement& posted) {
    return registered == posted ||
           (registered.isApplication() && registered.processIdentifier == posted.processIdentifier);
}

} // namespace

AXUIElement AXUIElementCreateApplication(pid_t processIdentifier) {
    return AXUIElement{processIdentifier, 0};
}

bool AXValueGetValue(const AXValue& value, AXValue::Type type, CGPoint& point) {
    if (value.type != type || type != AXValue::Type::cgPoint) {
        return false;
    }
    point = value.point;
    return true;
}

bool AXValueGetValue(const AXValue& value, AXValue::Type type, CGSize& size) {
    if (value.type != type || type != AXValue::Type::cgSize) {
        return false;
    }
    size = value.size;
    return true;
}

AXError AXUIElementCopyAttributeValue(const AXUIElement& element, const std::string& attribute,
                                      AXAttributeValue& value) {
    return desktop().readAttribute(element, attribute, value);
}

AXError AXUIElementCopyMultipleAttributeValues(const AXUIElement& element,
                                               const std::vector<std::string>& attributes,
                                               int options, std::vector<AXAttributeValue>& values) {
    values.clear();
    for (const std::string& attribute : attributes) {
        AXAttributeValue value;
        const AXError error = desktop().readAttribute(element, attribute, value);
        if (error == AXError::success) {
            values.push_back(std::move(value));
            continue;
        }
        // Option 1 stops at the first failing attribute; so does a dead element.
        if (isElementError(error) || (options & 1) != 0) {
            values.clear();
            return error;
        }
        values.push_back(AXValue::ofError(error));
    }
    return AXError::success;
}

AXObserverObject::AXObserverObject(pid_t processIdentifier, AXObserverCallback callback)
    : processIdentifier_(processIdentifier), callback_(callback) {}

AXError AXObserverObject::addNotification(const AXUIElement& element,
                                          const std::string& notification, void* refcon) {
    if (!desktop().isAccessibilityTrusted()) {
        return AXError::apiDisabled;
    }
    if (element.processIdentifier != processIdentifier_) {
        return AXError::illegalArgument;
    }
    if (isRegistered(element, notification, nullptr)) {
        return AXError::notificationAlreadyRegistered;
    }
    registrations_.push_back({element, notification, refcon});
    return AXError::success;
}

AXError AXObserverObject::removeNotification(const AXUIElement& element,
                                             const std::string& notification) {
    const auto removed = std::erase_if(registrations_, [&](const Registration& r) {
        return r.element == element && r.notification == notification;
    });
    return removed > 0 ? AXError::success : AXError::notificationNotRegistered;
}

bool AXObserverObject::isRegistered(const AXUIElement& element, const std::string& notification,
                                    void** refcon) const {
    for (const Registration& registration : registrations_) {
        if (registration.notification == notification && registration.element == element) {
            if (refcon != nullptr) {
                *refcon = registration.refcon;
            }
            return true;
        }
    }
    return false;
}

void AXObserverObject::deliver(const AXUIElement& element, const std::string& notification) {
    if (!source_.deliversNow()) {
        return;
    }
    for (const Registration& registration : registrations_) {
        if (registration.notification != notification || !covers(registration.element, element)) {
            continue;
        }
        // Delivered as an event of the loop; a registration removed before then hears nothing.
        source_.loop()->async(
            [weak = weak_from_this(), registered = registration.element, element, notification] {
                const AXObserverRef self = weak.lock();
                void* refcon = nullptr;
                if (self && self->source_.isScheduled() &&
                    self->isRegistered(registered, notification, &refcon)) {
                    self->callback_(self, element, notification, refcon);
                }
            });
        return;
    }
}

AXError AXObserverCreate(pid_t processIdentifier, AXObserverCallback callback,
                         AXObserverRef& observer) {
    if (callback == nullptr || processIdentifier <= 0) {
        return AXError::illegalArgument;
    }
    auto created = std::make_shared<AXObserverObject>(processIdentifier, callback);
    if (const AXError error = desktop().registerObserver(created); error != AXError::success) {
        return error;
    }
    observer = std::move(created);
    return AXError::success;
}

AXError AXObserverAddNotification(const AXObserverRef& observer, const AXUIElement& element,
                                  const std::string& notification, void* refcon) {
    return observer ? observer->addNotification(element, notification, refcon)
                    : AXError::invalidUIElementObserver;
}

AXError AXObserverRemoveNotification(const AXObserverRef& observer, const AXUIElement& element,
                                     const std::string& notification) {
    return observer ? observer->removeNotification(element, notification)
                    : AXError::invalidUIElementObserver;
}

RunLoopSource& AXObserverGetRunLoopSource(const AXObserverRef& observer) {
    return observer->runLoopSource();
}

bool AXIsProcessTrusted() {
    return desktop().isAccessibilityTrusted();
}

bool AXIsProcessTrustedWithOptions(bool prompt) {
    const bool trusted = desktop().isAccessibilityTrusted();
    if (!trusted && prompt) {
        desktop().promptForAccessibility();
    }
    return trusted;
}

} // namespace scrivlet
