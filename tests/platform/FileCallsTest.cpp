#include "platform/FileCalls.h"

#include <gtest/gtest.h>

#include <cerrno>

// A signal that interrupts a call must not fail it: the call is made again.
TEST(FileCalls, InterruptedCallsAreMadeAgain) {
    int calls = 0;
    const int result = platform::RetryOnInterrupt([&] {
        if (++calls < 3) {
            errno = EINTR;
            return -1;
        }
        return 7;
    });
    EXPECT_EQ(result, 7);
    EXPECT_EQ(calls, 3);

    calls = 0;
    const long failed = platform::RetryOnInterrupt([&] {
        ++calls;
        errno = EBADF;
        return -1L;
    });
    EXPECT_EQ(failed, -1);
    EXPECT_EQ(calls, 1) << "other failures are not retried";
}
