#include "webserver/shared_reads.h"

#include <algorithm>

#include "webserver/request.h"

namespace tsr {
namespace {

// Kept values of distinct items at most; a client that asks for ever new names cannot grow
// memory without bound.
constexpr size_t kMaxKept = 4096;

}  // namespace

std::optional<std::chrono::milliseconds> ParseMaxAge(std::string_view text) {
    if (text.empty() || text.size() > 6) return std::nullopt;
    long long ms = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        ms = ms * 10 + (c - '0');
    }
    if (ms > kLongestMaxAge.count()) return std::nullopt;
    return std::chrono::milliseconds(ms);
}

bool IsErrorAnswer(std::string_view text) { return text.empty() || text.front() == '['; }

SharedReads::SharedReads(std::chrono::milliseconds maxAge, size_t answerLimit)
    : maxAge_(std::max(maxAge, std::chrono::milliseconds(0))), answerLimit_(answerLimit) {}

void SharedReads::SetMaxAge(std::chrono::milliseconds maxAge) {
    maxAge_ = std::max(maxAge, std::chrono::milliseconds(0));
    if (!Sharing()) kept_.clear();
}

void SharedReads::Add(uint64_t ticket, DeviceFamily* family, std::vector<std::string> items,
                      std::shared_ptr<std::atomic<bool>> cancelled) {
    Request r;
    r.ticket = ticket;
    r.family = family;
    r.items = std::move(items);
    r.cancelled = std::move(cancelled);
    r.writesLeft = static_cast<size_t>(std::count_if(
        r.items.begin(), r.items.end(), [](const std::string& i) { return IsWriteItem(i); }));
    requests_.push_back(std::move(r));
    CollectDone();  // a request without items is answered at once
}

void SharedReads::Clear() {
    requests_.clear();
    done_.clear();
    dropped_.clear();
    inProgress_ = false;
}

std::optional<SharedReads::Exchange> SharedReads::Next(Clock::time_point now) {
    if (inProgress_) return std::nullopt;
    // Requests whose client left before any of their items ran are dropped unrun.
    for (auto it = requests_.begin(); it != requests_.end();) {
        if (!it->started && it->cancelled && it->cancelled->load()) {
            dropped_.push_back(it->ticket);
            it = requests_.erase(it);
        } else {
            ++it;
        }
    }
    if (Sharing()) {
        // Reads with a fresh kept value are answered from memory, except those of requests that
        // came after a write still to run: they must see the write.
        bool behindWrite = false;
        for (Request& r : requests_) {
            while (!behindWrite && r.next < r.items.size() && !IsWriteItem(r.items[r.next])) {
                const Kept* kept = Fresh(r.family, r.items[r.next], now);
                if (!kept) break;
                r.started = true;
                AnswerRead(r, kept->text);
            }
            if (r.writesLeft > 0) behindWrite = true;
        }
        CollectDone();
    }
    if (requests_.empty()) return std::nullopt;

    Request& head = requests_.front();
    Exchange exchange;
    exchange.family = head.family;
    exchange.start = now;
    exchange.write = IsWriteItem(head.items[head.next]);
    head.started = true;
    head.inExchange = true;
    exchangeTicket_ = head.ticket;
    inProgress_ = true;
    if (exchange.write) {
        exchange.items.push_back(head.items[head.next]);
        return exchange;
    }
    for (size_t i = head.next; i < head.items.size() && exchange.items.size() < kMaxBatch; ++i) {
        if (IsWriteItem(head.items[i])) break;
        exchange.items.push_back(head.items[i]);
    }
    if (!Sharing()) return exchange;
    // Every request waiting for one of these reads takes the answer of this one exchange.
    bool behindWrite = head.writesLeft > 0;
    for (size_t i = 1; i < requests_.size() && !behindWrite; ++i) {
        Request& r = requests_[i];
        if (r.family == head.family && r.next < r.items.size() &&
            std::find(exchange.items.begin(), exchange.items.end(), r.items[r.next]) !=
                exchange.items.end()) {
            r.started = true;
            r.inExchange = true;
        }
        if (r.writesLeft > 0) behindWrite = true;
    }
    return exchange;
}

void SharedReads::Finish(const Exchange& exchange, std::vector<std::string> texts) {
    if (!inProgress_) return;
    inProgress_ = false;
    if (exchange.write) {
        for (Request& r : requests_) {
            if (r.ticket != exchangeTicket_) continue;
            r.inExchange = false;
            ++r.next;
            --r.writesLeft;
            break;
        }
        ForgetFamily(exchange.family);
        CollectDone();
        return;
    }
    texts.resize(exchange.items.size(), "[err]");
    std::unordered_map<std::string_view, std::string_view> read;
    for (size_t i = 0; i < exchange.items.size(); ++i) {
        read.emplace(exchange.items[i], texts[i]);
        if (Sharing() && !IsErrorAnswer(texts[i]))
            Keep(exchange.family, exchange.items[i], texts[i], exchange.start);
    }
    // A request that took part goes on through its reads as long as this exchange read them.
    for (Request& r : requests_) {
        if (!r.inExchange) continue;
        r.inExchange = false;
        while (r.next < r.items.size()) {
            auto it = read.find(r.items[r.next]);
            if (it == read.end() || IsWriteItem(r.items[r.next])) break;
            AnswerRead(r, it->second);
        }
    }
    CollectDone();
}

