#include "input_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <ctime>

#include "port.h"

namespace winport::detail {

namespace {

bool Readable(int fd)
{
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, 0) > 0;
}

// A descriptor on which whatever comes counts as input.
class FdSource : public InputSource {
public:
    explicit FdSource(int fd) : fd_(fd) {}
    bool WaitForInput(int wake) override
    {
        pollfd p[2] = {{fd_, POLLIN, 0}, {wake, POLLIN, 0}};
        return poll(p, 2, -1) > 0 && p[0].revents != 0;
    }
    bool InputPending() override { return Readable(fd_); }

private:
    int fd_;
};

class Locked {
public:
    explicit Locked(pthread_mutex_t *mutex) : mutex_(mutex) { pthread_mutex_lock(mutex_); }
    ~Locked() { pthread_mutex_unlock(mutex_); }
    Locked(const Locked &) = delete;
    Locked &operator=(const Locked &) = delete;

private:
    pthread_mutex_t *mutex_;
};

}  // namespace

// A fair share is not enough: beside one CPU-bound job per core the lifted thread would still take
// turns with them, and what is left of a frame and the process's own teardown would stretch with the
// load. The lift lasts only until the input is handled, or through the end of the process.
bool LiftThread(pid_t thread)
{
    sched_param param{};
    param.sched_priority = sched_get_priority_min(SCHED_FIFO);
    if (sched_setscheduler(thread, SCHED_FIFO, &param) == 0)
        return true;
    param.sched_priority = 0;
    return sched_setscheduler(thread, SCHED_OTHER, &param) == 0;
}

InputWatch::InputWatch()
{
    pthread_mutexattr_t mutexAttributes;
    pthread_mutexattr_init(&mutexAttributes);
    pthread_mutexattr_setprotocol(&mutexAttributes, PTHREAD_PRIO_INHERIT);
    pthread_mutex_init(&mutex_, &mutexAttributes);
    pthread_mutexattr_destroy(&mutexAttributes);
    pthread_condattr_t condAttributes;
    pthread_condattr_init(&condAttributes);
    pthread_condattr_setclock(&condAttributes, CLOCK_MONOTONIC);
    pthread_cond_init(&wake_, &condAttributes);
    pthread_condattr_destroy(&condAttributes);
}

InputWatch::~InputWatch()
{
    Stop();
    pthread_cond_destroy(&wake_);
    pthread_mutex_destroy(&mutex_);
}

bool InputWatch::Start(int fd)
{
    if (watcher_.joinable())
        return true;
    if (fd < 0)
        return false;
    fdSource_ = std::make_unique<FdSource>(fd);
    return Start(fdSource_.get());
}

bool InputWatch::Start(InputSource *source)
{
    if (watcher_.joinable())
        return true;
    if (pipe2(wakePipe_, O_CLOEXEC) != 0)
        return false;
    source_ = source;
    guiThread_ = static_cast<pid_t>(syscall(SYS_gettid));
    stop_ = false;
    watcher_ = std::thread([this] { Watch(); });
    return true;
}

void InputWatch::Stop()
{
    if (!watcher_.joinable())
        return;
    {
        Locked lock(&mutex_);
        stop_ = true;
        pthread_cond_broadcast(&wake_);
    }
    char byte = 0;
    (void)!write(wakePipe_[1], &byte, 1);
    watcher_.join();
    close(wakePipe_[0]);
    close(wakePipe_[1]);
    wakePipe_[0] = wakePipe_[1] = -1;
}

// Runs on the watcher thread: it never reads the connection, it only notices that input arrived
// and lets the GUI thread run until it has handled it. It is lifted itself for good, as it wakes
// only for the connection: on a busy machine its own turn would otherwise come tens of ms late.
void InputWatch::Watch()
{
    LiftThread(0);
    Locked lock(&mutex_);
    while (!stop_) {
        pthread_mutex_unlock(&mutex_);
        bool came = source_->WaitForInput(wakePipe_[0]);
        pthread_mutex_lock(&mutex_);
        if (stop_)
            break;
        // Refused once, refused for good: the thread keeps its own priority from here on.
        if (came && !Lift())
            break;
        // Until the GUI thread has read what came (or a while, should it never drop back).
        timespec until{};
        clock_gettime(CLOCK_MONOTONIC, &until);
        until.tv_nsec += 100000000;
        if (until.tv_nsec >= 1000000000) {
            until.tv_sec += 1;
            until.tv_nsec -= 1000000000;
        }
        while (lifted_ && !stop_ && pthread_cond_timedwait(&wake_, &mutex_, &until) == 0) {
        }
    }
}

// Lets the GUI thread run until the input that came is handled; false when refused. Under the mutex.
bool InputWatch::Lift()
{
    if (lifted_)
        return true;
    if (!LiftThread(guiThread_))
        return false;
    lifted_ = true;
    return true;
}

// On the GUI thread, under the mutex: input that arrives meanwhile finds the watcher waiting for the
// mutex, which lends this thread its priority until the drop is complete, and then lifts it again.
// The watcher is woken before the drop: dropped first, this thread would lose the processor to the
// load before the wake, and the watcher, still waiting for it, would miss input for that long (tens
// of ms at a time).
void InputWatch::DropBack()
{
    if (source_->InputPending())
        return;
    lifted_ = false;
    pthread_cond_broadcast(&wake_);
    sched_param param{};
    if (Port().threadPriority == THREAD_PRIORITY_IDLE && Port().idleIsSchedIdle)
        sched_setscheduler(0, SCHED_IDLE, &param);
    else
        sched_setscheduler(0, SCHED_OTHER, &param);
}

void InputWatch::BeforeReading()
{
    if (!watcher_.joinable() || lifted_ || !source_->InputPending())
        return;
    Locked lock(&mutex_);
    Lift();
}

void InputWatch::Poll()
{
    if (!watcher_.joinable())
        return;
    bool waiting = InputQueued();
    if (waiting == lifted_)
        return;
    Locked lock(&mutex_);
    // Input this thread read from the connection before the watcher woke to it is handled lifted all
    // the same: at idle priority on a busy machine it would wait a second or more.
    if (waiting)
        Lift();
    // Stay lifted through the quit, so the program also ends promptly; and until the thread has
    // read what woke the watcher, which may have come after its last look at the connection.
    else
        DropBack();
}

}  // namespace winport::detail
