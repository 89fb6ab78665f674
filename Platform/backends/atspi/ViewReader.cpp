#include "Platform/backends/atspi/ViewReader.h"

#include "Platform/backends/atspi/SessionBus.h"

#include <algorithm>
#include <atspi/atspi-constants.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

namespace scrivlet::atspi {

namespace {

constexpr const char* applicationName = "Dolphin";
constexpr const char* registryBus = "org.a11y.atspi.Registry";
constexpr const char* rootPath = "/org/a11y/atspi/accessible/root";
// Where the file manager's plug-in answers for its views' selections.
constexpr const char* viewSelectionPath = "/com/scrivlet/Scrivlet/ViewSelection";
constexpr const char* viewSelectionInterface = "com.scrivlet.Scrivlet.ViewSelection";
// A window's tree holds a few hundred objects; the view and the location bar lie in its
// first hundred or so, in the order walked. The rest is not worth the calls.
constexpr int walkBudget = 400;

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool hasRole(const std::optional<std::uint32_t>& role, AtspiRole wanted) {
    return role && *role == static_cast<std::uint32_t>(wanted);
}

bool hasState(const std::optional<StateBits>& states, AtspiStateType state) {
    return states && states->has(static_cast<unsigned>(state));
}

// Showing and not defunct: an object of the window as the user sees it.
bool isShowing(const std::optional<StateBits>& states) {
    return hasState(states, ATSPI_STATE_SHOWING) && !hasState(states, ATSPI_STATE_DEFUNCT);
}

// The number an accessible object's path ends in, which is its id inside its process.
std::optional<std::uint32_t> accessibleIdOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::string digits = slash == std::string::npos ? path : path.substr(slash + 1);
    if (digits.empty() || digits.size() > 10 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const unsigned long long id = std::stoull(digits);
    if (id > UINT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(id);
}

std::string percentEncodedPath(const std::string& path) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
            (byte >= '0' && byte <= '9') || byte == '/' || byte == '-' || byte == '_' ||
            byte == '.' || byte == '~') {
            encoded += character;
        } else {
            encoded += '%';
            encoded += digits[byte >> 4U];
            encoded += digits[byte & 0xFU];
        }
    }
    return encoded;
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// The places the file manager lists, from the user's places file.
std::vector<Place> userPlaces() {
    std::filesystem::path dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && *xdg == '/') {
        dataHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && *home == '/') {
        dataHome = std::filesystem::path(home) / ".local/share";
    }
    std::vector<Place> places;
    if (!dataHome.empty()) {
        places = placesFromBookmarks(readFile(dataHome / "user-places.xbel"));
    }
    return places;
}

// A file view and whether its pane has the keyboard focus.
struct FoundView {
    ObjectRef table;
    bool paneFocused = false;
};

struct Walk {
    int budget = walkBudget;
    std::vector<FoundView> views;
    std::optional<ObjectRef> navigator;
};

// Menus, tab bars, lists (places, completions) and docked panels hold neither a view nor the
// location bar; buttons, labels and sliders hold nothing.
bool mayHoldView(std::uint32_t role) {
    switch (static_cast<AtspiRole>(role)) {
    case ATSPI_ROLE_MENU_BAR:
    case ATSPI_ROLE_POPUP_MENU:
    case ATSPI_ROLE_MENU:
    case ATSPI_ROLE_PAGE_TAB_LIST:
    case ATSPI_ROLE_LIST:
    case ATSPI_ROLE_FRAME:
    case ATSPI_ROLE_PUSH_BUTTON:
    case ATSPI_ROLE_CHECK_BOX:
    case ATSPI_ROLE_LABEL:
    case ATSPI_ROLE_SLIDER:
        return false;
    default:
        return true;
    }
}

