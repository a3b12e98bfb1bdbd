#include "export/BackgroundPriority.h"

#if defined(__APPLE__)
#include <pthread.h>
#include <sys/qos.h>
#elif defined(__linux__)
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace vesk {

void lowerThisThreadsPriority()
{
#if defined(__APPLE__)
    pthread_set_qos_class_self_np(QOS_CLASS_UTILITY, 0);
#elif defined(__linux__)
    // On Linux a nice value belongs to a thread (its kernel task id).
    const long tid = ::syscall(SYS_gettid);
    if (tid > 0)
        ::setpriority(PRIO_PROCESS, id_t(tid), 10);
#endif
}

} // namespace vesk
