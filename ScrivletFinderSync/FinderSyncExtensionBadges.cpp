#include "Platform/base/RunLoop.h"
#include "Platform/desktop/DrawnImage.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/desktop/Graphics.h"
#include "Platform/desktop/Image.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivcore/BadgeRefreshNotifier.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"

#include <array>
#include <map>

namespace scrivlet {

namespace {

struct BadgeRow {
    const char* identifier;
    const char* label;
    Color (*fillColor)();
    const char* symbol;
    const char* symbolDescription;
};

// Registered in this order.
const std::array<BadgeRow, 2> badgeTable{{
    {FinderSyncExtension::annotatedIdentifier, "Annotated", &Color::systemBlueColor, "note.text",
     "Annotated"},
    {FinderSyncExtension::flaggedIdentifier, "Flagged", &Color::systemOrangeColor, "flag.fill",
     "Flagged"},
}};

constexpr double badgeSide = 320;
constexpr double ovalInset = 40;
constexpr double symbolInset = 80;

DrawnImage badgeImage(const BadgeRow& row) {
    return DrawnImage::imageWithSize({badgeSide, badgeSide}, false, [row](const CGRect& rect) {
        row.fillColor().setFill();
        BezierPath::bezierPathWithOvalInRect(CGRectInset(rect, ovalInset, ovalInset)).fill();
        const auto symbol = Image::imageWithSystemSymbolName(row.symbol, row.symbolDescription);
        if (!symbol) {
            return true; // the bare oval
        }
        symbol->drawInRect(CGRectInset(rect, symbolInset, symbolInset));
        return true;
    });
}

std::string pathOf(const URL& url) {
    const auto path = url.fileSystemPath();
    return path ? path->string() : std::string();
}

} // namespace

void FinderSyncExtension::registerBadgeImages() {
    for (const BadgeRow& row : badgeTable) {
        FinderSyncController::defaultController().setBadgeImage(badgeImage(row), row.label,
                                                                row.identifier);
    }
}

void FinderSyncExtension::requestBadgeIdentifierForURL(const URL& url) {
    FinderSyncController::defaultController().setBadgeIdentifier(badgeIdentifier(pathOf(url)), url);
}

std::string FinderSyncExtension::badgeIdentifier(const std::string& path) {
    if (!store) {
        return "";
    }
    std::optional<Annotation::Status> status;
    try {
        // The status alone answers exactly as the whole record would.
        status = store->fetchStatus(path);
    } catch (const std::exception&) {
        return ""; // unreadable: treated as unannotated, silently
    }
    if (!status) {
        return "";
    }
    return *status == Annotation::Status::flagged ? flaggedIdentifier : annotatedIdentifier;
}

void FinderSyncExtension::refreshPendingBadges() {
    const std::vector<std::string> paths = BadgeRefreshNotifier::drainPendingPaths();
    if (paths.empty()) {
        return;
    }
    std::map<std::string, std::string> pending;
    for (const std::string& path : paths) {
        pending[path] = badgeIdentifier(path);
    }
    RunLoop::main().async([pending = std::move(pending)] {
        for (const auto& [path, identifier] : pending) {
            FinderSyncController::defaultController().setBadgeIdentifier(identifier,
                                                                         URL::fileURL(path));
        }
    });
}

} // namespace scrivlet
