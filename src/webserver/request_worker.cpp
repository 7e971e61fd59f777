#include "webserver/request_worker.h"

namespace tsr {

RequestWorker::RequestWorker(size_t capacity, Done done)
    : capacity_(capacity), done_(std::move(done)), thread_(&RequestWorker::Run, this) {}

bool RequestWorker::Post(int slot, uint64_t id, std::shared_ptr<std::atomic<bool>> cancelled,
                         Job job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= capacity_) return false;
        queue_.push_back({slot, id, std::move(cancelled), std::move(job)});
    }
    wake_.notify_one();
    return true;
}

void RequestWorker::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void RequestWorker::Run() {
    for (;;) {
        Item item;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_) return;
            item = std::move(queue_.front());
            queue_.pop_front();
        }
        if (item.cancelled && item.cancelled->load()) continue;  // the client went away
        std::string answer = item.job();
        done_(item.slot, item.id, std::move(answer));
    }
}

}  // namespace tsr
