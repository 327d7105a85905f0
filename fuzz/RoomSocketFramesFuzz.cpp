// Input: one frame received on the room socket. Reading it as a room status push or a chat
// message push never crashes, and every frame that is a JSON object gets an acknowledgement
// naming the frame's event (text events only; anything else is acknowledged as "").
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "KivRaneCoreSDK/Chat/Models/KRChatMessage.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"
#include "KivRaneCoreSDK/Socket/Manager/KRWebSocketManager.h"
#include "KivRaneCoreSDK/Socket/Models/RoomStatusUpdateSocketResponse.h"
#include "KivRaneCoreSDK/Socket/Models/SocketResponse.h"
#include "fuzz/FuzzCheck.h"

namespace {

using namespace kr;

std::string_view textMember(const boost::json::object& object, std::string_view key) {
    const auto* member = object.if_contains(key);
    const auto* text = member != nullptr ? member->if_string() : nullptr;
    return text != nullptr ? std::string_view(text->data(), text->size()) : std::string_view{};
}

void acknowledgementNamesTheEvent(const boost::json::value& frame, const std::string& ack) {
    const auto parsed = json_detail::parseJson(ack);
    KR_FUZZ_CHECK(parsed.ok() && parsed.value().is_object());
    const auto& object = parsed.value().as_object();
    KR_FUZZ_CHECK(object.size() == 2 && textMember(object, "event") == "ack");
    const auto* data = object.if_contains("data");
    KR_FUZZ_CHECK(data != nullptr && data->is_object() && data->as_object().size() == 2);
    KR_FUZZ_CHECK(textMember(data->as_object(), "originalEvent") ==
                  textMember(frame.as_object(), "event"));
    const std::string_view timestamp = textMember(data->as_object(), "timestamp");
    KR_FUZZ_CHECK(!timestamp.empty());
    for (const char c : timestamp) {
        KR_FUZZ_CHECK(std::isdigit(static_cast<unsigned char>(c)) != 0);
    }
}

template <class Payload>
void eventMatchesItsText(std::string_view text, const boost::json::value& frame) {
    const auto decoded = SocketResponse<Payload>::decode(text);
    if (decoded) {
        const auto event = socketEventFromRaw(textMember(frame.as_object(), "event"));
        KR_FUZZ_CHECK(event && *event == decoded.value().event);
        KR_FUZZ_CHECK(socketEventFromRaw(rawValue(*event)) == event);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto ack = KRWebSocketManager::acknowledgementFor(text);
    const auto frame = json_detail::parseJson(text);
    const bool isObject = frame.ok() && frame.value().is_object();
    KR_FUZZ_CHECK(ack.has_value() == isObject);
    if (!isObject) {
        return 0;
    }
    acknowledgementNamesTheEvent(frame.value(), ack->reply);
    eventMatchesItsText<RoomStatusUpdateSocketResponse>(text, frame.value());
    eventMatchesItsText<KRChatMessage>(text, frame.value());
    return 0;
}
