// The reads of one device family, shared among the requests that wait for them together.
//
// Many phones showing one page ask for the same few variables every refresh period. Instead of
// one device exchange per item of every request, the requests of a family wait in one queue in
// arrival order and the family's worker runs one exchange at a time:
//
//   - the oldest request's next item is always the next exchange, so every request is answered
//     within as many exchanges as there are distinct items ahead of it, however many phones ask;
//   - a read exchange answers every waiting request whose next item is one of its reads: they
//     all arrived before the exchange started, so no answer is older than its request;
//   - the reads that follow one another in a request go to the family together, which may serve
//     them with one device request (adjacent Modbus registers);
//   - a value read less than the maximum age ago answers from memory; an error text is never
//     kept; a maximum age of zero turns sharing off (one exchange per item, as they come);
//   - a write is never merged or skipped and runs in arrival order: reads of requests that came
//     after a write still to run wait for it, and a write forgets every value kept for its
//     family (one name may stand for another, "%mw10" and "%MW10.3" both read %MW10), so the
//     next read goes to the device and shows what was written;
//   - the items of one request run in their order (a read after a write of the same request sees
//     the write).
//
// SharedReads is the queue and its rules, without threads or sockets; DeviceWorker runs it on a
// thread of its own with a family.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "gateways/families.h"

namespace tsr {

// How old a shared value may be when no setting says otherwise.
constexpr std::chrono::milliseconds kDefaultMaxAge{200};

// The longest maximum age a setting may give.
constexpr std::chrono::milliseconds kLongestMaxAge{60000};

// A maximum age written as a whole number of milliseconds from 0 to kLongestMaxAge; nullopt for
// anything else (empty, a sign, a fraction, trailing text, out of range).
std::optional<std::chrono::milliseconds> ParseMaxAge(std::string_view text);

// True when a family's answer text is no value to keep: empty, or an error text ("[err]",
// "[error orvo -1]", …), which all begin with '['.
bool IsErrorAnswer(std::string_view text);

class SharedReads {
public:
    using Clock = std::chrono::steady_clock;

    // A request whose items have all run: the texts of its read items joined by ';'.
    struct Done {
        uint64_t ticket;
        std::string text;
    };
    // One exchange for the worker to run with `family` now: one write item, or the read items
    // that follow one another in the oldest request (at most kMaxBatch), which the family may
    // serve with fewer device requests than items (DeviceFamily::ReadItems).
    struct Exchange {
        DeviceFamily* family = nullptr;  // null: the route has no family (reads answer "[err]")
        std::vector<std::string> items;
        bool write = false;
        Clock::time_point start;
    };
    static constexpr size_t kMaxBatch = 125;

    // `answerLimit` bounds the text of one request: a read whose text would pass it ends the
    // request (its further items do not run).
    explicit SharedReads(std::chrono::milliseconds maxAge = kDefaultMaxAge,
                         size_t answerLimit = 100000);

    // The bound takes effect at the next exchange; zero also forgets every kept value.
    void SetMaxAge(std::chrono::milliseconds maxAge);
    std::chrono::milliseconds maxAge() const { return maxAge_; }

    // Queues a request of `family` with its items in order (an empty list is answered with an
    // empty text). `cancelled` set before any of its items has run drops it unrun.
    void Add(uint64_t ticket, DeviceFamily* family, std::vector<std::string> items,
             std::shared_ptr<std::atomic<bool>> cancelled = nullptr);

    // Answers from memory what may be, then gives the exchange to run at `now`: the oldest
    // request's next item. Nullopt when no request waits on the device. Only one exchange is
    // given out at a time: call Finish before calling Next again.
    std::optional<Exchange> Next(Clock::time_point now);
    // The outcome of the exchange Next gave: one text per read item (none for a write; missing
    // texts count as "[err]").
    void Finish(const Exchange& exchange, std::vector<std::string> texts);

