#pragma once

#include <boost/json/object.hpp>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing/LocalMeetingService/BoundedRecord.h"
#include "testing/LocalMeetingService/LocalWebSocketEndpoint.h"

namespace kr::test {

/// Who a room socket connection logged in as.
struct RoomSocketLogin {
    std::string userId;
    std::string meetingId;  ///< empty: a signed-in user, who hears every room
    std::string roomId;
};

/// One frame a client sent on the room socket.
struct RoomSocketFrame {
    std::uint64_t connectionId = 0;
    bool binary = false;
    std::string text;
    std::string event;         ///< "" when the frame is not an object with a string "event"
    boost::json::object data;  ///< the "data" object, when there is one
    std::chrono::steady_clock::time_point receivedAt;  ///< when the server had read it whole
};

/// The local service's room event socket at "/ws": answers the upgrade, checks the login frame's
/// token, answers it with a "login" frame, records keep-alives and acknowledgements, and pushes
/// frames to the logged-in connections of a room. Faults: refused or unanswered upgrades, a
/// close or a silent drop of every connection, connections that stop reading, and raw (malformed)
/// frames.
///
/// Threading: connections run on the server's I/O thread; every public method may be called
/// from any thread. Frames pushed from one thread reach each connection in push order.
class RoomSocketHub final : public LocalWebSocketEndpoint,
                            public std::enable_shared_from_this<RoomSocketHub> {
public:
    using Verifier = std::function<std::optional<RoomSocketLogin>(std::string_view token)>;

    explicit RoomSocketHub(Verifier verifier);
    ~RoomSocketHub() override;

    boost::asio::awaitable<void> serve(Stream stream, Request request,
                                       std::uint64_t connectionId) override;

    /// The next `count` upgrades are answered 403 (negative: all until `clearFaults`).
    void refuseHandshakes(int count);
    /// The next `count` upgrades get no answer at all; the connection stays open until the
    /// client gives up (negative: all until `clearFaults`).
    void stallHandshakes(int count);
    /// The next `count` connections read nothing more once their login is answered: what the
    /// client sends from then on, its close frame included, stays unread until the service goes
    /// (negative: all until `clearFaults`).
    void stopReadingAfterLogin(int count);
    void clearFaults();
    /// Sends a close frame with `code` on every open connection.
    void closeAll(std::uint16_t code = 1001);
    /// The same, but each connection goes on recording what its client sends until the client's
    /// own close frame, as a server that still counts late acknowledgements does.
    void closeAllStillReading(std::uint16_t code);
    /// Cuts every open connection's TCP without a close frame.
    void dropAll();

    /// Sends `text` to every logged-in connection of the room (by meeting or room id) and to
    /// signed-in users, except those logged in as `exceptUserId`.
    void pushToRoom(std::string_view roomOrMeetingId, std::string text,
                    std::string_view exceptUserId = {});
    /// Sends `text` as it is (malformed frames included) to every logged-in connection.
    void pushToAll(std::string text);
    /// A "chatMessage" frame carrying `message` as its data.
    void pushChatMessage(std::string_view roomId, const boost::json::object& message,
                         std::string_view exceptUserId = {});
    /// The same frame, only to the connections logged in as one of `userIds`.
    void pushChatMessageTo(const std::vector<std::string>& userIds,
                           const boost::json::object& message);

    /// Frames the record keeps, at most this many; older ones give way to newer ones.
    static constexpr std::size_t kMaxRecordedFrames = 8192;

    /// The most recent frames clients sent, in arrival order.
    std::vector<RoomSocketFrame> receivedFrames() const;
    /// Every frame clients sent so far, kept in the record or not.
    std::size_t receivedFrameCount() const;
    /// Successful logins so far.
    std::size_t loginCount() const;
    /// Connections that completed the upgrade and are still open.
    std::size_t openConnectionCount() const;
    /// Upgrades left unanswered so far.
    std::size_t stalledHandshakeCount() const;
    /// Unanswered upgrades whose client has since gone away.
    std::size_t abandonedHandshakeCount() const;
    /// How each finished connection ended on the client's side: the code of the client's close
    /// frame, or 1006 when the connection went without one. In the order they ended.
    std::vector<std::uint16_t> clientCloseCodes() const;
    /// Frames pushed but not yet written to their connection's socket, over all connections.
    std::size_t unwrittenFrameCount() const;
    /// Waits until `done()` holds (checked whenever something changes); false on time-out.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) const;

    class Connection;

private:
    enum class HandshakeFault { none, refuse, stall };
    HandshakeFault takeHandshakeFault();
    bool takeStopReadingFault();
    void changed() const;
    void forEachOpen(const std::function<bool(const Connection&)>& filter,
                     const std::function<void(const std::shared_ptr<Connection>&)>& action);

    friend class Connection;

    const Verifier verifier_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    int refuseCount_ = 0;
    int stallCount_ = 0;
    int stopReadingCount_ = 0;
    std::vector<std::weak_ptr<Connection>> connections_;
    BoundedRecord<RoomSocketFrame> received_{kMaxRecordedFrames};
    std::size_t logins_ = 0;
    std::size_t stalled_ = 0;
    std::size_t abandoned_ = 0;
    std::vector<std::uint16_t> clientCloseCodes_;
    std::size_t unwritten_ = 0;
    mutable std::uint64_t version_ = 0;  // bumped on every change, for waitUntil
};

}  // namespace kr::test
