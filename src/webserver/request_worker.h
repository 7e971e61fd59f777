// One worker thread per gateway family: it runs the family's exchanges one at a time, in the
// order the requests arrived, off the serving thread, so a device that does not answer never
// delays file serving or another family.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tsr {

class RequestWorker {
public:
    // Builds the whole answer of one request (empty: no answer is sent).
    using Job = std::function<std::string()>;
    // Receives the answer of a finished job, on the worker's thread.
    using Done = std::function<void(int slot, uint64_t id, std::string answer)>;

    // At most `capacity` jobs wait at once.
    RequestWorker(size_t capacity, Done done);
    ~RequestWorker() { Stop(); }
    RequestWorker(const RequestWorker&) = delete;
    RequestWorker& operator=(const RequestWorker&) = delete;

    // Queues `job` for the connection in `slot` (its request `id`); `cancelled` set before the
    // job's turn drops it unrun. False when the queue is full or the worker stopped.
    bool Post(int slot, uint64_t id, std::shared_ptr<std::atomic<bool>> cancelled, Job job);
    // Drops the waiting jobs and waits for the one running to finish (its exchange is bounded by
    // its own time-outs). The worker takes no job after this.
    void Stop();

private:
    struct Item {
        int slot;
        uint64_t id;
        std::shared_ptr<std::atomic<bool>> cancelled;
        Job job;
    };
    void Run();

    const size_t capacity_;
    Done done_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Item> queue_;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tsr
