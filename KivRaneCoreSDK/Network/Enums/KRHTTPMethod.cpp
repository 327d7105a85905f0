#include "KivRaneCoreSDK/Network/Enums/KRHTTPMethod.h"

namespace kr {

std::string_view rawValue(KRHTTPMethod method) {
    switch (method) {
        case KRHTTPMethod::get:
            return "GET";
        case KRHTTPMethod::post:
            return "POST";
        case KRHTTPMethod::put:
            return "PUT";
        case KRHTTPMethod::delete_:
            return "DELETE";
    }
    return "GET";
}

std::optional<KRHTTPMethod> krHTTPMethodFromRaw(std::string_view raw) {
    for (auto method :
         {KRHTTPMethod::get, KRHTTPMethod::post, KRHTTPMethod::put, KRHTTPMethod::delete_}) {
        if (rawValue(method) == raw) {
            return method;
        }
    }
    return std::nullopt;
}

}  // namespace kr
