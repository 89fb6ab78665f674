#include "Platform/backends/atspi/SelectionRules.h"

#include <algorithm>

namespace scrivlet::atspi {

namespace {

// Separators a window title puts between the document and the application's name.
constexpr std::string_view titleSeparators[] = {" \u2014 ", " \u2013 ", " - "};

bool isCleanAbsolute(const std::string& path) {
    if (path.empty() || path.front() != '/') {
        return false;
    }
    if (path == "/") {
        return true;
    }
    if (path.back() == '/') {
        return false;
    }
    std::size_t start = 1;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view part(path.data() + start, end - start);
        if (part.empty() || part == "." || part == "..") {
            return false;
        }
        start = end + 1;
    }
    return true;
}

std::string joined(std::string base, const std::vector<std::string>& parts, std::size_t from) {
    for (std::size_t i = from; i < parts.size(); ++i) {
        if (base.empty() || base.back() != '/') {
            base += '/';
        }
        base += parts[i];
    }
    return base;
}

bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

std::optional<std::string> percentDecoded(std::string_view text) {
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded += text[i];
            continue;
        }
        if (i + 2 >= text.size()) {
            return std::nullopt;
        }
        const auto hex = [](char digit) -> int {
            if (digit >= '0' && digit <= '9') {
                return digit - '0';
            }
            if (digit >= 'a' && digit <= 'f') {
                return digit - 'a' + 10;
            }
            if (digit >= 'A' && digit <= 'F') {
                return digit - 'A' + 10;
            }
            return -1;
        };
        const int high = hex(text[i + 1]);
        const int low = hex(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0)) {
            return std::nullopt;
        }
        decoded += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return decoded;
}

std::string xmlUnescaped(std::string_view text) {
    static constexpr std::pair<std::string_view, char> entities[] = {
        {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string plain;
    for (std::size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& [entity, character] : entities) {
            if (text.substr(i).starts_with(entity)) {
                plain += character;
                i += entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            plain += text[i++];
        }
    }
    return plain;
}

} // namespace

std::vector<Place> placesFromBookmarks(std::string_view xbel) {
    std::vector<Place> places;
    constexpr std::string_view open = "<bookmark ";
    constexpr std::string_view href = "href=\"file://";
    for (std::size_t at = xbel.find(open); at != std::string_view::npos;
         at = xbel.find(open, at + 1)) {
        const std::size_t tagEnd = xbel.find('>', at);
        const std::size_t end = xbel.find("</bookmark>", at);
        if (tagEnd == std::string_view::npos || end == std::string_view::npos) {
            break;
        }
        const std::string_view tag = xbel.substr(at, tagEnd - at);
        const std::size_t hrefAt = tag.find(href);
        const std::size_t titleAt = xbel.find("<title>", tagEnd);
        if (hrefAt == std::string_view::npos || titleAt == std::string_view::npos ||
            titleAt > end) {
            continue;
        }
        const std::size_t pathStart = hrefAt + href.size();
        const std::size_t pathEnd = tag.find('"', pathStart);
        const std::size_t titleStart = titleAt + 7;
        const std::size_t titleEnd = xbel.find("</title>", titleStart);
        if (pathEnd == std::string_view::npos || titleEnd == std::string_view::npos) {
            continue;
        }
        std::optional<std::string> path =
            percentDecoded(xmlUnescaped(tag.substr(pathStart, pathEnd - pathStart)));
        if (!path) {
            continue;
        }
        if (path->size() > 1 && path->back() == '/') {
            path->pop_back();
        }
        if (isCleanAbsolute(*path)) {
            places.push_back(
                {xmlUnescaped(xbel.substr(titleStart, titleEnd - titleStart)), std::move(*path)});
        }
    }
    return places;
}

CellScanResult scanCells(std::size_t cellCount, std::size_t cap,
                         const std::function<std::optional<bool>(std::size_t)>& isSelected) {
    CellScanResult result;
    if (cellCount > cap) {
        return result;
    }
    std::optional<std::size_t> found;
    for (std::size_t index = 0; index < cellCount; ++index) {
        ++result.cellsRead;
        const std::optional<bool> selected = isSelected(index);
        if (!selected) {
            result.count = SelectedCount::unknown;
            return result;
        }
        if (!*selected) {
            continue;
        }
        if (found) {
            result.count = SelectedCount::several;
            return result;
        }
        found = index;
    }
    result.count = found ? SelectedCount::one : SelectedCount::none;
    result.selectedIndex = found.value_or(0);
    return result;
}

std::string folderFromTitle(std::string_view title, std::string_view applicationName) {
    if (!applicationName.empty()) {
        for (std::string_view separator : titleSeparators) {
            const std::string suffix = std::string(separator) + std::string(applicationName);
            if (title.size() > suffix.size() && title.ends_with(suffix)) {
                title.remove_suffix(suffix.size());
                break;
            }
        }
    }
    return std::string(title);
}

std::vector<std::string> folderCandidates(const FolderClues& clues,
                                          const std::vector<Place>& places) {
    std::vector<std::string> candidates;
    if (!clues.title.empty() && clues.title.front() == '/') {
        if (isCleanAbsolute(clues.title)) {
            candidates.push_back(clues.title);
        }
        return candidates;
    }
    const auto add = [&](const std::string& path) {
        if (!isCleanAbsolute(path) ||
            std::find(candidates.begin(), candidates.end(), path) != candidates.end()) {
            return;
        }
        const std::string_view last = path == "/"
                                          ? std::string_view("/")
                                          : std::string_view(path).substr(path.rfind('/') + 1);
        const bool named = last == clues.title ||
                           std::any_of(places.begin(), places.end(), [&](const Place& place) {
                               return place.path == path && place.name == clues.title;
                           });
        if (named) {
            candidates.push_back(path);
        }
    };
    const std::vector<std::string>& crumbs = clues.breadcrumb;
    if (crumbs.empty()) {
        std::string text = clues.locationText;
        if (text.starts_with("file://")) {
            const std::optional<std::string> decoded = percentDecoded(text.substr(7));
            text = decoded.value_or(std::string());
        }
        if (text.size() > 1 && text.back() == '/') {
            text.pop_back();
        }
        add(text);
        return candidates;
    }
    if (std::any_of(crumbs.begin() + 1, crumbs.end(),
                    [](const std::string& part) { return !isPlainName(part); })) {
        return candidates;
    }
    if (crumbs.front() == "/") {
        add(joined("/", crumbs, 1));
    }
    for (const Place& place : places) {
        if (place.name == crumbs.front()) {
            add(joined(place.path, crumbs, 1));
        }
    }
    return candidates;
}

std::optional<std::string> chooseFolder(const std::vector<std::string>& candidates,
                                        const std::function<bool(const std::string&)>& confirm) {
    std::optional<std::string> chosen;
    for (const std::string& candidate : candidates) {
        if (!confirm(candidate)) {
            continue;
        }
        if (chosen) {
            return std::nullopt;
        }
        chosen = candidate;
    }
    return chosen;
}

std::optional<std::string> pathInFolder(const std::string& folder, std::string_view name) {
    if (!isCleanAbsolute(folder) || !isPlainName(name)) {
        return std::nullopt;
    }
    return folder == "/" ? "/" + std::string(name) : folder + "/" + std::string(name);
}

EventEffect classifyEvent(std::string_view type, int detail1) {
    if (type.starts_with("object:children-changed") ||
        type.starts_with("object:state-changed:showing")) {
        return EventEffect::refindView;
    }
    if (type == "window:activate" || type == "window:deactivate" ||
        type.starts_with("object:property-change:accessible-name") ||
        type.starts_with("object:state-changed:selected")) {
        return EventEffect::rescan;
    }
    // Focus moving onto an item follows the selection in single-selection moves; losing it
    // says nothing new.
    if (type.starts_with("object:state-changed:focused")) {
        return detail1 != 0 ? EventEffect::rescan : EventEffect::ignore;
    }
    return EventEffect::ignore;
}

double RescanSchedule::noteEvent(double now) {
    if (!burstStart_) {
        burstStart_ = now;
    }
    return std::min(now + delay_, *burstStart_ + maxDelay_);
}

} // namespace scrivlet::atspi

