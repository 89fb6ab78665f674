// scrivlet-open: opens URLs through the workspace, as a file manager or a browser would. The
// running application that owns their scheme receives them; when none runs, the registered
// one is started with them. For shells, scripts and machines without xdg-open.
#include "Platform/base/URL.h"
#include "Platform/system/Bundle.h"
#include "Platform/system/LaunchServices.h"
#include "Platform/system/URLDelivery.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

namespace scrivlet {

namespace {

constexpr const char* usage =
    "usage: scrivlet-open [--timeout SECONDS] URL...\n"
    "Opens the URLs in the application that owns their scheme, starting it when it does not\n"
    "run, and waits for it to confirm (5 seconds unless --timeout says otherwise). Exits 0\n"
    "once it has confirmed them; 3 when it has them but did not confirm in time (it is busy,\n"
    "and acts on them once it gets to them); 1 when they could not be handed over; 2 for a\n"
    "command line it cannot read.\n";

std::optional<std::chrono::milliseconds> readSeconds(std::string_view text) {
    double seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (error != std::errc() || end != text.data() + text.size() || !(seconds > 0) ||
        seconds > 3600) {
        return std::nullopt;
    }
    return std::chrono::milliseconds(static_cast<long long>(seconds * 1000));
}

// Installed inside the app's bundle, the command can start that app before it ever ran.
std::optional<std::filesystem::path> applicationOfOwnBundle() {
    if (const std::optional<Bundle> bundle = Bundle::containingExecutable()) {
        return bundle->executablePath();
    }
    return std::nullopt;
}

int openFromCommandLine(int argc, char** argv) {
    LaunchServices::OpenOptions options;
    options.fallbackApplication = applicationOfOwnBundle();
    std::vector<URL> urls;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--timeout" && i + 1 < argc) {
            const auto timeout = readSeconds(argv[++i]);
            if (!timeout) {
                std::fprintf(stderr, "scrivlet-open: not a number of seconds: %s\n", argv[i]);
                return 2;
            }
            options.timeout = *timeout;
        } else if (const std::optional<URL> url = URL::fromString(argument); url && url->scheme()) {
            urls.push_back(*url);
        } else {
            std::fprintf(stderr, "scrivlet-open: not a URL: %s\n%s", argv[i], usage);
            return 2;
        }
    }
    if (urls.empty()) {
        std::fputs(usage, stderr);
        return 2;
    }
    const std::error_code error = LaunchServices::openURLs(urls, options);
    if (error == URLDelivery::unconfirmed()) {
        std::fprintf(stderr,
                     "scrivlet-open: delivered, not yet confirmed: the application has the URLs "
                     "but did not answer within %.1f s\n",
                     std::chrono::duration<double>(options.timeout).count());
        return LaunchServices::unconfirmedExitStatus;
    }
    if (error) {
        const char* reason = error == std::errc::no_such_file_or_directory
                                 ? "no application is registered for the URL's scheme"
                                 : nullptr;
        std::fprintf(stderr, "scrivlet-open: cannot open: %s\n",
                     reason ? reason : error.message().c_str());
        return 1;
    }
    return 0;
}

} // namespace

} // namespace scrivlet

int main(int argc, char** argv) {
    return scrivlet::openFromCommandLine(argc, argv);
}
