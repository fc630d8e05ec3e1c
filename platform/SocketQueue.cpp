#include "platform/SocketQueue.h"

#include <linux/sockios.h>
#include <sys/ioctl.h>

namespace platform {

int UnsentBytes(int handle) {
    int pending = 0;
    if (handle < 0 || ::ioctl(handle, SIOCOUTQ, &pending) != 0)
        return 0;
    return pending;
}

} // namespace platform