    // The requests whose items have all run since the last call, in the order they ended.
    std::vector<Done> TakeDone();
    // The requests dropped unrun since the last call (their client left before their turn).
    std::vector<uint64_t> TakeDropped();

    // Forgets every kept value (the families were replaced).
    void Forget() { kept_.clear(); }
    // Drops every waiting request unanswered.
    void Clear();
    // Requests waiting (not yet all run).
    size_t waiting() const { return requests_.size(); }
    bool idle() const { return requests_.empty() && done_.empty(); }

private:
    struct Request {
        uint64_t ticket;
        DeviceFamily* family;
        std::vector<std::string> items;
        std::shared_ptr<std::atomic<bool>> cancelled;
        size_t next = 0;          // the item to run next
        bool started = false;     // an item has run or is running
        bool anyRead = false;     // `text` holds a read's answer
        bool inExchange = false;  // waits on the exchange in progress
        std::string text;
        size_t writesLeft = 0;    // write items at or after `next`
    };
    struct Kept {
        DeviceFamily* family;
        std::string text;
        Clock::time_point read;  // when the exchange that read it started
    };

    bool Sharing() const { return maxAge_.count() > 0; }
    // Puts `text` as the answer of `r`'s next item (a read) and moves on.
    void AnswerRead(Request& r, std::string_view text);
    void AdvancePastWrite(Request& r);
    // Moves the requests whose items have all run to `done_`.
    void CollectDone();
    const Kept* Fresh(DeviceFamily* family, const std::string& item, Clock::time_point now) const;
    void Keep(DeviceFamily* family, const std::string& item, std::string text,
              Clock::time_point read);
    void ForgetFamily(DeviceFamily* family);

    std::chrono::milliseconds maxAge_;
    size_t answerLimit_;
    std::deque<Request> requests_;  // arrival order
    std::vector<Done> done_;
    std::vector<uint64_t> dropped_;
    std::unordered_map<std::string, Kept> kept_;
    uint64_t exchangeTicket_ = 0;   // the request whose item the exchange in progress runs
    bool inProgress_ = false;
};

// Runs `exchange` with its family: the texts of its reads (none for a write).
std::vector<std::string> RunExchange(const SharedReads::Exchange& exchange);

// One thread that runs the exchanges of one device family through its SharedReads. The family's
// own lock still guards each exchange against the retry timer.
class DeviceWorker {
public:
    // Builds the whole HTTP answer from a request's read texts; runs on the worker's thread.
    using Finish = std::function<std::string(const std::string& text)>;
    // Receives the answer of a finished request, on the worker's thread.
    using Done = std::function<void(int slot, uint64_t id, std::string answer)>;

    // At most `capacity` requests wait at once.
    DeviceWorker(size_t capacity, std::chrono::milliseconds maxAge, size_t answerLimit, Done done);
    ~DeviceWorker() { Stop(); }
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // Queues the items of the request `id` of the connection in `slot`, for `family`. False when
    // the queue is full or the worker stopped.
    bool Post(int slot, uint64_t id, std::shared_ptr<std::atomic<bool>> cancelled,
              DeviceFamily* family, std::vector<std::string> items, Finish finish);
    void SetMaxAge(std::chrono::milliseconds maxAge);
    void Forget();
    // Drops the waiting requests and waits for the exchange in progress to end (bounded by the
    // family's own time-outs). The worker takes no request after this.
    void Stop();

    // Device exchanges run so far (reads and writes).
    uint64_t exchanges() const { return exchanges_.load(); }

private:
    struct Pending {
        int slot;
        uint64_t id;
        Finish finish;
    };
    void Run();

    const size_t capacity_;
    Done done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    SharedReads reads_;
    std::unordered_map<uint64_t, Pending> pending_;  // by ticket
    uint64_t nextTicket_ = 0;
    bool stopping_ = false;
    std::atomic<uint64_t> exchanges_{0};
    std::thread thread_;
};

}  // namespace tsr
