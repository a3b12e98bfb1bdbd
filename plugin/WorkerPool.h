// One worker thread that runs jobs strictly in posting order (file loads, render stages).
//
// Jobs hold pointers into the plug-in instance, so the instance waits for the pool to become
// idle before it tears anything down. An exception thrown by a job is caught and counted; it
// never escapes the worker thread (which would terminate the host).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace vesk {

class WorkerPool
{
public:
    // Starts the thread; throws std::system_error when the system refuses to create it.
    WorkerPool();
    // Waits for every queued job, then joins the thread.
    ~WorkerPool();

    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    // [main thread] Queues a job behind the ones already posted.
    void post(std::function<void()> job);

    // [main thread] Blocks until no job is queued or running.
    void wait();

    // [main thread] As wait(), but gives up after timeoutMs; true when idle.
    bool waitFor(int timeoutMs);

    // [any thread] Number of jobs that ended by throwing.
    uint64_t failedJobs() const;

private:
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<std::function<void()>> jobs_;
    bool running_ = false; // a job is executing
    bool stopping_ = false;
    uint64_t failed_ = 0;
    std::thread thread_; // last: started once everything above is ready
};

} // namespace vesk