// Finds the file views (tables) and the location bar (the object that holds a combo box, a
// check box and the path's buttons) among the showing objects of a window, passing over the
// status bars (which hold a slider and a label).
void walk(AccessibleBus& bus, const ObjectRef& node, Walk& found) {
    if (--found.budget < 0) {
        return;
    }
    const std::optional<std::vector<ObjectRef>> children = bus.children(node);
    if (!children) {
        return;
    }
    const std::vector<std::optional<std::uint32_t>> roles = bus.roles(*children);
    bool hasCombo = false;
    bool hasCheck = false;
    bool hasSlider = false;
    bool hasLabel = false;
    for (const std::optional<std::uint32_t>& role : roles) {
        hasCombo = hasCombo || hasRole(role, ATSPI_ROLE_COMBO_BOX);
        hasCheck = hasCheck || hasRole(role, ATSPI_ROLE_CHECK_BOX);
        hasSlider = hasSlider || hasRole(role, ATSPI_ROLE_SLIDER);
        hasLabel = hasLabel || hasRole(role, ATSPI_ROLE_LABEL);
    }
    if (hasCombo && hasCheck && !found.navigator) {
        found.navigator = node;
        return;
    }
    if (hasSlider && hasLabel) { // the status bar
        return;
    }
    std::vector<ObjectRef> candidates;
    std::vector<std::uint32_t> candidateRoles;
    for (std::size_t index = 0; index < children->size(); ++index) {
        if (roles[index] && mayHoldView(*roles[index])) {
            candidates.push_back((*children)[index]);
            candidateRoles.push_back(*roles[index]);
        }
    }
    const std::vector<std::optional<StateBits>> states = bus.states(candidates);
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        if (!isShowing(states[index])) {
            continue;
        }
        if (candidateRoles[index] == static_cast<std::uint32_t>(ATSPI_ROLE_TABLE)) {
            found.views.push_back(
                {candidates[index], hasState(states[index], ATSPI_STATE_FOCUSED)});
            --found.budget;
            continue;
        }
        walk(bus, candidates[index], found);
    }
}

// The view that has the keyboard focus (split views show two): the one that is or holds the
// object the last focus event named, else the one whose pane holds the focus, else the first.
std::optional<ObjectRef> focusedView(const std::vector<FoundView>& views,
                                     const std::vector<ObjectRef>& focusedOrParent) {
    for (const FoundView& view : views) {
        if (std::find(focusedOrParent.begin(), focusedOrParent.end(), view.table) !=
            focusedOrParent.end()) {
            return view.table;
        }
    }
    for (const FoundView& view : views) {
        if (view.paneFocused) {
            return view.table;
        }
    }
    return views.empty() ? std::nullopt : std::optional<ObjectRef>(views.front().table);
}

} // namespace

ViewReader::ViewReader(std::unique_ptr<AccessibleBus> bus, std::unique_ptr<SessionBus> sessionBus)
    : bus_(std::move(bus)), sessionBus_(std::move(sessionBus)) {}

ViewReader::~ViewReader() = default;

// The followed process's application: the registry lists the applications, the bus tells
// each one's process; no application is asked anything.
bool ViewReader::findApplication(pid_t pid) {
    if (application_) {
        return true;
    }
    const std::optional<std::vector<ObjectRef>> applications =
        bus_->children({registryBus, rootPath});
    for (const ObjectRef& candidate : applications.value_or(std::vector<ObjectRef>())) {
        if (bus_->processOf(candidate.bus) == static_cast<std::uint32_t>(pid)) {
            application_ = ObjectRef{candidate.bus, rootPath};
            return true;
        }
    }
    return false;
}

void ViewReader::forgetApplication() {
    application_.reset();
    frame_.reset();
    table_.reset();
    navigator_.reset();
    focusLookedFor_.reset();
    cellPaths_.clear();
    confirmations_.clear();
    confirmedClues_.reset();
}

// The window the user works in: the active main window, else the one used last, else the
// first showing.
std::optional<ObjectRef> ViewReader::activeFrame() {
    const std::optional<std::vector<ObjectRef>> children = bus_->children(*application_);
    if (!children) {
        forgetApplication();
        return std::nullopt;
    }
    std::vector<std::pair<ObjectRef, unsigned>> questions;
    questions.reserve(children->size());
    for (const ObjectRef& child : *children) {
        questions.emplace_back(child, AccessibleBus::askRole | AccessibleBus::askStates);
    }
    const std::vector<AccessibleBus::Answers> answers = bus_->askAbout(questions);
    std::optional<ObjectRef> fallback;
    for (std::size_t index = 0; index < answers.size(); ++index) {
        const ObjectRef& frame = questions[index].first;
        if (!hasRole(answers[index].role, ATSPI_ROLE_FRAME)) {
            continue;
        }
        if (hasState(answers[index].states, ATSPI_STATE_ACTIVE)) {
            return frame;
        }
        const bool usedLast = frame_ == frame;
        if (usedLast || (!fallback && isShowing(answers[index].states))) {
            fallback = frame;
        }
    }
    return fallback;
}

// Whether the focus went to an object that neither is nor belongs to the view found. Each
// such object is looked for once: the focus on a toolbar or the location bar must not make
// every look walk the window again.
bool ViewReader::focusLeftView(const LookRequest& request,
                               const std::vector<ObjectRef>& focusedOrParent) {
    if (!request.focused || !table_ || request.focused == focusLookedFor_ ||
        std::find(focusedOrParent.begin(), focusedOrParent.end(), *table_) !=
            focusedOrParent.end()) {
        return false;
    }
    focusLookedFor_ = request.focused;
    return true;
}

