#include "ScrivletFinderSync/host/FinderSyncHost.h"

#include "Platform/desktop/FinderSyncController.h"

#include <algorithm>
#include <dlfcn.h>
#include <fstream>
#include <nlohmann/json.hpp>

namespace scrivlet {

namespace fs = std::filesystem;

namespace {

struct PlugInInfo {
    std::string executable;
    std::string principalClass;
};

std::optional<PlugInInfo> readInfo(const fs::path& plugIn, std::string& error) {
    std::ifstream file(plugIn / "Contents" / "Info.json");
    const nlohmann::json info = nlohmann::json::parse(file, nullptr, false);
    if (!info.is_object()) {
        error = "the plug-in at " + plugIn.string() + " has no readable info file";
        return std::nullopt;
    }
    const auto executable = info.value("CFBundleExecutable", std::string());
    const auto extension = info.value("NSExtension", nlohmann::json::object());
    const auto principal = extension.is_object()
                               ? extension.value("NSExtensionPrincipalClass", std::string())
                               : std::string();
    if (executable.empty() || principal.empty()) {
        error = "the info file of " + plugIn.string() + " names no executable or principal class";
        return std::nullopt;
    }
    return PlugInInfo{executable, principal};
}

} // namespace

fs::path FinderSyncHost::plugInPath(const fs::path& appBundle) {
    return appBundle / "Contents" / "PlugIns" / "ScrivletFinderSync.appex";
}

std::unique_ptr<FinderSyncHost> FinderSyncHost::load(const fs::path& appBundle,
                                                     std::string& error) {
    const fs::path plugIn = plugInPath(appBundle);
    const auto info = readInfo(plugIn, error);
    if (!info) {
        return nullptr;
    }
    const fs::path binary = plugIn / "Contents" / "MacOS" / info->executable;
    // The plug-in stays loaded for the life of the process, as its extension object does.
    void* handle = ::dlopen(binary.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        error = std::string("cannot load the plug-in: ") + ::dlerror();
        return nullptr;
    }
    auto instantiate = reinterpret_cast<FinderSyncInstantiateFunction>(
        ::dlsym(handle, finderSyncInstantiateSymbol));
    if (instantiate == nullptr) {
        error = "the plug-in " + binary.string() + " has no entry symbol";
        return nullptr;
    }
    std::shared_ptr<FinderSync> extension;
    if (!instantiate(info->principalClass.c_str(), &extension) || !extension) {
        error = "the plug-in cannot instantiate " + info->principalClass;
        return nullptr;
    }
    return std::unique_ptr<FinderSyncHost>(new FinderSyncHost(std::move(extension)));
}

std::vector<std::pair<std::string, std::string>>
FinderSyncHost::showFolder(const fs::path& folder) {
    std::vector<fs::path> visible;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(fs::absolute(folder, error), error)) {
        if (!entry.path().filename().string().starts_with('.')) {
            visible.push_back(entry.path());
        }
    }
    std::sort(visible.begin(), visible.end());
    std::vector<std::pair<std::string, std::string>> badges;
    FinderSyncController& controller = FinderSyncController::defaultController();
    for (const fs::path& path : visible) {
        const URL url = URL::fileURL(path);
        extension_->requestBadgeIdentifierForURL(url);
        badges.emplace_back(path.string(), controller.badgeIdentifier(url));
    }
    return badges;
}

std::shared_ptr<Menu> FinderSyncHost::contextMenu() {
    return extension_->menuForMenuKind(FinderSyncMenuKind::contextualMenuForItems);
}

bool FinderSyncHost::chooseMenuItem(const std::string& title) {
    const std::shared_ptr<Menu> menu = contextMenu();
    for (const auto& item : menu->items()) {
        if (item->title() == title) {
            return menu->performActionForItem(*item);
        }
    }
    return false;
}

} // namespace scrivlet
