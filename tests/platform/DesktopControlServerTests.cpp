#include "Platform/Services.h"
#include "Platform/backends/simulated/SimulatedFinder.h"
#include "Platform/base/RunLoop.h"
#include "Platform/control/DesktopControl.h"
#include "Platform/control/DesktopControlServer.h"
#include "Platform/control/ViewInspection.h"
#include "Platform/desktop/Menu.h"
#include "Platform/desktop/Panel.h"
#include "Platform/desktop/StatusBar.h"
#include "Platform/system/UserDirectories.h"
#include "Platform/ui/HostingView.h"
#include "Scrivcore/AnnotationStore.h"
#include "Scrivlet/AppDelegate.h"
#include "Scrivlet/PanelController.h"
#include "tests/support/AppSession.h"
#include "tests/support/LogCapture.h"
#include "tests/support/OtherUser.h"
#include "tests/support/TempHome.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <random>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace scrivlet;

namespace fs = std::filesystem;

namespace {

// One client connection, driven a step at a time so that the server, on the same thread,
// can run in between.
class Client {
public:
    explicit Client(const fs::path& socket) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket.c_str(), sizeof address.sun_path - 1);
        // Connected without waiting: a server that lets its backlog fill fails the test
        // rather than hang it. Blocking from then on, as a client is.
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        EXPECT_EQ(::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0)
            << std::strerror(errno);
        ::fcntl(fd_, F_SETFL, 0);
    }
    ~Client() { close(); }
    Client(const Client&) = delete;
    Client& operator=(const Client&) = delete;

    void send(std::string_view bytes) {
        EXPECT_EQ(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
                  static_cast<ssize_t>(bytes.size()));
    }
    void endWriting() { ::shutdown(fd_, SHUT_WR); }
    void close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

    struct Received {
        std::string text;
        bool closedByServer = false;
    };
    // What the server has sent so far, without waiting for more.
    Received receive() {
        Received received;
        char buffer[512];
        for (;;) {
            const ssize_t count = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
            if (count > 0) {
                received.text.append(buffer, static_cast<std::size_t>(count));
                continue;
            }
            received.closedByServer = count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
            return received;
        }
    }

private:
    int fd_ = -1;
};

std::size_t openDescriptorCount() {
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator()));
}

class DesktopControlServerTest : public ::testing::Test {
protected:
    AppSession session;
    fs::path socketPath = DesktopControlServer::defaultSocketPath();
    std::unique_ptr<DesktopControlServer> server;

    void SetUp() override {
        session.launch();
        std::error_code error;
        server = DesktopControlServer::start(session.services().runLoop(), session.desktop(),
                                             socketPath, error);
        ASSERT_TRUE(server) << error.message();
    }
    // Lets the server handle whatever has arrived.
    void serve() { session.services().runLoop().runUntilIdle(); }
    std::string ask(std::string_view request) {
        Client client(socketPath);
        client.send(request);
        serve();
        return client.receive().text;
    }
    void expectStillAnswers(const std::string& context) {
        EXPECT_TRUE(ask("status\n").starts_with("status item (square)")) << context;
        EXPECT_FALSE(session.isTerminated()) << context;
    }
};

enum class Ending { keepOpen, endWriting, closeAtOnce };

struct SocketCase {
    std::string name;
    std::string bytes;
    Ending ending;
    bool menuOpen;          // the status menu is open while the request arrives
    std::string replyStart; // empty: no reply at all
};

