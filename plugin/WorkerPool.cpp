#include "WorkerPool.h"

#include <chrono>

namespace vesk {

WorkerPool::WorkerPool() : thread_([this] { run(); }) {}

WorkerPool::~WorkerPool()
{
    {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void WorkerPool::post(std::function<void()> job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void WorkerPool::wait()
{
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

bool WorkerPool::waitFor(int timeoutMs)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, std::chrono::milliseconds(timeoutMs > 0 ? timeoutMs : 0),
                          [this] { return jobs_.empty() && !running_; });
}

uint64_t WorkerPool::failedJobs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
}

void WorkerPool::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty())
            return; // stopping and drained
        std::function<void()> job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        bool threw = false;
        try {
            job();
        } catch (...) {
            threw = true;
        }
        job = nullptr; // release captures before reporting idle
        lock.lock();
        running_ = false;
        if (threw)
            ++failed_;
        if (jobs_.empty())
            idle_.notify_all();
    }
}

} // namespace vesk