void ViewReader::findView(const ObjectRef& frame, const std::vector<ObjectRef>& focusedOrParent) {
    Walk found;
    walk(*bus_, frame, found);
    table_ = focusedView(found.views, focusedOrParent);
    navigator_ = found.navigator;
    frame_ = frame;
    cellPaths_.clear();
}

// The location bar's buttons (those after its check box that show) and, when it shows none
// (while edited), its combo box's text. Any object that does not answer makes the clues void.
void ViewReader::readLocationBar(FolderClues& clues) {
    if (!navigator_) {
        return;
    }
    const std::optional<std::vector<ObjectRef>> children = bus_->children(*navigator_);
    if (!children) {
        return;
    }
    const std::vector<std::optional<std::uint32_t>> roles = bus_->roles(*children);
    std::vector<ObjectRef> buttons;
    std::optional<ObjectRef> combo;
    bool afterCheckBox = false;
    for (std::size_t index = 0; index < children->size(); ++index) {
        if (!roles[index]) {
            return;
        }
        if (hasRole(roles[index], ATSPI_ROLE_CHECK_BOX)) {
            afterCheckBox = true;
        } else if (afterCheckBox && hasRole(roles[index], ATSPI_ROLE_PUSH_BUTTON)) {
            buttons.push_back((*children)[index]);
        } else if (!combo && hasRole(roles[index], ATSPI_ROLE_COMBO_BOX)) {
            combo = (*children)[index];
        }
    }
    std::vector<std::pair<ObjectRef, unsigned>> questions;
    questions.reserve(buttons.size());
    for (const ObjectRef& button : buttons) {
        questions.emplace_back(button, AccessibleBus::askStates | AccessibleBus::askName);
    }
    for (const AccessibleBus::Answers& button : bus_->askAbout(questions)) {
        if (!button.states || !button.name) {
            clues.breadcrumb.clear();
            return;
        }
        if (isShowing(button.states)) {
            clues.breadcrumb.push_back(*button.name);
        }
    }
    if (clues.breadcrumb.empty() && combo) {
        clues.locationText = bus_->names({*combo}).front().value_or(std::string());
    }
}

// Whether the file manager shows `folder` in one of its windows, by its own D-Bus word;
// nothing when it did not say (busy past the timeout, or no window listed), which is no "no".
std::optional<bool> ViewReader::fileManagerShows(pid_t pid, const std::string& folder) {
    if (!sessionBus_) {
        return false;
    }
    const std::string service = "org.kde.dolphin-" + std::to_string(pid);
    const std::string url = "file://" + percentEncodedPath(folder);
    const std::vector<std::string> windows = sessionBus_->childObjects(service, "/dolphin");
    std::optional<bool> shown;
    if (!windows.empty()) {
        shown = false;
    }
    for (const std::string& window : windows) {
        for (const std::string& form : {url, folder == "/" ? url : url + "/"}) {
            const std::optional<bool> open = sessionBus_->callBoolean(
                service, "/dolphin/" + window, "org.kde.dolphin.MainWindow", "isUrlOpen", form);
            if (open == true) {
                return true;
            }
            if (!open) {
                shown.reset();
            }
        }
    }
    return shown;
}

// The folder shown, when exactly one reading of the clues is both on disk (holding the
// selected item) and confirmed: an absolute title is the file manager's own statement; a
// rebuilt path must also be open in one of its windows.
std::optional<std::string> ViewReader::folderShown(pid_t pid, const FolderClues& clues,
                                                   const std::string& name) {
    std::string cluesKey = clues.title + '\n' + clues.locationText + '\n';
    for (const std::string& part : clues.breadcrumb) {
        cluesKey += part + '\n';
    }
    if (confirmedClues_ != cluesKey) {
        confirmations_.clear();
        confirmedClues_ = cluesKey;
        places_ = userPlaces(); // the user may have added one since
    }
    return chooseFolder(folderCandidates(clues, places_), [&](const std::string& folder) {
        std::error_code error;
        const std::optional<std::string> path = pathInFolder(folder, name);
        if (!path || !std::filesystem::is_directory(folder, error) ||
            !std::filesystem::exists(std::filesystem::symlink_status(*path, error))) {
            return false;
        }
        if (folder == clues.title) {
            return true;
        }
        const auto known = confirmations_.find(folder);
        if (known != confirmations_.end()) {
            return known->second;
        }
        // Only a definite answer is kept: a busy moment must not deny the folder for good.
        const std::optional<bool> shown = fileManagerShows(pid, folder);
        if (shown) {
            confirmations_[folder] = *shown;
        }
        return shown.value_or(false);
    });
}

