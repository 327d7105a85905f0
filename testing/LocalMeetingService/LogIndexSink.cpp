#include "testing/LocalMeetingService/LogIndexSink.h"

#include <boost/json/parse.hpp>
#include <condition_variable>
#include <mutex>

#include "testing/LocalMeetingService/LocalHttpsServer.h"

namespace kr::test {

struct LogIndexSink::State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    int status = 200;
    bool drop = false;
    std::vector<Entry> entries;
    std::vector<Push> pushes;
};

LogIndexSink::LogIndexSink(LocalHttpsServer& server, std::string path)
    : state_(std::make_shared<State>()) {
    server.route("POST", std::move(path), [state = state_](const RecordedRequest& request) {
        auto parsed = parseBody(request.body);
        ServerReply reply;
        {
            std::lock_guard lock(state->mutex);
            state->pushes.push_back(Push{request.body, request.header("Authorization").value_or(""),
                                         request.header("Content-Type").value_or("")});
            for (auto& entry : parsed) {
                state->entries.push_back(std::move(entry));
            }
            reply.status = state->status;
            reply.dropConnection = state->drop;
        }
        state->changed.notify_all();
        reply.body = reply.status < 300 ? R"({"errors":false})" : R"({"errors":true})";
        return reply;
    });
}

LogIndexSink::~LogIndexSink() = default;

void LogIndexSink::setStatus(int status) {
    std::lock_guard lock(state_->mutex);
    state_->status = status;
}

void LogIndexSink::setDropConnection(bool drop) {
    std::lock_guard lock(state_->mutex);
    state_->drop = drop;
}

std::vector<LogIndexSink::Entry> LogIndexSink::entries() const {
    std::lock_guard lock(state_->mutex);
    return state_->entries;
}

std::vector<LogIndexSink::Push> LogIndexSink::pushes() const {
    std::lock_guard lock(state_->mutex);
    return state_->pushes;
}

std::size_t LogIndexSink::pushCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->pushes.size();
}

bool LogIndexSink::waitForPushes(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout, [&] { return state_->pushes.size() >= count; });
}

std::vector<LogIndexSink::Entry> LogIndexSink::parseBody(const std::string& body) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start <= body.size()) {
        const auto end = body.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(body.substr(start));
            break;
        }
        lines.push_back(body.substr(start, end - start));
        start = end + 1;
    }
    std::vector<Entry> entries;
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        Entry entry;
        entry.actionLine = lines[i];
        entry.recordText = lines[i + 1];
        entry.index = lines[i];
        boost::system::error_code ec;
        const auto action = boost::json::parse(lines[i], ec);
        if (!ec && action.is_object()) {
            if (const auto* index = action.get_object().if_contains("index");
                index && index->is_object()) {
                if (const auto* name = index->get_object().if_contains("_index");
                    name && name->is_string()) {
                    entry.index = std::string(name->get_string());
                }
            }
        }
        auto record = boost::json::parse(lines[i + 1], ec);
        entry.record = ec ? boost::json::value() : std::move(record);
        entries.push_back(std::move(entry));
    }
    return entries;
}

}  // namespace kr::test
