#include "web/http.h"

#include "tests/support/loopback_server.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

namespace {

using kelvora::testsupport::Close;
using kelvora::testsupport::LoopbackServer;
using kelvora::testsupport::Script;
using kelvora::testsupport::Send;
using kelvora::testsupport::SendRepeated;

// 64,000,000 bytes: large, yet below the 64 MiB body bound.
constexpr std::size_t kBlock = 64000;
constexpr std::size_t kBlocks = 1000;
constexpr std::size_t kBodySize = kBlock * kBlocks;

Script bigPage(bool announceLength)
{
    const std::string head = announceLength
        ? "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kBodySize) + "\r\n\r\n"
        : std::string("HTTP/1.1 200 OK\r\n\r\n");
    return {Send(head), SendRepeated(std::string(kBlock, 'x'), kBlocks), Close()};
}

void download(benchmark::State &state)
{
    LoopbackServer server(bigPage(state.range(0) != 0));
    const std::string url = server.url("/big");
    for (auto _ : state) {
        std::string buffer;
        kelvora::HttpGet(url, buffer, 80);
        if (buffer.size() != kBodySize) {
            state.SkipWithError("short body");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBodySize));
}

} // namespace

BENCHMARK(download)->ArgName("length")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// "--serve SECONDS" serves the same 64,000,000-byte page (with its length)
// for that long and prints its address, so another client (curl) can be
// measured against the same server.
int main(int argc, char **argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--serve") == 0) {
        LoopbackServer server(bigPage(true));
        std::printf("%s\n", server.url("/big").c_str());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::seconds(std::atoi(argv[2])));
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
