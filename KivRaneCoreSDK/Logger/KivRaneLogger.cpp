#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"

#include <ctime>
#include <string_view>
#include <utility>

#include "KivRaneCoreSDK/Common/Json/JsonEncoding.h"
#include "platform/Dispatch/MainQueue.h"
#include "platform/Dispatch/SerialQueue.h"

namespace kr {

namespace {

// The bulk action line naming the index of the record that follows it.
std::string actionLine(std::string_view indexName) {
    return R"({"index" : {"_index" : ")" + jsonEscape(indexName) + R"("}})";
}

// Whether `url` can address the log service: a scheme of letters, "://", a host, and no blank or
// control character anywhere.
bool isUsableUrl(std::string_view url) {
    for (const char c : url) {
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) {
            return false;
        }
    }
    const auto separator = url.find("://");
    if (separator == std::string_view::npos || separator == 0) {
        return false;
    }
    for (const char c : url.substr(0, separator)) {
        const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!letter) {
            return false;
        }
    }
    const auto rest = url.substr(separator + 3);
    const auto hostEnd = rest.find_first_of("/?#");
    return !rest.substr(0, hostEnd).empty();
}

// The answers after which a batch is worth sending again.
bool isRetryableStatus(long status) {
    return status == 429 || (status >= 500 && status <= 599);
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(blanks);
    return text.substr(first, last - first + 1);
}

}  // namespace

KivRaneLogger::KivRaneLogger(Environment environment) : environment_(std::move(environment)) {}

KivRaneLogger::~KivRaneLogger() {
    if (timerToPushLogs_) {
        timerToPushLogs_->invalidate();
    }
}

std::shared_ptr<KivRaneLogger> KivRaneLogger::create(Environment environment) {
    return std::make_shared<KivRaneLogger>(std::move(environment));
}

std::shared_ptr<KivRaneLogger> KivRaneLogger::shared() {
    // Made once and never released: components may log until the process ends.
    static const auto* const instance = [] {
        auto* made = new std::shared_ptr<KivRaneLogger>(create(defaultEnvironment()));
        LogCollector::setShared(*made);
        return made;
    }();
    return *instance;
}

KivRaneLogger::Environment KivRaneLogger::defaultEnvironment() {
    Environment environment;
    environment.workQueue = platform::SerialQueue::create("KivRane_Core_Logger");
    environment.timerQueue = platform::MainQueue::current();
    auto transport = platform::HttpTransport::create();
    environment.send = [transport](platform::HttpRequest request,
                                   std::shared_ptr<platform::DispatchQueue> queue,
                                   platform::HttpCompletion completion) {
        return transport->send(std::move(request), std::move(queue), std::move(completion));
    };
    environment.timeStamp = &KivRaneLogger::localTimeStamp;
    return environment;
}

std::string KivRaneLogger::localTimeStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
    return std::string(text, length);
}

void KivRaneLogger::onWorkQueue(std::function<void(KivRaneLogger&)> step) {
    std::weak_ptr<KivRaneLogger> weakSelf = weak_from_this();
    environment_.workQueue->post([weakSelf, step = std::move(step)] {
        if (auto self = weakSelf.lock()) {
            step(*self);
        }
    });
}

void KivRaneLogger::configureLogger(bool isEnable, int level, int entries, int apiTimeInterval,
                                    std::string platformKey, std::string apiKey, std::string url) {
    logLevel_ = level;
    isELKLoggingEnabled_ = isEnable;
    Settings settings;
    settings.enabled = isEnable;
    settings.noOfEntries = entries;
    settings.secondsBeforeCallingTheApiToPushLogs = apiTimeInterval;
    settings.loggerPlatformKey = std::move(platformKey);
    settings.loggerApiKey = std::move(apiKey);
    settings.loggerURL = std::move(url);
    onWorkQueue([settings = std::move(settings)](KivRaneLogger& self) {
        self.settings_ = settings;
        self.setupATimerForPushingTheLogs(true);
    });
}

void KivRaneLogger::setUserData(std::string userName, std::string userID, std::string meetingID,
                                std::string emailID) {
    // Split at every single space: two spaces in a row leave an empty piece between them, so the
    // first and the last piece are still the first and the last word.
    const std::string_view name = trimmed(userName);
    const auto firstSpace = name.find(' ');
    const auto lastSpace = name.rfind(' ');
    std::string firstName(name.substr(0, firstSpace));
    std::string lastName(lastSpace == std::string_view::npos ? name : name.substr(lastSpace + 1));
    onWorkQueue([firstName = std::move(firstName), lastName = std::move(lastName),
                 userID = std::move(userID), meetingID = std::move(meetingID),
                 emailID = std::move(emailID)](KivRaneLogger& self) {
        self.userFirstName_ = firstName;
        self.userLastName_ = lastName;
        self.userLoginID_ = userID;
        self.userEmailID_ = emailID;
        self.meetingID_ = meetingID;
    });
}

void KivRaneLogger::collectLogs(const std::string& message, const std::string& moduleName,
                                KivRaneRMLogLevel level) {
    const int configured = logLevel_.load(std::memory_order_relaxed);
    const bool passes =
        isELKLoggingEnabled_.load(std::memory_order_relaxed) &&
        (configured == rawValue(KivRaneRMLogLevel::DEBUG) || configured == rawValue(level));
    if (!passes) {
        return;
    }
    onWorkQueue([message, moduleName, levelRaw = rawValue(level)](KivRaneLogger& self) {
        self.record(message, moduleName, levelRaw);
    });
}

