// Writes the extension's badge images as emblems of an icon theme, at build time: one SVG per
// badge identifier, named as the module gives them to the file manager.
// Usage: scrivlet-write-emblems <folder>   (the theme's scalable/emblems folder)
#include "Platform/Services.h"
#include "Platform/backends/filemanager/FileManagerDesktop.h"
#include "Platform/base/RunLoop.h"
#include "Platform/desktop/FinderSyncController.h"
#include "Platform/system/AtomicFile.h"
#include "Platform/system/Bundle.h"
#include "ScrivletFinderSync/FinderSyncExtension.h"
#include "ScrivletFinderSync/nautilus/EmblemSVG.h"

#include <cstdio>
#include <filesystem>

int main(int argc, char** argv) {
    using namespace scrivlet;
    if (argc != 2) {
        std::fprintf(stderr, "usage: scrivlet-write-emblems <folder>\n");
        return 2;
    }
    const std::filesystem::path folder = argv[1];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) {
        std::fprintf(stderr, "scrivlet-write-emblems: %s: %s\n", argv[1], error.message().c_str());
        return 1;
    }
    auto desktop = std::make_unique<FileManagerDesktop>(EmblemSVG::drawableSymbols(),
                                                        [](const URL&) { return false; });
    FileManagerDesktop* controllerDesktop = desktop.get();
    Services services(std::make_unique<RunLoop>(makeRealRunLoopBackend()), std::move(desktop),
                      std::make_unique<Bundle>("com.scrivlet.Scrivlet.FinderSync",
                                               std::filesystem::path(), "ScrivletFinderSync",
                                               std::vector<std::string>{}));
    // The extension registers its badge images as it starts, as inside a file manager.
    const auto extension = FinderSyncExtension::make();
    int written = 0;
    for (const auto& badge : controllerDesktop->finderSyncController().badgeImages()) {
        const auto file = folder / (EmblemSVG::iconName(badge.identifier) + ".svg");
        if (const auto failed = replaceFileAtomically(file, EmblemSVG::document(badge.image), 0644,
                                                      FilePermissions::exactly)) {
            std::fprintf(stderr, "scrivlet-write-emblems: %s: %s\n", failed->path.c_str(),
                         failed->code.message().c_str());
            return 1;
        }
        ++written;
    }
    return written > 0 ? 0 : 1;
}
