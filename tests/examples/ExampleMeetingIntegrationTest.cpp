// The example meeting run end to end on each media engine, its output read back: every report
// shows under the step that set it off (the step's "--" line comes first, the next step's only
// after it), every engine shows the same reports, and the host's hard mute reaches each client it
// mutes as "my microphone is muted".

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

struct RunOutput {
    int exitStatus = -1;
    std::vector<std::string> lines;
};

RunOutput runMeeting(const std::string& engine) {
    RunOutput out;
#ifdef KR_EXAMPLE_MEETING
    const std::string command = std::string(KR_EXAMPLE_MEETING) +
                                " --participants 3 --seconds 60 --engine " + engine + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return out;
    std::string line;
    for (int c = std::fgetc(pipe); c != EOF; c = std::fgetc(pipe)) {
        if (c != '\n') {
            line.push_back(static_cast<char>(c));
            continue;
        }
        out.lines.push_back(line);
        line.clear();
    }
    const int status = ::pclose(pipe);
    out.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
    (void)engine;
#endif
    return out;
}

/// A step's "--" line (without the dashes) and the reports that belong to it, each the start of
/// one line of a participant.
struct Step {
    std::string header;
    std::vector<std::string> reports;
};

std::vector<Step> expectedSteps(const std::string& engine) {
    const std::vector<std::string> recording =
        engine == "default"
            // The room socket's report of a started recording names no one and may come before
            // the control message that does; whichever comes first is the one report.
            ? std::vector<std::string>{"[alice] recording started by ",
                                       "[bob] recording started by ",
                                       "[carol] recording started by "}
            // The room engine backend makes no join call: no call the service could record.
            : std::vector<std::string>{"[alice] starting the recording failed"};
    return {
        {"alice joins",
         {"[alice] my connection is connecting", "[alice] my connection is connected",
          "[alice] audio output: ", "[alice] joined meeting "}},
        {"bob joins",
         {"[bob] my connection is connecting", "[bob] my connection is connected",
          "[bob] audio output: ", "[bob] joined meeting ", "[bob] remote user joined: alice (",
          "[alice] remote user joined: bob ("}},
        {"carol joins",
         {"[carol] my connection is connecting", "[carol] my connection is connected",
          "[carol] audio output: ", "[carol] joined meeting ",
          "[carol] remote user joined: alice (", "[carol] remote user joined: bob (",
          "[alice] remote user joined: carol (", "[bob] remote user joined: carol ("}},
        {"alice (host) locks the meeting",
         {"[alice] meeting locked by alice", "[bob] meeting locked by alice",
          "[carol] meeting locked by alice"}},
        {"alice (host) starts the recording", recording},
        {"alice (host) mutes everyone",
         {"[bob] everyone muted (hard) by alice", "[bob] my microphone is muted",
          "[carol] everyone muted (hard) by alice", "[carol] my microphone is muted"}},
        {"alice (host) removes carol",
         {"[carol] my connection is disconnected", "[carol] left meeting 1234567890: removed",
          "[alice] remote user left: carol (", "[bob] remote user left: carol ("}},
        {"bob leaves",
         {"[bob] my connection is disconnected", "[bob] left meeting 1234567890: left",
          "[alice] remote user left: bob ("}},
        {"alice leaves",
         {"[alice] my connection is disconnected", "[alice] left meeting 1234567890: left"}},
    };
}

bool startsWith(const std::string& line, const std::string& prefix) {
    return line.rfind(prefix, 0) == 0;
}

/// The output cut at its "--" lines; a participant's line before the first one is put under "".
std::vector<Step> stepsOf(const std::vector<std::string>& lines) {
    std::vector<Step> steps{{"", {}}};
    for (const auto& line : lines) {
        if (startsWith(line, "-- "))
            steps.push_back({line.substr(3), {}});
        else if (startsWith(line, "["))
            steps.back().reports.push_back(line);
    }
    return steps;
}

class ExampleMeetingEngine : public ::testing::TestWithParam<const char*> {};

TEST_P(ExampleMeetingEngine, EveryReportShowsUnderItsOwnStepAndTheHardMuteReachesEveryone) {
#ifndef KR_EXAMPLE_MEETING
    GTEST_SKIP() << "the example hosts are not built";
#endif
    const std::string engine = GetParam();
    const RunOutput run = runMeeting(engine);
    std::string all;
    for (const auto& line : run.lines)
        all += line + "\n";
    SCOPED_TRACE(all);
    ASSERT_EQ(run.exitStatus, 0);

    const auto expected = expectedSteps(engine);
    const auto steps = stepsOf(run.lines);
    EXPECT_TRUE(steps.front().reports.empty()) << "reports before the first step";
    ASSERT_EQ(steps.size(), expected.size() + 1);

    // Every report of the table once, under its own step. Reports the table does not know of
    // (speakers, network figures) are periodic, not set off by a step, and may show anywhere.
    std::vector<std::string> allPrefixes;
    for (const auto& step : expected)
        allPrefixes.insert(allPrefixes.end(), step.reports.begin(), step.reports.end());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const Step& want = expected[i];
        const Step& got = steps[i + 1];
        EXPECT_EQ(got.header, want.header);
        for (const auto& prefix : allPrefixes) {
            const auto count = std::count_if(got.reports.begin(), got.reports.end(),
                                             [&](const auto& l) { return startsWith(l, prefix); });
            const bool ours = std::find(want.reports.begin(), want.reports.end(), prefix) !=
                              want.reports.end();
            EXPECT_EQ(count, ours ? 1 : 0) << "\"" << prefix << "\" under \"" << got.header << "\"";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Engines, ExampleMeetingEngine,
                         ::testing::Values("default", "agora", "kr-media"),
                         [](const ::testing::TestParamInfo<const char*>& engine) {
                             std::string name = engine.param;
                             std::erase(name, '-');
                             return name;
                         });

}  // namespace