TEST_F(DesktopControlServerTest, BadRequestsGetAnErrorOrNothingAndTheAppGoesOn) {
    const std::string textError =
        "error: the command is not UTF-8 text, or holds control characters\n";
    const std::string tooLong = "error: a command is one line of at most 4096 bytes\n";
    const SocketCase cases[] = {
        {"over-long line", std::string(5000, 'a'), Ending::keepOpen, false, tooLong},
        {"over-long line, ended", std::string(4200, 'a') + "\n", Ending::keepOpen, false, tooLong},
        {"longest line", "choose " + std::string(4089, 'x') + "\n", Ending::keepOpen, true,
         "error: cannot choose \"xxx"},
        {"NUL byte", std::string("sta\0tus\n", 8), Ending::keepOpen, false, textError},
        {"not UTF-8", "choose \xff\xfe\n", Ending::keepOpen, true, textError},
        {"empty line", "\n", Ending::keepOpen, false, "error: empty command"},
        {"extra argument", "close-menu now\n", Ending::keepOpen, true,
         "error: wrong number of arguments; usage: close-menu\n"},
        {"unknown verb", "reboot\n", Ending::keepOpen, false, "error: unknown command \"reboot\""},
        {"bad number", "open-menu x\n", Ending::endWriting, false,
         "error: open-menu needs a status item number"},
        {"CR LF", "status\r\n", Ending::keepOpen, false, "status item (square)"},
        {"second line ignored", "status\nfrobnicate\n", Ending::keepOpen, false, "status item"},
        {"half a line, then gone", "open-me", Ending::closeAtOnce, false, ""},
        {"half a line, then end", "status", Ending::endWriting, false, ""},
        {"half a quit is not run", "choose Quit Scrivlet", Ending::endWriting, true, ""},
        {"gone before the reply", "status\n", Ending::closeAtOnce, false, ""},
        {"random bytes", std::string("\x93\x01\xfe\xff\x00\x7f\n", 7), Ending::keepOpen, false,
         textError},
    };
    const std::size_t descriptorsBefore = openDescriptorCount();
    for (const auto& [name, bytes, ending, menuOpen, replyStart] : cases) {
        if (menuOpen) {
            ASSERT_TRUE(session.desktop().openStatusMenu()) << name;
        }
        auto client = std::make_unique<Client>(socketPath);
        client->send(bytes);
        if (ending == Ending::endWriting) {
            client->endWriting();
        } else if (ending == Ending::closeAtOnce) {
            client->close();
        }
        serve();
        if (ending != Ending::closeAtOnce) {
            const Client::Received received = client->receive();
            EXPECT_TRUE(received.text.starts_with(replyStart)) << name << ": " << received.text;
            EXPECT_EQ(received.text.empty(), replyStart.empty()) << name;
            EXPECT_EQ(received.text.find("error"),
                      replyStart.starts_with("error") ? 0 : std::string::npos)
                << name;
            EXPECT_TRUE(received.closedByServer) << name;
        }
        client.reset();
        serve();
        EXPECT_EQ(session.desktop().isMenuOpen(), menuOpen) << name;
        session.desktop().closeMenu();
        expectStillAnswers(name);
    }
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST_F(DesktopControlServerTest, ALineMayArriveInPieces) {
    Client client(socketPath);
    client.send("sta");
    serve();
    const Client::Received early = client.receive();
    EXPECT_EQ(early.text, "");
    EXPECT_FALSE(early.closedByServer);
    client.send("tus\n");
    serve();
    EXPECT_TRUE(client.receive().text.starts_with("status item (square)"));
}

class ExplodingResponder : public Responder {
public:
    bool respondsToSelector(const Selector& selector) const override {
        return selector == "explode";
    }
    void performSelector(const Selector&, const void*) override {
        throw std::runtime_error("the action broke");
    }
};

TEST_F(DesktopControlServerTest, ACommandThatThrowsIsLoggedAndAnsweredWithAnError) {
    const auto responder = std::make_shared<ExplodingResponder>();
    auto item = std::make_shared<MenuItem>("Explode", "explode", "");
    item->setTarget(responder);
    session.delegate()->statusItem->menu()->addItem(item);
    ASSERT_TRUE(session.desktop().openStatusMenu());

    EXPECT_EQ(ask("choose Explode\n"), "error: the command failed inside the app\n");
    EXPECT_TRUE(session.log().contains("Desktop control: a request failed: the action broke"));
    expectStillAnswers("after the exception");
}

// Clients that never finish a line cannot lock the terminal out: at the limit the quietest
// makes way, the app never keeps more than the limit, and idle ones go after a while.
TEST_F(DesktopControlServerTest, ClientsThatNeverFinishCannotLockTheTerminalOut) {
    const std::size_t descriptorsBefore = openDescriptorCount();
    std::vector<std::unique_ptr<Client>> idle;
    for (int i = 0; i < 100; ++i) {
        idle.push_back(std::make_unique<Client>(socketPath));
        serve();
    }
    EXPECT_TRUE(idle.front()->receive().closedByServer) << "the oldest made way";
    EXPECT_FALSE(idle.back()->receive().closedByServer);
    // The test's 100 clients, and no more than the limit on the app's side.
    EXPECT_LE(openDescriptorCount(),
              descriptorsBefore + idle.size() + DesktopControlServer::maximumConnections);
    for (int i = 0; i < 5; ++i) {
        expectStillAnswers("with idle clients, " + std::to_string(i));
    }
    session.advance(DesktopControlServer::clientIdleTimeout + 0.1);
    EXPECT_TRUE(idle.back()->receive().closedByServer) << "dropped once idle too long";
    idle.clear();
    serve();
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
}

TEST_F(DesktopControlServerTest, ClientsOfOtherUsersAreClosedAndNothingRuns) {
    ASSERT_TRUE(session.desktop().openStatusMenu());
    const int stranger = connectAsOtherUser(socketPath);
    ASSERT_GE(stranger, 0);
    const std::string quit = "choose Quit Scrivlet\n";
    ASSERT_EQ(::send(stranger, quit.data(), quit.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(quit.size()));
    serve();
    char byte = 0;
    const ssize_t got = ::recv(stranger, &byte, 1, MSG_DONTWAIT);
    EXPECT_TRUE(got == 0 || (got < 0 && errno == ECONNRESET)) << "closed without a reply";
    ::close(stranger);
    EXPECT_TRUE(session.desktop().isMenuOpen());
    session.desktop().closeMenu();
    expectStillAnswers("after another user's request");
}

TEST_F(DesktopControlServerTest, ARuntimeFolderOthersCanWriteToIsRefused) {
    server.reset();
    const fs::path run = socketPath.parent_path().parent_path(); // XDG_RUNTIME_DIR
    ::chmod(run.c_str(), 01777);
    std::error_code error;
    EXPECT_FALSE(DesktopControlServer::start(session.services().runLoop(), session.desktop(),
                                             socketPath, error));
    EXPECT_EQ(error, UserDirectories::folderNotPrivate());
    EXPECT_FALSE(fs::exists(socketPath));
    ::chmod(run.c_str(), 0700);
}

// Random bytes, sometimes after a real verb, sometimes ending in a line break.
std::string randomRequest(std::mt19937& random) {
    static const char* const starts[] = {"", "", "status ", "open-menu ", "choose ", "press "};
    std::string request = starts[random() % std::size(starts)];
    const std::size_t length = random() % 600;
    for (std::size_t i = 0; i < length; ++i) {
        request += static_cast<char>(random() % 256);
    }
    if (random() % 2 == 0) {
        request += '\n';
    }
    return request;
}

TEST_F(DesktopControlServerTest, AThousandRandomRequestsLeaveTheAppAndAnEditAlone) {
    // A note typed in the panel for a file selected in Finder, not yet written to the store.
    const fs::path report = session.home().makeFile("Documents/report.txt", "figures");
    SimulatedFinder& finder = session.desktop().finder();
    finder.openWindow(CGRect(300, 150, 700, 500));
    finder.select({report.string()}, "AXSelectedChildrenChanged");
    session.desktop().settle();
    session.advance(0.2);
    const auto panel = session.delegate()->panelController->panel;
    ASSERT_TRUE(panel);
    const auto* host = dynamic_cast<const ui::HostingView*>(panel->contentView().get());
    ASSERT_NE(host, nullptr);
    const ui::ViewInspector content(*host);
    const auto editor = content.find(ui::ViewKind::textEditor);
    ASSERT_TRUE(editor && content.type(*editor, "Check the totals"));
    session.desktop().settle();

    std::mt19937 random(20261207);
    const std::size_t descriptorsBefore = openDescriptorCount();
    for (int i = 0; i < 1000; ++i) {
        const std::string request = randomRequest(random);
        Client client(socketPath);
        client.send(request);
        if (i % 3 == 0) {
            client.close(); // gone before any reply
        }
        serve();
        if (i % 3 != 0) {
            const std::string reply = client.receive().text;
            EXPECT_TRUE(reply.empty() || reply.ends_with('\n')) << i;
        }
    }
    serve();
    EXPECT_EQ(openDescriptorCount(), descriptorsBefore);
    expectStillAnswers("after the random requests");

    session.advance(1);
    AnnotationStore store(AnnotationStore::defaultPath());
    const auto record = store.fetch(report.string());
    ASSERT_TRUE(record);
    EXPECT_EQ(record->note, "Check the totals");
}

} // namespace
