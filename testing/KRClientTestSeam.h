#pragma once

// The one way tests reach a client's insides: the room store, the session, the backends and the
// entry points the engines and the messaging service call.

#include <memory>

#include "KivRaneCoreSDK/Client/KRClient.h"
#include "KivRaneCoreSDK/Meeting/Backends/DefaultEngine/DefaultEngineBackend.h"
#include "KivRaneCoreSDK/Meeting/Backends/RoomEngine/RoomEngineBackend.h"
#include "KivRaneCoreSDK/Meeting/Core/ClientCore.h"

namespace kr {

class KRClientTestSeam {
public:
    static ClientCore& core(KRClient& client) { return *client.core_; }
};

inline ClientCore& internals(KRClient& client) {
    return KRClientTestSeam::core(client);
}
inline ClientCore& internals(KRClient* client) {
    return KRClientTestSeam::core(*client);
}
inline ClientCore& internals(const std::shared_ptr<KRClient>& client) {
    return KRClientTestSeam::core(*client);
}

}  // namespace kr
