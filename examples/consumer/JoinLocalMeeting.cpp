// A host app of its own: creates a client, sets its parameters, joins a room of the local meeting
// service and leaves again. The service runs as a separate process (the in-tree
// kr_example_LocalMeetingService), reached on loopback through the CA file it prints.
//
//   kr_consumer LOCAL_MEETING_SERVICE_EXECUTABLE
//
// Exit status: 0 when the client joined and left, 1 when it did not, 2 for a bad command line.

#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <system_error>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Network/Utils/NetworkReachabilityHandler.h"
#include "KivRaneCoreSDK/Network/Utils/Reachability.h"
#include "KivRaneCoreSDK/Network/Utils/ReachabilityError.h"
#include "platform/Dispatch/MainQueue.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;

constexpr const char* kMeetingId = "1234567890";
constexpr const char* kPin = "4321";

/// The service's process and the one line it prints: port, CA file and rooms.
class ServiceProcess {
public:
    explicit ServiceProcess(const std::string& executable) {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const std::string room = std::string(kMeetingId) + ":" + kPin;
        // The bound on its life covers a run that goes wrong before it is stopped.
        char* argv[] = {const_cast<char*>(executable.c_str()), const_cast<char*>("--room"),
                        const_cast<char*>(room.c_str()), const_cast<char*>("--seconds"),
                        const_cast<char*>("120"), nullptr};
        if (::posix_spawn(&pid_, executable.c_str(), &actions, nullptr, argv, environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (FILE* out = ::fdopen(fds[0], "r")) {
            char* line = nullptr;
            std::size_t size = 0;
            if (::getline(&line, &size, out) > 0)
                line_ = line;
            std::free(line);
            std::fclose(out);
        } else {
            ::close(fds[0]);
        }
    }
    ~ServiceProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    const std::string& line() const { return line_; }

private:
    pid_t pid_ = -1;
    std::string line_;
};

/// Loopback routing to the service: every host name goes to its port, and its CA is trusted.
std::optional<kr::platform::HttpRouting> routingFrom(const std::string& line) {
    boost::system::error_code error;
    const boost::json::value info = boost::json::parse(line, error);
    if (error || !info.is_object())
        return std::nullopt;
    const auto* port = info.as_object().if_contains("port");
    const auto* caFile = info.as_object().if_contains("caFile");
    if (port == nullptr || !port->is_number() || caFile == nullptr || !caFile->is_string())
        return std::nullopt;
    kr::platform::HttpRouting routing;
    routing.connectTo = {"::127.0.0.1:" + std::to_string(port->to_number<int>())};
    routing.caFile = std::string(caFile->get_string());
    return routing;
}

/// Remembers how the join and the leave went.
class JoinWatcher : public kr::KRClientDelegate {
public:
    bool joined = false;
    bool left = false;
    std::optional<std::string> failure;

    void didLocalUserJoinedMeeting(const kr::KRMeeting& meeting,
                                   const std::shared_ptr<kr::KRMeetingUser>&) override {
        std::cout << "consumer: joined meeting " << meeting.meetingID() << std::endl;
        joined = true;
    }
    void didLocalUserFailedToJoinMeeting(const kr::KRMeetingJoinError& error) override {
        failure = error.message;
    }
    void didLocalUserLeftMeeting(const kr::KRMeeting& meeting,
                                 const kr::KRUserLeftReason&) override {
        std::cout << "consumer: left meeting " << meeting.meetingID() << std::endl;
        left = true;
    }
};

int fail(const std::string& what) {
    std::cout << "consumer: " << what << std::endl;
    return 1;
}

int run(const std::string& serviceExecutable, const std::filesystem::path& storage) {
    ServiceProcess service(serviceExecutable);
    const auto routing = routingFrom(service.line());
    if (!routing)
        return fail("the local meeting service did not start: \"" + service.line() + "\"");

    auto queue = kr::platform::MainQueue::create();
    kr::KRDependencies deps;
    deps.queue = queue;
    deps.routing = *routing;
    deps.storageDirectory = storage;
    // Everything runs on loopback: no connectivity to watch.
    deps.reachability = kr::NetworkReachabilityHandler::create(
        []() -> kr::Result<std::shared_ptr<kr::Reachability>, kr::ReachabilityError> {
            return kr::Failure{kr::ReachabilityError{}};
        });

    auto client = kr::KRClient::create(deps);
    client->setParameters(boost::json::object{{"os_type", "linux"}, {"participantsLimit", 10}});
    auto watcher = std::make_shared<JoinWatcher>();
    client->joinMeeting(kr::KRJoinMeetingData(kMeetingId, kPin, "consumer"),
                        kr::KRJoinMeetingConfig(kr::KRUserRole::speaker(), true, true), watcher);
    if (!queue->runUntil([&] { return watcher->joined || watcher->failure; }, 30s))
        return fail("no join within 30 s");
    if (watcher->failure)
        return fail("the join failed: " + *watcher->failure);

    client->leaveMeeting(kr::KRUserLeftReason::leaveMeeting());
    if (!queue->runUntil([&] { return watcher->left; }, 30s))
        return fail("no leave within 30 s");
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: " << argv[0] << " LOCAL_MEETING_SERVICE_EXECUTABLE\n";
        return 2;
    }
    std::string storage =
        (std::filesystem::temp_directory_path() / "kr-consumer-XXXXXX").string();
    if (::mkdtemp(storage.data()) == nullptr)
        return fail("no temporary directory could be made");
    const int status = run(argv[1], storage);
    std::error_code ignored;
    std::filesystem::remove_all(storage, ignored);
    return status;
}