void ViewReader::look(const LookRequest& request, const Send& send, const Superseded& superseded) {
    const Clock::time_point started = Clock::now();
    LookNews answer;
    answer.generation = request.generation;
    const auto finish = [&](std::optional<std::string> path) {
        answer.applicationBus = application_ ? application_->bus : std::string();
        answer.tablePath = table_ ? table_->path : std::string();
        answer.path = std::move(path);
        answer.report.seconds = secondsSince(started);
        send(std::move(answer));
    };
    if (request.pid != pid_) {
        forgetApplication();
        pid_ = request.pid;
    }
    if (request.viewStale) {
        frame_.reset();
    }
    if (request.itemsChanged) {
        cellPaths_.clear();
    }
    if (!findApplication(request.pid)) {
        finish(std::nullopt);
        return;
    }
    const std::optional<ObjectRef> frame = activeFrame();
    if (!frame) {
        finish(std::nullopt);
        return;
    }
    // The window's title, the view found last (still usable? how many items?) and the
    // focused item, in one round trip.
    const bool sameWindow = frame == frame_ && table_;
    std::vector<std::pair<ObjectRef, unsigned>> questions = {{*frame, AccessibleBus::askName}};
    if (sameWindow) {
        questions.emplace_back(*table_, AccessibleBus::askStates | AccessibleBus::askRole |
                                            AccessibleBus::askCount);
    }
    if (request.focused) {
        questions.emplace_back(*request.focused,
                               AccessibleBus::askParent | AccessibleBus::askIndex |
                                   AccessibleBus::askStates | AccessibleBus::askName);
    }
    const std::vector<AccessibleBus::Answers> answers = bus_->askAbout(questions);
    const std::optional<std::string>& title = answers.front().name;
    if (!title || superseded()) {
        finish(std::nullopt);
        return;
    }
    std::optional<std::int32_t> count;
    std::vector<ObjectRef> focusedOrParent;
    if (request.focused) {
        focusedOrParent.push_back(*request.focused);
        if (answers.back().parent) {
            focusedOrParent.push_back(*answers.back().parent);
        }
    }
    // Another tab or view mode brings another view: its showing and children events mark
    // the one found stale. The focus going to the other pane of a split view, which no event
    // of the view found tells of, brings the other view too.
    if (sameWindow && isShowing(answers[1].states) && hasRole(answers[1].role, ATSPI_ROLE_TABLE) &&
        !focusLeftView(request, focusedOrParent)) {
        count = answers[1].count;
    } else {
        findView(*frame, focusedOrParent);
        count = table_ ? bus_->childCount(*table_) : std::nullopt;
    }
    if (!count || *count < 0) {
        frame_.reset();
        finish(std::nullopt);
        return;
    }
    const auto cellCount = static_cast<std::size_t>(*count);
    answer.report.cellsInView = cellCount;
    FolderClues clues;
    clues.title = folderFromTitle(*title, applicationName);
    readLocationBar(clues);

    // The focused item, when it belongs to this view: its neighbours are read first, and the
    // main thread learns at once whether the answer it shows still holds.
    std::optional<std::size_t> focusedIndex;
    LookNews focus;
    focus.kind = LookNews::Kind::focus;
    focus.generation = request.generation;
    if (request.focused && answers.back().parent == table_) {
        const AccessibleBus::Answers& focused = answers.back();
        if (focused.index && *focused.index >= 0 && focused.states &&
            !hasState(focused.states, ATSPI_STATE_DEFUNCT)) {
            focusedIndex = static_cast<std::size_t>(*focused.index);
            focus.focusOnItem = true;
            focus.focusedSelected = hasState(focused.states, ATSPI_STATE_SELECTED);
            focus.focusedName = focused.name;
        }
    }
    send(std::move(focus));

    const std::optional<std::string> name =
        onlySelected(request, cellCount, focusedIndex, superseded, answer.report);
    // The folder was read before the selection: a title changed since (another folder shown)
    // leaves the two unmatched, and the event that tells of it brings a look of its own.
    const bool sameTitle = name && !superseded() && bus_->names({*frame}).front() == title;
    const std::optional<std::string> folder =
        sameTitle ? folderShown(request.pid, clues, *name) : std::nullopt;
    finish(folder ? pathInFolder(*folder, *name) : std::nullopt);
}

