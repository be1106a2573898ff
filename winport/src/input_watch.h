// Windows lifts an idle-priority thread that receives input; this does the same for any presenter,
// so a program ends promptly on a busy machine. A watcher thread waits on the display connection's
// descriptor and lets the GUI thread run ahead of other work while input is waiting; the GUI
// thread drops back once it has read and handled it. Only the GUI thread's scheduling changes.
#ifndef WINPORT_INPUT_WATCH_H
#define WINPORT_INPUT_WATCH_H

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <thread>

namespace winport::detail {

// What the watcher waits on.
class InputSource {
public:
    virtual ~InputSource() = default;
    // On the watcher thread: waits until input may have come (true) or `wake` is readable (false).
    virtual bool WaitForInput(int wake) = 0;
    // Whether input has come that the GUI thread has not read yet.
    virtual bool InputPending() = 0;
};

class InputWatch {
public:
    InputWatch();
    InputWatch(const InputWatch &) = delete;
    InputWatch &operator=(const InputWatch &) = delete;
    ~InputWatch();

    // Watches fd (never reading it: whatever comes there counts as input) for the calling thread,
    // the GUI thread; false if it cannot.
    bool Start(int fd);
    // Watches source, which outlives the watch, for the calling thread.
    bool Start(InputSource *source);
    void Stop();
    // Whether the GUI thread is lifted now: input is waiting, to be taken at once.
    bool Lifted() const { return lifted_; }
    // On the GUI thread, just before it reads the connection: when something has come, it is lifted
    // first. Read at idle priority and then preempted by the load before the input reaches the queue,
    // the input would wait unseen: the watcher, which only looks at the connection, finds it empty.
    void BeforeReading();
    // On the GUI thread after it took input in: lifts it while input waits in its queue (also input
    // it read before the watcher woke to it), drops it back once nothing is left to take or handle.
    void Poll();

private:
    void Watch();
    bool Lift();
    void DropBack();

    std::unique_ptr<InputSource> fdSource_;
    InputSource *source_ = nullptr;
    pid_t guiThread_ = 0;
    std::thread watcher_;
    // Priority inheritance: the GUI thread may hold it at idle priority while the watcher waits.
    pthread_mutex_t mutex_;
    pthread_cond_t wake_;
    bool stop_ = false;
    int wakePipe_[2] = {-1, -1};  // ends the watcher's wait at once
    std::atomic<bool> lifted_{false};
};

// Puts a thread (0: the calling one) ahead of all ordinary work, at the lowest real-time priority,
// where that is allowed, else at normal priority: what may end the process must not wait behind
// whatever else the machine runs. False when neither is allowed.
bool LiftThread(pid_t thread);

}  // namespace winport::detail

#endif
