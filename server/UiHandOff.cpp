#include "server/UiHandOff.h"

// What workers and the UI thread share: it outlives the owner while a Sender holds it, and the
// owner's waker closes it as it goes, which is what makes a late Post safe.
struct UiHandOff::Sender::Shared : platform::CoalescingQueue {};

class UiHandOff::Waker : public platform::CoalescingWaker {
public:
    explicit Waker(platform::CoalescingQueue& queue) : CoalescingWaker(queue, kCoalesceMs) {}
};

void UiHandOff::Sender::Post(std::function<void()> call) const {
    shared_->Push(std::move(call));
}

UiHandOff::UiHandOff()
    : shared_(std::make_shared<Sender::Shared>()), waker_(std::make_unique<Waker>(*shared_)) {}

UiHandOff::~UiHandOff() {
    // Closes the queue first, then takes the wake-ups still queued for the waker with it.
    waker_.reset();
}

int UiHandOff::RunPending() {
    return shared_->RunQueued();
}
