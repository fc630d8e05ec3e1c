// Socket object over loopback between two threads: connection cycles and streaming throughput.
// Run: build/bench/koru_bench_sockets
#include "net/WSocket.h"

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
    int64_t received() const { return received_.load(); }

private:
    void Run(std::promise<uint16_t>& port) {
        TWSocket listener;
        TWSocket peer;
        peer.SetMultiThreaded(true);
        peer.OnDataAvailable = [this](TCustomWSocket* s, uint16_t) {
            char buf[65536];
            const int n = s->Receive(buf, sizeof buf);
            if (n > 0)
                received_ += n;
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

void BM_Send4096(benchmark::State& state) {
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
        while (server.received() < total)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    state.SetBytesProcessed(total);
}
BENCHMARK(BM_Send4096)->UseRealTime()->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_NO_THREADED_GLIB", "1", 0);
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
