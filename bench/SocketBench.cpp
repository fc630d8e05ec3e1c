// Socket object over loopback between two threads: connection cycles and streaming throughput.
// Run: build/bench/koru_bench_sockets
#include "net/WSocket.h"
#include "platform/ThreadPump.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <future>
#include <thread>

namespace {

constexpr int kChunk = 4096;
constexpr int kChunksPerIteration = 256; // 1 MiB

void PumpUntil(const std::function<bool()>& done) {
    while (!done())
        platform::WaitThreadEvents(100);
}

// A listener on its own thread. Every connection is adopted there; in "close" mode it is closed
// at once, otherwise its bytes are counted.
class ServerThread {
public:
    explicit ServerThread(bool closeAtOnce) : closeAtOnce_(closeAtOnce) {
        std::promise<uint16_t> port;
        auto ready = port.get_future();
        thread_ = std::thread([this, &port] { Run(port); });
        port_ = ready.get();
    }
    ~ServerThread() {
        stop_ = true;
        thread_.join();
    }
    ServerThread(const ServerThread&) = delete;
    ServerThread& operator=(const ServerThread&) = delete;

    uint16_t port() const { return port_; }
    // Blocks until at least total bytes have arrived.
    void AwaitReceived(int64_t total) const {
        for (int64_t seen = received_.load(); seen < total; seen = received_.load())
            received_.wait(seen);
    }

private:
    void Run(std::promise<uint16_t>& port) {
        TWSocket listener;
        TWSocket peer;
        peer.SetMultiThreaded(true);
        peer.OnDataAvailable = [this](TCustomWSocket* s, uint16_t) {
            char buf[65536];
            const int n = s->Receive(buf, sizeof buf);
            if (n > 0) {
                received_ += n;
                received_.notify_all();
            }
        };
        listener.OnSessionAvailable = [&](TCustomWSocket* s, uint16_t) {
            peer.Dup(s->Accept());
            if (closeAtOnce_)
                peer.Close();
        };
        listener.SetPort("0");
        listener.SetAddr("127.0.0.1");
        listener.Listen();
        port.set_value(static_cast<uint16_t>(std::stoi(listener.GetLocalPort())));
        while (!stop_)
            platform::WaitThreadEvents(50);
    }

    const bool closeAtOnce_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> received_{0};
    uint16_t port_ = 0;
    std::thread thread_;
};

void BM_ConnectAdoptClose(benchmark::State& state) {
    ServerThread server(true);
    const std::string port = std::to_string(server.port());
    TWSocket client;
    client.SetMultiThreaded(true);
    for (auto _ : state) {
        client.SetAddr("127.0.0.1");
        client.SetPort(port);
        client.Connect();
        PumpUntil([&] { return client.State() == wsClosed; });
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ConnectAdoptClose)->UseRealTime()->MinTime(2.0);

// Each iteration sends 1 MiB in 4096-byte Sends, waiting for OnDataSent after each as the
// server's workers do. With drainEach, an iteration also waits until the receiver has all of it,
// so the tail of every burst pays the transport's small-segment delay; without, the stream flows
// and only the end of the run waits.
void Send4096(benchmark::State& state, bool drainEach) {
    ServerThread server(false);
    TWSocket client;
    client.SetMultiThreaded(true);
    bool sent = false;
    client.OnDataSent = [&](TCustomWSocket*, uint16_t) { sent = true; };
    client.SetAddr("127.0.0.1");
    client.SetPort(std::to_string(server.port()));
    client.Connect();
    PumpUntil([&] { return client.State() == wsConnected && sent; });
    const std::string chunk(kChunk, 'k');
    int64_t total = 0;
    for (auto _ : state) {
        for (int i = 0; i < kChunksPerIteration; ++i) {
            sent = false;
            client.Send(chunk.data(), kChunk);
            PumpUntil([&] { return sent; });
        }
        total += int64_t{kChunk} * kChunksPerIteration;
        if (drainEach)
            server.AwaitReceived(total);
    }
    server.AwaitReceived(total);
    state.SetBytesProcessed(total);
}

void BM_Send4096Drained(benchmark::State& state) {
    Send4096(state, true);
}
BENCHMARK(BM_Send4096Drained)->UseRealTime()->MinTime(2.0);

void BM_Send4096Streaming(benchmark::State& state) {
    Send4096(state, false);
}
BENCHMARK(BM_Send4096Streaming)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_NO_THREADED_GLIB", "1", 0);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
