// The standard "zt_dur" and "zt_sock_addr" extensions through the engine, beside a direct call
// of the formatter and a hand-written snprintf of the same text, in the same run.
#include <arpa/inet.h>
#include <cstdio>

#include <benchmark/benchmark.h>

#include "base/ztc/extensions.h"
#include "base/ztc/os/printf.h"
#include "base/ztc/time/time.h"

namespace {

const zt_time_t duration = 1234567890; // "1.23s"

void dur_engine(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(zt_snprintf(buf, sizeof buf, "%p{zt_dur}", &duration));
        benchmark::ClobberMemory();
    }
}

void dur_direct_call(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(zt_printf_cb_zt_dur(&duration, buf, sizeof buf));
        benchmark::ClobberMemory();
    }
}

// What a caller would write by hand for a value known to be in seconds.
void dur_hand_written(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        zt_time_t t = duration;
        benchmark::DoNotOptimize(t);
        const int64_t second = 1000000 * time_internal_clock_mhz;
        benchmark::DoNotOptimize(snprintf(buf, sizeof buf, "%ld.%02lds",
                                          static_cast<long>(t / second),
                                          static_cast<long>(t % second * 100 / second)));
        benchmark::ClobberMemory();
    }
}

zt_sock_addr endpoint() {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(8080);
    inet_pton(AF_INET, "192.168.100.200", &in.sin_addr);
    zt_sock_addr addr;
    zt_sock_addr_from_sockaddr_in(&addr, &in);
    return addr;
}
const zt_sock_addr address = endpoint();

void sock_addr_engine(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(zt_snprintf(buf, sizeof buf, "%p{zt_sock_addr}", &address));
        benchmark::ClobberMemory();
    }
}

void sock_addr_direct_call(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        benchmark::DoNotOptimize(zt_printf_cb_zt_sock_addr(&address, buf, sizeof buf));
        benchmark::ClobberMemory();
    }
}

void sock_addr_hand_written(benchmark::State &state) {
    char buf[256];
    for (auto _ : state) {
        char ip[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &address.in4.sin_addr, ip, sizeof ip);
        benchmark::DoNotOptimize(
            snprintf(buf, sizeof buf, "%s:%d", ip, ntohs(address.in4.sin_port)));
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(dur_hand_written);
BENCHMARK(dur_direct_call);
BENCHMARK(dur_engine);
BENCHMARK(sock_addr_hand_written);
BENCHMARK(sock_addr_direct_call);
BENCHMARK(sock_addr_engine);
BENCHMARK_MAIN();
