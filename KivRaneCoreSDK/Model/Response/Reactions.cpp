#include "KivRaneCoreSDK/Model/Response/Reactions.h"

#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace kr {

Result<Reactions, JsonDecodingError> Reactions::fromJson(const boost::json::value& v) {
    JsonObjectReader r(v);
    Reactions reactions;
    reactions.reactionsbaseurl = r.required<std::string>("reactionsbaseurl");
    reactions.reactionsCount = r.required<std::int64_t>("reactionsCount");
    return r.finish(std::move(reactions));
}

}  // namespace kr
