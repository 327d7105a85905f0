#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Common/Result.h"
#include "KivRaneCoreSDK/Common/KRDependencies.h"
#include "KivRaneCoreSDK/Logger/KRLoggerData.h"
#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/TaskHandle.h"
#include "platform/Dispatch/Timer.h"
#include "platform/Http/HttpTransport.h"

namespace kr {

/// Gathers the library's diagnostic messages that survive the level check and uploads them in
/// batches to a remote log index: one HTTPS POST of NDJSON per batch, two lines per record
/// (which index, then the record), each line newline-terminated because bulk endpoints reject
/// a body without the final one.
///
/// A push starts when more than the batch size of records are pending and on a repeating timer.
/// At most one push is in flight; it owns the records it carries: they are dropped once an HTTP
/// answer arrives (a rejected batch is not resent) and kept for the next push when no answer
/// arrives or the service answers 5xx or 429. After such a failure the next push waits for a
/// growing, bounded delay, so an unreachable service is not hammered. The unsent backlog is
/// capped; the oldest records go first. Records still unsent when the process ends are lost.
///
/// Threading: `collectLogs` filters on the caller's thread (two atomic reads) and hands the
/// message to the collector's serial queue ("KivRane_Core_Logger"), where every record, batch
/// and push step runs; `configureLogger` and `setUserData` also take effect there, in call order.
/// The push timer runs on the library queue and only posts to the serial queue. Public methods
/// may be called from any thread.
class KivRaneLogger final : public LogCollector,
                            public std::enable_shared_from_this<KivRaneLogger> {
public:
    /// Sends one request; the same contract as `platform::HttpTransport::send`.
    using SendFunction = std::function<Result<Unit, platform::HttpError>(
        platform::HttpRequest, std::shared_ptr<platform::DispatchQueue>, platform::HttpCompletion)>;

    /// What the collector runs on; tests substitute every part.
    struct Environment {
        std::shared_ptr<platform::DispatchQueue> workQueue;   ///< serial: records, pushes, back-off
        std::shared_ptr<platform::DispatchQueue> timerQueue;  ///< the library queue: push timer
        SendFunction send;
        std::function<std::string()> timeStamp;  ///< text stamped on each record
        std::size_t maxBacklog = kDefaultMaxBacklog;
    };

    /// What `configureLogger` sets, named as the configuration reply names it, e.g.
    /// `{.isEnable = true, .level = 1, .entries = 25, .apiTimeInterval = 30, .url = ...}`.
    struct Configuration {
        bool isEnable = false;
        int level = 2;            ///< a level's raw value; 1 lets every level through
        int entries = 10;         ///< batch size
        int apiTimeInterval = 20;  ///< timer interval, seconds; below 10 no timer
        std::string platformKey{};  ///< the index name
        std::string apiKey{};       ///< the "Authorization" value
        std::string url{};          ///< the bulk endpoint
    };

    static constexpr std::size_t kDefaultMaxBacklog = 10000;
    static constexpr std::chrono::seconds kPushTimeout{45};
    static constexpr int kMinimumTimerSeconds = 10;
    /// Wait before the next push after the first failed one; doubles per failure up to the cap.
    static constexpr std::chrono::seconds kFirstRetryDelay{2};
    static constexpr std::chrono::seconds kMaxRetryDelay{300};

    /// The process-wide collector, made on first use from production dependencies; it installs
    /// itself as `LogCollector::shared()`. Never released.
    static std::shared_ptr<KivRaneLogger> shared();
    /// A collector of its own over `dependencies` (its queue, required, carries the timer and the
    /// clock; its routing reaches the log service); not installed anywhere.
    static std::shared_ptr<KivRaneLogger> create(const KRDependencies& dependencies);
    /// A collector of its own over `environment` (tests); not installed anywhere.
    static std::shared_ptr<KivRaneLogger> create(Environment environment);
    /// A new serial queue, the dependencies' queue, a new HTTPS transport and local-time stamps.
    static Environment environmentFor(const KRDependencies& dependencies);

    ~KivRaneLogger() override;
    KivRaneLogger(const KivRaneLogger&) = delete;
    KivRaneLogger& operator=(const KivRaneLogger&) = delete;

    /// Replaces every setting and, when enabled with an interval of at least 10 seconds, the push
    /// timer (which then ticks at once). Pending and unsent records are kept.
    void configureLogger(Configuration configuration);

    /// Stamps later records with the user: the name (trimmed) is split at every space, the first
    /// piece becoming the first name and the last piece the last name.
    void setUserData(std::string userName, std::string userID, std::string meetingID,
                     std::string emailID);

    /// Accepted only while enabled, and only for the configured level itself (DEBUG accepts
    /// every level; levels are not ordered). Anything else is dropped without a trace.
    void collectLogs(const std::string& message, const std::string& moduleName,
                     KivRaneRMLogLevel level) override;
    void collectLogs(const std::string& message, const std::string& moduleName) {
        collectLogs(message, moduleName, KivRaneRMLogLevel::INFO);
    }

    /// The local time now as "yyyy-MM-dd'T'HH:mm:ssZ", e.g. "2024-05-01T14:03:09+0530".
    static std::string localTimeStamp();

    explicit KivRaneLogger(Environment environment);

private:
    // Every member below runs on, and every field is touched only from, the work queue.
    void record(const std::string& message, const std::string& moduleName, int levelRaw);
    void checkEntriesAndPushLogs();
    void prepareLogStringAndPush();
    bool pushLogsToServer(std::string body, std::vector<KRLoggerData> batch);
    void pushFinished(const platform::HttpResult& result);
    void keepUnsent(std::vector<KRLoggerData> batch);
    void backOff();
    bool backingOff();
    void capBacklog();
    void invalidateAndSetupAgainTheTimer();
    /// Whether a timer was set up.
    bool setupATimerForPushingTheLogs(bool fireAtOnce);
    void timerTick();
    void onWorkQueue(std::function<void(KivRaneLogger&)> step);

    const Environment environment_;

    // Read by the filter on the caller's thread.
    std::atomic<bool> isELKLoggingEnabled_{false};
    std::atomic<int> logLevel_{rawValue(KivRaneRMLogLevel::INFO)};

    Configuration settings_;
    std::string userFirstName_ = "NA";
    std::string userLastName_ = "NA";
    std::string userLoginID_ = "NA";
    std::string meetingID_ = "NA";
    std::string userEmailID_ = "NA";
    long long counterForEntries_ = 0;         // records collected since the last push
    std::deque<KRLoggerData> allLogs_;        // collected since the last push, capped
    std::deque<KRLoggerData> backUpAllLogs_;  // unsent records of earlier pushes, oldest first
    bool pushInFlight_ = false;
    std::vector<KRLoggerData> inFlight_;  // the records the push in flight carries
    bool pushDeferred_ = false;           // a push was due while another was in flight
    int failedPushes_ = 0;                // in a row; sets the back-off delay
    platform::Clock::time_point retryAt_{};  // no push before this after a failure
    platform::TaskHandle retry_;             // the push due when the back-off ends
    std::shared_ptr<platform::Timer> timerToPushLogs_;
};

}  // namespace kr
