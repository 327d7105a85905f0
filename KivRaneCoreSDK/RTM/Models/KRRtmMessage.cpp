#include "KivRaneCoreSDK/RTM/Models/KRRtmMessage.h"

#include <boost/json/object.hpp>
#include <initializer_list>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

namespace {

// Older clients send the reaction either as digits in a string or as a bare number; both must
// come out as the same text.
std::string readReactionsType(const JsonObjectReader& reader) {
    const boost::json::value* v = reader.raw("reactionsType");
    if (v == nullptr) {
        return {};
    }
    if (auto number = json_detail::asInt64(*v)) {
        return std::to_string(*number);
    }
    if (const boost::json::string* text = v->if_string()) {
        return std::string(text->data(), text->size());
    }
    return {};
}

// The text form's object; members are inserted in the order they go on the wire.
boost::json::object wireObject(const KRRtmMessage& m) {
    boost::json::object sender;
    sender["name"] = m.senderName;
    sender["participantId"] = m.senderParticipantId;
    sender["userId"] = m.senderUserId;

    boost::json::object out;
    out["sender"] = std::move(sender);
    if (!m.reactionsType.empty()) {
        out["reactionsType"] = m.reactionsType;
    }
    out["type"] = rawValue(m.messageType);
    out["message"] = rawValue(m.message);
    out["targetParticipantId"] = m.targetParticipantId;
    out["targetParticipantName"] = m.targetParticipantName;
    if (m.agoraShareUid) {
        out["agoraShareUid"] = *m.agoraShareUid;
    }
    return out;
}

}  // namespace

Result<KRRtmMessage, JsonDecodingError> KRRtmMessage::fromJson(const boost::json::value& v) {
    JsonObjectReader reader(v);
    KRRtmMessage out;
    {
        JsonObjectReader sender = reader.object("sender");
        out.senderParticipantId = sender.lenient<std::string>("participantId", "");
        out.senderName = sender.lenient<std::string>("name", "");
        out.senderUserId = sender.lenient<std::string>("userId", "");
    }
    out.reactionsType = readReactionsType(reader);
    out.messageType = reader.required<KRRtmMessageType>("type");
    out.message = reader.lenient<KRRtmMessageEvent>("message", KRRtmMessageEvent::unknown);
    out.targetParticipantId = reader.lenient<std::string>("targetParticipantId", "");
    out.targetParticipantName = reader.lenient<std::string>("targetParticipantName", "");
    out.targetHostUserId = reader.lenient<std::string>("targetHostUserId", "");
    out.agoraShareUid = reader.lenientOptional<std::uint64_t>("agoraShareUid");
    return reader.finish(std::move(out));
}

Result<KRRtmMessage, JsonDecodingError> KRRtmMessage::decode(std::string_view text) {
    return decodeJson<KRRtmMessage>(text);
}

Result<std::string, JsonSerializationError> KRRtmMessage::encode() const {
    for (const std::string* field :
         {&senderParticipantId, &senderName, &senderUserId, &targetParticipantId,
          &targetParticipantName, &reactionsType}) {
        if (!JsonEncoding::isValidUtf8(*field)) {
            return Failure{JsonSerializationError{"a text field is not valid UTF-8"}};
        }
    }
    std::string text = serializeJson(wireObject(*this));
    if (text.empty()) {
        return Failure{JsonSerializationError{"out of memory while writing JSON"}};
    }
    return text;
}

}  // namespace kr