std::vector<SharedReads::Done> SharedReads::TakeDone() {
    std::vector<Done> out;
    out.swap(done_);
    return out;
}

std::vector<uint64_t> SharedReads::TakeDropped() {
    std::vector<uint64_t> out;
    out.swap(dropped_);
    return out;
}

void SharedReads::AnswerRead(Request& r, std::string_view text) {
    if (r.anyRead) r.text += ';';
    r.anyRead = true;
    if (r.text.size() + text.size() > answerLimit_) {
        // The answer is full: the request ends here, its further items do not run.
        r.next = r.items.size();
        r.writesLeft = 0;
        return;
    }
    r.text += text;
    ++r.next;
}

void SharedReads::CollectDone() {
    for (auto it = requests_.begin(); it != requests_.end();) {
        if (it->next < it->items.size() || it->inExchange) {
            ++it;
            continue;
        }
        done_.push_back({it->ticket, std::move(it->text)});
        it = requests_.erase(it);
    }
}

const SharedReads::Kept* SharedReads::Fresh(DeviceFamily* family, const std::string& item,
                                            Clock::time_point now) const {
    auto it = kept_.find(item);
    if (it == kept_.end() || it->second.family != family) return nullptr;
    if (now - it->second.read >= maxAge_) return nullptr;
    return &it->second;
}

void SharedReads::Keep(DeviceFamily* family, const std::string& item, std::string text,
                       Clock::time_point read) {
    if (kept_.size() >= kMaxKept && !kept_.contains(item)) {
        std::erase_if(kept_, [&](const auto& k) { return read - k.second.read >= maxAge_; });
        if (kept_.size() >= kMaxKept) kept_.clear();
    }
    kept_[item] = Kept{family, std::move(text), read};
}

void SharedReads::ForgetFamily(DeviceFamily* family) {
    std::erase_if(kept_, [&](const auto& k) { return k.second.family == family; });
}

std::vector<std::string> RunExchange(const SharedReads::Exchange& exchange) {
    if (exchange.write) {
        if (exchange.family) exchange.family->WriteItem(exchange.items.front());
        return {};
    }
    // A route without a family answers as a device not connected.
    if (!exchange.family) return std::vector<std::string>(exchange.items.size(), "[err]");
    std::vector<std::string_view> items(exchange.items.begin(), exchange.items.end());
    return exchange.family->ReadItems(items);
}

DeviceWorker::DeviceWorker(size_t capacity, std::chrono::milliseconds maxAge, size_t answerLimit,
                           Done done)
    : capacity_(capacity), done_(std::move(done)), reads_(maxAge, answerLimit),
      thread_(&DeviceWorker::Run, this) {}

bool DeviceWorker::Post(int slot, uint64_t id, std::shared_ptr<std::atomic<bool>> cancelled,
                        DeviceFamily* family, std::vector<std::string> items, Finish finish) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || reads_.waiting() >= capacity_) return false;
        const uint64_t ticket = ++nextTicket_;
        pending_[ticket] = Pending{slot, id, std::move(finish)};
        reads_.Add(ticket, family, std::move(items), std::move(cancelled));
    }
    wake_.notify_one();
    return true;
}

void DeviceWorker::SetMaxAge(std::chrono::milliseconds maxAge) {
    std::lock_guard<std::mutex> lock(mutex_);
    reads_.SetMaxAge(maxAge);
}

void DeviceWorker::Forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    reads_.Forget();
}

void DeviceWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        reads_.Clear();
        pending_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void DeviceWorker::Run() {
    std::unique_lock<std::mutex> lock(mutex_);
    // Hands the finished requests to `done_`, outside the lock.
    auto deliver = [&] {
        for (uint64_t ticket : reads_.TakeDropped()) pending_.erase(ticket);
        std::vector<SharedReads::Done> done = reads_.TakeDone();
        if (done.empty()) return;
        std::vector<std::pair<Pending, std::string>> answers;
        for (SharedReads::Done& d : done) {
            auto it = pending_.find(d.ticket);
            if (it == pending_.end()) continue;
            answers.emplace_back(std::move(it->second), std::move(d.text));
            pending_.erase(it);
        }
        lock.unlock();
        for (auto& [p, text] : answers) done_(p.slot, p.id, p.finish(text));
        lock.lock();
    };
    for (;;) {
        wake_.wait(lock, [&] { return stopping_ || !reads_.idle(); });
        if (stopping_) return;
        std::optional<SharedReads::Exchange> exchange = reads_.Next(SharedReads::Clock::now());
        deliver();
        if (!exchange) continue;
        if (stopping_) return;
        lock.unlock();
        std::vector<std::string> texts = RunExchange(*exchange);
        exchanges_.fetch_add(1);
        lock.lock();
        if (stopping_) return;
        reads_.Finish(*exchange, std::move(texts));
        deliver();
    }
}

}  // namespace tsr
