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
#include "KivRaneCoreSDK/Logger/KRLoggerData.h"
#include "KivRaneCoreSDK/Logger/KivRaneRMLogLevel.h"
#include "KivRaneCoreSDK/Logger/LogCollector.h"
#include "platform/Dispatch/DispatchQueue.h"
#include "platform/Dispatch/Timer.h"
#include "platform/Http/HttpTransport.h"

namespace kr {

/// The remote log collector: keeps the messages that pass its level filter as `KRLoggerData`
/// records and ships them in bulk to the remote log service, one HTTPS POST of NDJSON per push
/// (an action line naming the index, then the record, for every record).
///
/// A push starts when more than the batch size of records are pending and on a repeating timer.
/// At most one push is in flight; it owns the records it carries: they are dropped once an HTTP
/// answer arrives (a rejected batch is not resent) and kept for the next push when no answer
/// arrives or the service answers 5xx or 429. The unsent backlog is capped; the oldest records go
/// first. Records still unsent when the process ends are lost.
///
/// Threading: `collectLogs` filters on the caller's thread (two atomic reads) and hands the
/// message to the collector's serial queue ("KivRane_Core_Logger"), where every record, batch
/// and push step runs; `configureLogger` and `setUserData` also take effect there, in call order.
/// The push timer runs on the main queue and only posts to the serial queue. Public methods may
/// be called from any thread.
class KivRaneLogger final : public LogCollector,
                            public std::enable_shared_from_this<KivRaneLogger> {
public:
    /// Sends one request; the same contract as `platform::HttpTransport::send`.
    using SendFunction = std::function<Result<Unit, platform::HttpError>(
        platform::HttpRequest, std::shared_ptr<platform::DispatchQueue>, platform::HttpCompletion)>;

    /// What the collector runs on; tests substitute every part.
    struct Environment {
        std::shared_ptr<platform::DispatchQueue> workQueue;   ///< serial: records and pushes
        std::shared_ptr<platform::DispatchQueue> timerQueue;  ///< the main queue: push timer
        SendFunction send;
        std::function<std::string()> timeStamp;  ///< text stamped on each record
        std::size_t maxBacklog = kDefaultMaxBacklog;
    };

    static constexpr std::size_t kDefaultMaxBacklog = 10000;
    static constexpr std::chrono::seconds kPushTimeout{45};
    static constexpr int kMinimumTimerSeconds = 10;

    /// The process-wide collector, made on first use over the real serial queue, the main queue
    /// and an HTTPS transport; it installs itself as `LogCollector::shared()`. Never released.
    static std::shared_ptr<KivRaneLogger> shared();
    /// A collector of its own over `environment` (tests); not installed anywhere.
    static std::shared_ptr<KivRaneLogger> create(Environment environment);
    /// The serial queue, the current main queue, a new HTTPS transport and local-time stamps.
    static Environment defaultEnvironment();

    ~KivRaneLogger() override;
    KivRaneLogger(const KivRaneLogger&) = delete;
    KivRaneLogger& operator=(const KivRaneLogger&) = delete;

    /// Replaces every setting and, when enabled with an interval of at least 10 seconds, the push
    /// timer (which then ticks at once). `level` is a level's raw value (1 lets every level
    /// through); `entries` the batch size; `apiTimeInterval` the timer interval in seconds;
    /// `platformKey` the index name; `apiKey` the "Authorization" value; `url` the bulk endpoint.
    /// Pending and unsent records are kept.
    void configureLogger(bool isEnable, int level, int entries, int apiTimeInterval,
                         std::string platformKey, std::string apiKey, std::string url);

    /// Stamps later records with the user: the name (trimmed) is split at every space, the first
    /// piece becoming the first name and the last piece the last name.
    void setUserData(std::string userName, std::string userID, std::string meetingID,
                     std::string emailID);

    /// Keeps the message when logging is enabled and the configured level is DEBUG or equals
    /// `level` exactly (not a threshold); drops it silently otherwise.
    void collectLogs(const std::string& message, const std::string& moduleName,
                     KivRaneRMLogLevel level) override;
    void collectLogs(const std::string& message, const std::string& moduleName) {
        collectLogs(message, moduleName, KivRaneRMLogLevel::INFO);
    }

    /// The local time now as "yyyy-MM-dd'T'HH:mm:ssZ", e.g. "2024-05-01T14:03:09+0530".
    static std::string localTimeStamp();

    explicit KivRaneLogger(Environment environment);

private:
    struct Settings {
        bool enabled = false;
        int secondsBeforeCallingTheApiToPushLogs = 20;
        int noOfEntries = 10;
        std::string loggerURL;
        std::string loggerPlatformKey;
        std::string loggerApiKey;
    };

    // Every member below runs on, and every field is touched only from, the work queue.
    void record(const std::string& message, const std::string& moduleName, int levelRaw);
    void checkEntriesAndPushLogs();
    void prepareLogStringAndPush();
    bool pushLogsToServer(std::string body, std::vector<KRLoggerData> batch);
    void pushFinished(const platform::HttpResult& result);
    void keepUnsent(std::vector<KRLoggerData> batch);
    void capBacklog();
    void invalidateAndSetupAgainTheTimer();
    void setupATimerForPushingTheLogs(bool fireAtOnce);
    void timerTick();
    void onWorkQueue(std::function<void(KivRaneLogger&)> step);

    const Environment environment_;

    // Read by the filter on the caller's thread.
    std::atomic<bool> isELKLoggingEnabled_{false};
    std::atomic<int> logLevel_{rawValue(KivRaneRMLogLevel::INFO)};

    Settings settings_;
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
    std::shared_ptr<platform::Timer> timerToPushLogs_;
};

}  // namespace kr