namespace scrivlet::atspi {

OutwardScan::OutwardScan(std::size_t cellCount, std::size_t start, std::size_t reach)
    : count_(cellCount), start_(start < cellCount ? start : 0), reach_(reach) {
    done_ = count_ == 0;
    if (done_) {
        result_.count = SelectedCount::none;
    }
}

// start, start+1, start-1, start+2, start-2... skipping what lies outside the view.
std::optional<std::size_t> OutwardScan::nextIndex() {
    while (step_ < 2 * count_) {
        const std::size_t step = step_++;
        const std::size_t distance = (step + 1) / 2;
        if (step % 2 == 1 && start_ + distance < count_) {
            return start_ + distance;
        }
        if (step % 2 == 0 && distance <= start_) {
            return start_ - distance;
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> OutwardScan::nextToAsk() {
    if (done_ || asked_ >= reach_) {
        return std::nullopt;
    }
    const std::optional<std::size_t> index = nextIndex();
    if (index) {
        ++asked_;
    }
    return index;
}

void OutwardScan::record(std::size_t index, std::optional<bool> selected) {
    if (done_) {
        return;
    }
    ++result_.cellsRead;
    if (!selected) {
        result_.count = SelectedCount::unknown;
        done_ = true;
    } else if (*selected && found_) {
        result_.count = SelectedCount::several;
        done_ = true;
    } else if (*selected) {
        found_ = index;
    }
    if (!done_ && result_.cellsRead == std::min(count_, reach_)) {
        result_.count = found_ ? SelectedCount::one : SelectedCount::none;
        result_.selectedIndex = found_.value_or(0);
        done_ = true;
    }
}

bool OutwardScan::advance(const std::function<std::optional<bool>(std::size_t)>& isSelected,
                          const std::function<bool()>& keepGoing) {
    while (!done_ && keepGoing()) {
        const std::optional<std::size_t> index = nextToAsk();
        if (!index) {
            break;
        }
        record(*index, isSelected(*index));
    }
    return done_;
}

} // namespace scrivlet::atspi
