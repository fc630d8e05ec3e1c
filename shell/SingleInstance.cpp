#include "shell/SingleInstance.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

namespace {

constexpr const char* kLockName = "/koru.lock";
// A later start says one short word; anything longer is not one of ours.
constexpr size_t kMaxRequest = 64;
// A connection that says nothing must not stay open for ever, nor may many at once take the
// UI thread's time: those beyond the limit are closed at once.
constexpr int kConversationMs = 2000;
constexpr int kMaxConversations = 8;
// A closing program waits this long at most for a start in progress before removing its file.
constexpr std::chrono::milliseconds kCloseLockLimit{200};

// One later start's request and the answer to it, on the UI thread's event loop.
class Conversation : public QObject {
public:
    Conversation(int fd, std::function<void()>& show, QObject* parent)
        : QObject(parent), fd_(fd), show_(show), notifier_(fd, QSocketNotifier::Read) {
        connect(&notifier_, &QSocketNotifier::activated, this, &Conversation::read);
        timer_.setSingleShot(true);
        connect(&timer_, &QTimer::timeout, this, &Conversation::end);
        timer_.start(kConversationMs);
    }
    ~Conversation() override { platform::CloseLocal(fd_); }

private:
    void read() {
        bool ended = false;
        request_ += platform::ReceiveNow(fd_, kMaxRequest, ended);
        const size_t lineEnd = request_.find('\n');
        if (lineEnd != std::string::npos)
            answer(request_.substr(0, lineEnd));
        else if (ended || request_.size() > kMaxRequest)
            end();
    }
    void answer(const std::string& request) {
        if (request + "\n" == SingleInstance::kShowRequest) {
            if (show_)
                show_();
            platform::SendNow(fd_, std::string(SingleInstance::kShownAnswer) + "\n");
        } else {
            platform::SendNow(fd_, "unknown\n");
        }
        end();
    }
    void end() {
        notifier_.setEnabled(false);
        timer_.stop();
        deleteLater();
    }

    const int fd_;
    std::function<void()>& show_;
    QSocketNotifier notifier_;
    QTimer timer_;
    std::string request_;
};

} // namespace

SingleInstance::SingleInstance(std::string folder) : folder_(std::move(folder)) {}

SingleInstance::~SingleInstance() {
    Close();
}

SingleInstance::Outcome SingleInstance::Start() {
    path_ = platform::LocalSocketPath(folder_);
    if (path_.empty())
        return Outcome::Alone;
    // Held while deciding and binding, so that of two starts at the same moment one listens and
    // the other finds it. A lock that cannot be had in time is done without: starting matters more.
    const platform::LocalLock lock(folder_ + kLockName, platform::LocalClock::now() + kLockLimit);
    const platform::LocalReply reply =
        platform::AskLocal(path_, kShowRequest, platform::LocalClock::now() + kAnswerLimit);
    if (reply.outcome == platform::LocalAsk::Answered && reply.line == kShownAnswer)
        return Outcome::ShownByAnother;
    // Whatever did not answer as we do is left from a crash, hangs, or is not ours: it is
    // replaced, so that later starts find this one.
    const bool takeOver = reply.outcome != platform::LocalAsk::Nobody;
    return listener_.Listen(path_, takeOver) ? Outcome::Listening : Outcome::Alone;
}

void SingleInstance::Serve(std::function<void()> show) {
    show_ = std::move(show);
    if (!listener_.Listening() || serving_)
        return;
    serving_ = std::make_unique<QObject>();
    auto* notifier = new QSocketNotifier(listener_.Fd(), QSocketNotifier::Read, serving_.get());
    QObject::connect(notifier, &QSocketNotifier::activated, serving_.get(),
                     [this] { acceptPending(); });
}

void SingleInstance::acceptPending() {
    for (int fd = listener_.Accept(); fd >= 0; fd = listener_.Accept())
        converse(fd);
}

void SingleInstance::converse(int fd) {
    // The folder is the user's own, but a socket may be reached in other ways: only the user
    // (and the administrator) may bring the window up.
    const long peer = platform::PeerUid(fd);
    const bool ours = peer == static_cast<long>(::getuid()) || peer == 0;
    // The listener's notifier is a child too.
    const bool room = serving_->children().size() <= kMaxConversations;
    if (!ours || !room) {
        platform::CloseLocal(fd);
        return;
    }
    new Conversation(fd, show_, serving_.get());
}

void SingleInstance::Close() {
    serving_.reset();
    if (!listener_.Listening())
        return;
    // A start in progress may be about to replace the file; let it finish deciding first.
    const platform::LocalLock lock(folder_ + kLockName,
                                   platform::LocalClock::now() + kCloseLockLimit);
    listener_.Close();
}
