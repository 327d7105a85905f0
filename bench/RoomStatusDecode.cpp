// Decoding a room connection status reply with many participants, against a bare parse of the
// same text. The "xBareParse" counter is the decode time divided by the bare parse time.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace {

std::string statusReply(int participants) {
    std::string text = R"({"isHardMute": false, "isSoftMute": true, "whiteboardshared": false,
        "isRecording": true, "isSharing": "", "agoraScreenShareInfo": {"agoraUid": 51234},
        "participants": [)";
    char record[640];
    for (int i = 0; i < participants; ++i) {
        std::snprintf(
            record, sizeof record,
            R"(%s{"userId": "64f1c0de%016d", "participantUri": "sip:%08d@rooms.example.test",
            "participantId": "p-%08d-4c1e-9a77-0c2b", "participantName": "Participant Number %d",
            "micStatus": %s, "cameraStatus": %s, "participantJoinTime": "2024-05-01T10:%02d:%02d.000Z",
            "isSharingScreen": false, "isHandRaise": %s, "isHost": %s, "isCoHost": false,
            "participantType": "%s"})",
            i == 0 ? "" : ",", i, i, i, i, i % 2 ? "true" : "false", i % 3 ? "true" : "false",
            (i / 60) % 60, i % 60, i % 7 ? "false" : "true", i == 0 ? "true" : "false",
            i % 5 ? "speaker" : "audience");
        text += record;
    }
    text += "]}";
    return text;
}

double secondsPerBareParse(const std::string& text, int iterations) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < iterations; ++i) {
        auto value = boost::json::parse(text);
        benchmark::DoNotOptimize(value);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return elapsed.count() / iterations;
}

void BM_BareParse(benchmark::State& state) {
    const std::string text = statusReply(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        auto value = boost::json::parse(text);
        benchmark::DoNotOptimize(value);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_DecodeStatus(benchmark::State& state) {
    const std::string text = statusReply(static_cast<int>(state.range(0)));
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        auto status = kr::decodeJson<kr::KRRoomConnectionStatus>(text);
        if (!status.ok() ||
            status->participants.size() != static_cast<std::size_t>(state.range(0))) {
            state.SkipWithError("decoding failed");
            break;
        }
        benchmark::DoNotOptimize(status);
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    const double perDecode = elapsed.count() / static_cast<double>(state.iterations());
    const int parseRuns = static_cast<int>(std::max<std::int64_t>(state.iterations(), 5));
    state.counters["xBareParse"] = perDecode / secondsPerBareParse(text, parseRuns);
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

}  // namespace

BENCHMARK(BM_BareParse)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeStatus)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);