// The name of the one selected item: counted by the file manager's plug-in where it answers,
// else found by reading every item; nothing when there is not exactly one, or no answer.
std::optional<std::string> ViewReader::onlySelected(const LookRequest& request,
                                                    std::size_t cellCount,
                                                    std::optional<std::size_t> focusedIndex,
                                                    const Superseded& superseded,
                                                    ScanReport& report) {
    if (superseded()) {
        return std::nullopt;
    }
    const ViewSelectionCount counted = countedByFileManager(request.pid);
    switch (counted.said) {
    case ViewSelectionCount::Said::counted:
        report.countedBy = ScanReport::CountedBy::fileManager;
        return counted.count == 1 && !counted.name.empty() ? std::optional(counted.name)
                                                           : std::nullopt;
    case ViewSelectionCount::Said::silent:
        // Reading the items would wait on the same busy process, one item at a time.
        return std::nullopt;
    case ViewSelectionCount::Said::absent:
        break;
    }
    report.countedBy = ScanReport::CountedBy::items;
    return onlySelectedByItemStates(request, cellCount, focusedIndex, superseded, report);
}

// The view's own count of its selection, from the file manager's plug-in.
ViewSelectionCount ViewReader::countedByFileManager(pid_t pid) {
    ViewSelectionCount counted;
    const std::optional<std::uint32_t> view = accessibleIdOf(table_->path);
    if (!sessionBus_ || !view) {
        return counted;
    }
    const NumberAndText answer =
        sessionBus_->callNumberAndText("org.kde.dolphin-" + std::to_string(pid), viewSelectionPath,
                                       viewSelectionInterface, "SelectedItem", *view);
    switch (answer.outcome) {
    case NumberAndText::Outcome::answered:
        // A negative count: an older plug-in, or a view it does not know.
        if (answer.number >= 0) {
            counted.said = ViewSelectionCount::Said::counted;
            counted.count = answer.number;
            counted.name = answer.text;
        }
        break;
    case NumberAndText::Outcome::noAnswer:
        counted.said = ViewSelectionCount::Said::silent;
        break;
    case NumberAndText::Outcome::notOffered:
        break;
    }
    return counted;
}

// The name of the one selected item, read from every item's state over the accessibility bus
// (several questions in flight, from the focused item outwards, stopping at a second selected
// one); nothing when there is not exactly one, or the look was given up.
std::optional<std::string>
ViewReader::onlySelectedByItemStates(const LookRequest& request, std::size_t cellCount,
                                     std::optional<std::size_t> focusedIndex,
                                     const Superseded& superseded, ScanReport& report) {
    if (cellCount > request.cellCap) {
        return std::nullopt;
    }
    // The items' paths are asked for once per view (one question, however many items) and
    // kept until its items change.
    if (cellPaths_.size() != cellCount) {
        const std::optional<std::vector<ObjectRef>> cells = bus_->children(*table_);
        cellPaths_.clear();
        // A view whose items changed since it was counted is looked at again on the event
        // that tells of the change; until then it has no answer.
        if (!cells || cells->size() != cellCount) {
            return std::nullopt;
        }
        for (const ObjectRef& cell : *cells) {
            cellPaths_.push_back(cell.path);
        }
    }

    const Clock::time_point reading = Clock::now();
    OutwardScan scan(cellCount, focusedIndex.value_or(0));
    bool abandoned = false;
    bus_->streamStates([&] { return scan.nextToAsk(); },
                       [&](std::size_t index) -> const std::string& { return cellPaths_[index]; },
                       application_->bus, request.inFlight,
                       [&](std::size_t index, const std::optional<StateBits>& states) {
                           std::optional<bool> selected;
                           if (states && !hasState(states, ATSPI_STATE_DEFUNCT)) {
                               selected = hasState(states, ATSPI_STATE_SELECTED);
                           }
                           scan.record(index, selected);
                       },
                       [&] {
                           abandoned = abandoned || superseded();
                           return !abandoned && !scan.isDone();
                       });
    report.cellSeconds = secondsSince(reading);
    const CellScanResult& result = scan.result();
    report.cellsRead = result.cellsRead;
    if (abandoned || !scan.isDone()) {
        return std::nullopt;
    }
    if (result.count == SelectedCount::unknown) {
        cellPaths_.clear(); // an item gone: the paths are asked for again next time
    }
    if (result.count != SelectedCount::one || result.selectedIndex >= cellPaths_.size()) {
        return std::nullopt;
    }
    // The name is read from the very object found selected, not from its place in the view,
    // which another item may have taken meanwhile.
    return bus_->names({{application_->bus, cellPaths_[result.selectedIndex]}}).front();
}

} // namespace scrivlet::atspi
