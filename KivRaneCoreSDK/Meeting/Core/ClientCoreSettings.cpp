#include <boost/json.hpp>

#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"
#include "KivRaneCoreSDK/Common/ContactSyncManager.h"
#include "KivRaneCoreSDK/Common/Json/JsonValueDecoder.h"
#include "KivRaneCoreSDK/Network/Enums/KRCurrentUserType.h"
#include "KivRaneCoreSDK/Network/Manager/KRNetworkClient.h"

namespace kr {

namespace {

/// The environment texts the host app may give; they are not the host names.
std::optional<KRApiServer> environmentFromSetting(std::string_view text) {
    if (text == "staging") return KRApiServer::staging;
    if (text == "prestage") return KRApiServer::preStage;
    if (text == "rc") return KRApiServer::rc;
    if (text == "production") return KRApiServer::production;
    if (text == "pelvargroups") return KRApiServer::pelvarGroups;
    return std::nullopt;
}

}  // namespace

void ClientCore::setParameters(const boost::json::object& params) {
    KR_DCHECK_RUN_ON(checker_);
    for (const auto& entry : params) {
        applySettingsValue(entry.key(), entry.value());
    }
    selectBypassJoin(params);
    if (const auto* load = params.if_contains("getConfigOnLoad");
        load != nullptr && load->is_bool() && load->get_bool()) {
        getConfigurations([](bool) {});
    }
}

void ClientCore::applySettingsValue(std::string_view key, const boost::json::value& value) {
    const auto wrongType = [&] {
        logger_.warn("Settings value of \"" + std::string(key) + "\" has the wrong type, ignored");
    };
    const auto text = [&](std::string& into) {
        if (!value.is_string()) {
            wrongType();
            return false;
        }
        into = std::string(value.get_string());
        return true;
    };
    std::string s;
    if (key == "serverEnvironment") {
        if (!text(s)) return;
        const auto environment = environmentFromSetting(s);
        if (!environment) {
            logger_.warn("Unknown server environment \"" + s + "\", using production");
        }
        networkClient_->configureEnvironment(environment.value_or(KRApiServer::production));
    } else if (key == "os_type") {
        if (text(s)) settings_.osType = s;
    } else if (key == "getConfigOnLoad") {
        if (!value.is_bool()) wrongType();  // acted on once every key is read
    } else if (key == "participantsLimit") {
        // A number too large for the limit is as unusable as text; converting it would throw.
        const auto limit = JsonValueDecoder<std::int64_t>::decode(value);
        if (!limit.ok()) {
            wrongType();
            return;
        }
        settings_.participantsLimit = limit.value();
        settings_.isParticipantsLimitSetByHost = true;
    } else if (key == "kr_user_jwt_token") {
        if (!text(s)) return;
        settings_.userJwtToken = s;
        settings_.isGuestUserFlow = s.empty();
        networkClient_->setJwtToken(s);
        networkClient_->setCurrentUserType(s.empty() ? KRCurrentUserType::guest
                                                     : KRCurrentUserType::loggedIn);
    } else if (key == "kr_user_existing_id") {
        if (text(s)) currentRoom_.guestUserId = settings_.given.guestUserId = s;
    } else if (key == "kr_app_group_name") {
        if (text(s)) settings_.currentAppGroupName = s;
    } else if (key == "kr_agora_token") {
        if (text(s)) currentRoom_.userWebRtcToken = settings_.given.userWebRtcToken = s;
    } else if (key == "kr_uid") {
        if (text(s)) currentRoom_.userWebRtcId = settings_.given.userWebRtcId = s;
    } else if (key == "kr_room_id") {
        if (text(s)) currentRoom_.roomID = settings_.given.roomID = s;
    } else if (key == "kr_rtm_token") {
        if (text(s)) currentRoom_.userWebRtmToken = settings_.given.userWebRtmToken = s;
    } else if (key == "kr_leave_chat_thread_on_leave") {
        if (!value.is_bool()) {
            wrongType();
            return;
        }
        settings_.shouldLeaveChatThreadOnLeave = value.get_bool();
    } else if (key == "kr_contacts_array") {
        if (!value.is_array()) {
            wrongType();
            return;
        }
        std::vector<boost::json::object> contacts;
        for (const auto& contact : value.get_array()) {
            if (contact.is_object()) {
                contacts.push_back(contact.get_object());
            } else {
                logger_.warn("Settings contact that is not an object, ignored");
            }
        }
        deps_.contacts->setContactsArray(std::move(contacts));
    } else {
        logger_.debug("Unknown settings key \"" + std::string(key) + "\"");
    }
}

void ClientCore::selectBypassJoin(const boost::json::object& params) {
    // Media credentials in the settings replace every server call of the join. The engine app id
    // is whatever an earlier configuration fetch stored, else empty.
    const auto given = [&](std::string_view key) {
        const auto* v = params.if_contains(key);
        return v != nullptr && v->is_string() && !v->get_string().empty();
    };
    if (given("kr_agora_token") && given("kr_uid") && given("kr_room_id")) {
        logger_.info("Media credentials given in the settings: the join skips the server calls");
        settings_.shouldByPassAPICalls = true;
    }
}

}  // namespace kr
