// Decoding a room connection status reply with many participants (argument: how many), against
// a bare Boost.JSON parse of the same text. Each iteration is one pair, taken back to back: the
// library's decode and the bare parse (the order alternates from pair to pair so that neither
// always runs on caches the other warmed). Each pair gives one ratio, so a slow moment of the
// machine touches both sides of the pair it falls in and not the ratio of the run.
//   xBareParse                   median over the pairs of the run of decode time / bare parse
//                                time (the _min/_median/_max rows give it over the runs);
//   xBareParse_p90               the ratio that nine pairs in ten stay under;
//   xArenaParse_median           decode time / a parse into a monotonic arena (what the library
//                                parses into), to show how much of the decode is the parse;
//   nsPerParticipant             median decode time per participant (flat from 1k to 10k when
//                                the decode is linear).
// The reported time is the decode's. Both sides free what they built inside their timing.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <boost/json/monotonic_resource.hpp>
#include <boost/json/parse.hpp>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "KivRaneCoreSDK/Model/Response/KRRoomConnectionStatus.h"
#include "KivRaneCoreSDK/Common/Json/JsonObjectReader.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double quantile(std::vector<double> values, double q) {
    if (values.empty()) {
        return 0;
    }
    const auto at = values.begin() +
                    static_cast<std::ptrdiff_t>(q * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

double median(std::vector<double> values) {
    return quantile(std::move(values), 0.5);
}

/// Seconds that `work` takes, its result freed inside the timing.
template <class Work>
double timed(Work&& work) {
    const auto start = Clock::now();
    {
        auto result = work();
        benchmark::DoNotOptimize(result);
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_DecodeVsBareParse(benchmark::State& state) {
    const auto participants = static_cast<std::size_t>(state.range(0));
    const std::string text = statusReply(static_cast<int>(participants));
    bool failed = false;
    const auto decode = [&] {
        auto status = kr::decodeJson<kr::KRRoomConnectionStatus>(text);
        failed |= !status.ok() || status->participants.size() != participants;
        return status;
    };
    const auto bareParse = [&] { return boost::json::parse(text); };
    const auto arenaParse = [&] {
        boost::json::monotonic_resource arena(text.size());
        auto value = boost::json::parse(text, &arena);
        benchmark::DoNotOptimize(value);
        return value.kind();
    };

    std::vector<double> decodeSeconds;
    std::vector<double> bareRatios;
    std::vector<double> arenaRatios;
    bool decodeFirst = true;
    for (auto _ : state) {
        double decoded = 0;
        double bare = 0;
        if (decodeFirst) {
            decoded = timed(decode);
            bare = timed(bareParse);
        } else {
            bare = timed(bareParse);
            decoded = timed(decode);
        }
        const double arena = timed(arenaParse);
        decodeFirst = !decodeFirst;
        state.SetIterationTime(decoded);
        decodeSeconds.push_back(decoded);
        bareRatios.push_back(decoded / bare);
        arenaRatios.push_back(decoded / arena);
    }
    if (failed) {
        state.SkipWithError("decoding failed");
        return;
    }
    state.counters["xBareParse"] = median(bareRatios);
    state.counters["xBareParse_p90"] = quantile(bareRatios, 0.9);
    state.counters["xArenaParse_median"] = median(arenaRatios);
    state.counters["nsPerParticipant"] =
        median(decodeSeconds) * 1e9 / static_cast<double>(participants);
}

double minimum(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::min_element(v.begin(), v.end());
}
double maximum(const std::vector<double>& v) {
    return v.empty() ? 0 : *std::max_element(v.begin(), v.end());
}

}  // namespace

BENCHMARK(BM_DecodeVsBareParse)
    ->Arg(1000)
    ->Arg(3000)
    ->Arg(10000)
    ->UseManualTime()
    ->Repetitions(3)
    ->ComputeStatistics("min", minimum)
    ->ComputeStatistics("max", maximum)
    ->Unit(benchmark::kMicrosecond);
