#include "KivRaneCoreSDK/Logger/KivRaneLogger.h"

#include <algorithm>
#include <cassert>
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
    retry_.cancel();
    if (timerToPushLogs_) {
        timerToPushLogs_->invalidate();
    }
}

std::shared_ptr<KivRaneLogger> KivRaneLogger::create(Environment environment) {
    return std::make_shared<KivRaneLogger>(std::move(environment));
}

std::shared_ptr<KivRaneLogger> KivRaneLogger::create(const KRDependencies& dependencies) {
    return create(environmentFor(dependencies));
}

std::shared_ptr<KivRaneLogger> KivRaneLogger::shared() {
    // Made once and never released: components may log until the process ends.
    static const auto* const instance = [] {
        KRDependencies production;
        production.queue = platform::MainQueue::current();
        auto* made = new std::shared_ptr<KivRaneLogger>(create(production));
        LogCollector::setShared(*made);
        return made;
    }();
    return *instance;
}

KivRaneLogger::Environment KivRaneLogger::environmentFor(const KRDependencies& dependencies) {
    Environment environment;
    assert(dependencies.queue);
    environment.timerQueue = dependencies.queue;
    // On the library's clock, so the back-off follows whatever clock the host or a test gave.
    environment.workQueue =
        platform::SerialQueue::create("KivRane_Core_Logger", environment.timerQueue->clock());
    platform::HttpTransportSettings settings;
    settings.routing = dependencies.routing;
    auto transport = platform::HttpTransport::create(std::move(settings));
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

void KivRaneLogger::configureLogger(Configuration configuration) {
    logLevel_ = configuration.level;
    isELKLoggingEnabled_ = configuration.isEnable;
    onWorkQueue([configuration = std::move(configuration)](KivRaneLogger& self) {
        self.settings_ = configuration;
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
    allLogs_.push_back({.timestamp = environment_.timeStamp(),
                        .message = moduleName + " " + message,
                        .level = std::to_string(levelRaw),
                        .meetingId = meetingID_,
                        .userId = userLoginID_,
                        .firstName = userFirstName_,
                        .lastName = userLastName_,
                        .identity = userEmailID_});
    ++counterForEntries_;
    capBacklog();
    checkEntriesAndPushLogs();
}

void KivRaneLogger::checkEntriesAndPushLogs() {
    // Counted apart from the pending list, which the backlog cap may keep shorter than the batch.
    // A batch size below zero must not turn an empty list into a push.
    if (!allLogs_.empty() && counterForEntries_ > settings_.entries) {
        prepareLogStringAndPush();
    }
}

void KivRaneLogger::prepareLogStringAndPush() {
    if (pushInFlight_ || backingOff()) {
        // The push in flight owns its records; this one starts when it has been answered or
        // when the back-off after a failure ends.
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
    const std::string action = actionLine(settings_.platformKey);
    std::string body;
    for (const auto& record : batch) {
        body += action;
        body += '\n';
        body += record.encode();
        body += '\n';
    }
    if (!pushLogsToServer(std::move(body), batch)) {
        keepUnsent(std::move(batch));
    }
    invalidateAndSetupAgainTheTimer();
}

bool KivRaneLogger::pushLogsToServer(std::string body, std::vector<KRLoggerData> batch) {
    if (!isUsableUrl(settings_.url) ||
        !platform::HttpTransport::isSafeHeaderValue(settings_.apiKey)) {
        return false;  // kept for a later push with usable settings
    }
    platform::HttpRequest request;
    request.method = "POST";
    request.url = settings_.url;
    request.headers = {{"Content-Type", "application/x-ndjson"},
                       {"Authorization", settings_.apiKey}};
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
        backOff();
        return;  // the back-off's end starts the deferred push, if one is due
    }
    failedPushes_ = 0;
    if (pushDeferred_ && !allLogs_.empty()) {
        prepareLogStringAndPush();
    } else {
        pushDeferred_ = false;
        checkEntriesAndPushLogs();
    }
}

bool KivRaneLogger::backingOff() {
    return failedPushes_ > 0 && environment_.workQueue->clock()->now() < retryAt_;
}

void KivRaneLogger::backOff() {
    // 2 s, 4 s, 8 s ... up to the cap: a service that is down sees a trickle, not a loop.
    const int doublings = std::min(failedPushes_++, 16);
    const auto delay = std::min<std::chrono::seconds>(kFirstRetryDelay * (1 << doublings),
                                                      kMaxRetryDelay);
    retryAt_ = environment_.workQueue->clock()->now() + delay;
    retry_.cancel();
    std::weak_ptr<KivRaneLogger> weakSelf = weak_from_this();
    retry_ = environment_.workQueue->postAfter(delay, [weakSelf] {
        auto self = weakSelf.lock();
        if (self && self->pushDeferred_ && !self->allLogs_.empty()) {
            self->prepareLogStringAndPush();
        }
    });
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
    // The re-armed timer's first tick is due for whatever arrives from now on. A tick right away
    // would come too early to see any of it, so it waits for the answer to the push just
    // started, like any push due while one is in flight; the next regular tick is a full
    // interval away.
    if (setupATimerForPushingTheLogs(false) && pushInFlight_) {
        pushDeferred_ = true;
    }
}

bool KivRaneLogger::setupATimerForPushingTheLogs(bool fireAtOnce) {
    if (!settings_.isEnable || settings_.apiTimeInterval < kMinimumTimerSeconds) {
        return false;  // an earlier timer keeps running unchanged
    }
    if (timerToPushLogs_) {
        timerToPushLogs_->invalidate();
    }
    std::weak_ptr<KivRaneLogger> weakSelf = weak_from_this();
    timerToPushLogs_ = platform::Timer::schedule(
        environment_.timerQueue,
        std::chrono::seconds(settings_.apiTimeInterval), true,
        [weakSelf](platform::Timer&) {
            if (auto self = weakSelf.lock()) {
                self->onWorkQueue([](KivRaneLogger& logger) { logger.timerTick(); });
            }
        });
    if (fireAtOnce) {
        timerToPushLogs_->fire();
    }
    return true;
}

void KivRaneLogger::timerTick() {
    if (!allLogs_.empty()) {
        prepareLogStringAndPush();
    }
}

}  // namespace kr