void KivRaneLogger::record(const std::string& message, const std::string& moduleName,
                           int levelRaw) {
    allLogs_.emplace_back(environment_.timeStamp(), moduleName + " " + message,
                          std::to_string(levelRaw), meetingID_, userLoginID_, userFirstName_,
                          userLastName_, userEmailID_);
    ++counterForEntries_;
    capBacklog();
    checkEntriesAndPushLogs();
}

void KivRaneLogger::checkEntriesAndPushLogs() {
    // Counted apart from the pending list, which the backlog cap may keep shorter than the batch.
    if (counterForEntries_ > settings_.noOfEntries) {
        prepareLogStringAndPush();
    }
}

void KivRaneLogger::prepareLogStringAndPush() {
    if (pushInFlight_) {
        // The push in flight owns its records; this one starts when it has been answered.
        pushDeferred_ = true;
        return;
    }
    pushDeferred_ = false;
    // Unsent records of earlier pushes go first, then the new ones, in collection order.
    std::vector<KRLoggerData> batch;
    batch.reserve(backUpAllLogs_.size() + allLogs_.size());
    for (auto* list : {&backUpAllLogs_, &allLogs_}) {
        std::move(list->begin(), list->end(), std::back_inserter(batch));
        list->clear();
    }
    counterForEntries_ = 0;
    const std::string action = actionLine(settings_.loggerPlatformKey);
    std::string body;
    for (const auto& record : batch) {
        if (!body.empty()) {
            body += '\n';
        }
        body += action;
        body += '\n';
        body += record.encode();
    }
    if (!pushLogsToServer(std::move(body), batch)) {
        keepUnsent(std::move(batch));
    }
    invalidateAndSetupAgainTheTimer();
}

bool KivRaneLogger::pushLogsToServer(std::string body, std::vector<KRLoggerData> batch) {
    if (!isUsableUrl(settings_.loggerURL) ||
        !platform::HttpTransport::isSafeHeaderValue(settings_.loggerApiKey)) {
        return false;  // kept for a later push with usable settings
    }
    platform::HttpRequest request;
    request.method = "POST";
    request.url = settings_.loggerURL;
    request.headers = {{"Content-Type", "application/x-ndjson"},
                       {"Authorization", settings_.loggerApiKey}};
    request.body = std::move(body);
    request.timeout = kPushTimeout;

    std::weak_ptr<KivRaneLogger> weakSelf = weak_from_this();
    auto started = environment_.send(std::move(request), environment_.workQueue,
                                     [weakSelf](platform::HttpResult result) {
                                         if (auto self = weakSelf.lock()) {
                                             self->pushFinished(result);
                                         }
                                     });
    if (!started.ok()) {
        return false;
    }
    pushInFlight_ = true;
    inFlight_ = std::move(batch);
    return true;
}

void KivRaneLogger::pushFinished(const platform::HttpResult& result) {
    auto carried = std::exchange(inFlight_, {});
    pushInFlight_ = false;
    if (!result.ok() || isRetryableStatus(result.value().status)) {
        keepUnsent(std::move(carried));
    }
    if (pushDeferred_ && !allLogs_.empty()) {
        prepareLogStringAndPush();
    } else {
        pushDeferred_ = false;
        checkEntriesAndPushLogs();
    }
}

void KivRaneLogger::keepUnsent(std::vector<KRLoggerData> batch) {
    // Older than anything still in the backup, which is empty while a push is in flight.
    backUpAllLogs_.insert(backUpAllLogs_.begin(), std::make_move_iterator(batch.begin()),
                          std::make_move_iterator(batch.end()));
    capBacklog();
}

void KivRaneLogger::capBacklog() {
    while (backUpAllLogs_.size() + allLogs_.size() > environment_.maxBacklog) {
        auto& oldest = backUpAllLogs_.empty() ? allLogs_ : backUpAllLogs_;
        oldest.pop_front();
    }
}

void KivRaneLogger::invalidateAndSetupAgainTheTimer() {
    if (timerToPushLogs_) {
        timerToPushLogs_->invalidate();
        timerToPushLogs_.reset();
    }
    // Re-armed without a tick at once: an immediate tick after every push would push again as
    // soon as one record arrived.
    setupATimerForPushingTheLogs(false);
}

void KivRaneLogger::setupATimerForPushingTheLogs(bool fireAtOnce) {
    if (!settings_.enabled ||
        settings_.secondsBeforeCallingTheApiToPushLogs < kMinimumTimerSeconds) {
        return;  // an earlier timer keeps running unchanged
    }
    if (timerToPushLogs_) {
        timerToPushLogs_->invalidate();
    }
    std::weak_ptr<KivRaneLogger> weakSelf = weak_from_this();
    timerToPushLogs_ = platform::Timer::schedule(
        environment_.timerQueue,
        std::chrono::seconds(settings_.secondsBeforeCallingTheApiToPushLogs), true,
        [weakSelf](platform::Timer&) {
            if (auto self = weakSelf.lock()) {
                self->onWorkQueue([](KivRaneLogger& logger) { logger.timerTick(); });
            }
        });
    if (fireAtOnce) {
        timerToPushLogs_->fire();
    }
}

void KivRaneLogger::timerTick() {
    if (!allLogs_.empty()) {
        prepareLogStringAndPush();
    }
}

}  // namespace kr
