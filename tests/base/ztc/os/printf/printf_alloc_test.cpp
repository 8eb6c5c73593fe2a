// The engine's heap use, seen through an interposed malloc and free: nothing
// after a thread's first call, everything released when the thread ends, and
// an orderly abort when memory runs out.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "base/ztc/os/printf.h"

// A sanitizer owns malloc and free itself; these tests run in plain builds.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ALLOCATOR_INTERPOSED 0
#elif defined(__has_feature)
#define ALLOCATOR_INTERPOSED !(__has_feature(address_sanitizer) || __has_feature(thread_sanitizer))
#else
#define ALLOCATOR_INTERPOSED 1
#endif

#define SKIP_WITHOUT_INTERPOSER()                                                                  \
    if (!ALLOCATOR_INTERPOSED) GTEST_SKIP() << "malloc belongs to the sanitizer"

namespace {

// Per thread: how many allocations to count, to refuse, or to remember.
thread_local bool counting;
thread_local long allocations;
thread_local int serve_before_refusal = -1; // refusals start after this many more allocations
thread_local int refusals;
thread_local bool remembering;
std::atomic<int> remembered_count, remembered_freed;

} // namespace

#if ALLOCATOR_INTERPOSED
namespace {

using MallocFn = void *(*)(size_t);
using FreeFn = void (*)(void *);
MallocFn real_malloc;
FreeFn real_free;

// dlsym may allocate while the real functions are looked up.
alignas(16) char bootstrap[4096];
size_t bootstrap_used;
bool resolving;

bool from_bootstrap(void *p) {
    return static_cast<char *>(p) >= bootstrap &&
           static_cast<char *>(p) < bootstrap + sizeof bootstrap;
}

void resolve() {
    resolving = true;
    real_free = reinterpret_cast<FreeFn>(dlsym(RTLD_NEXT, "free"));
    real_malloc = reinterpret_cast<MallocFn>(dlsym(RTLD_NEXT, "malloc"));
    resolving = false;
}

constexpr int REMEMBERED = 8;
std::atomic<void *> remembered[REMEMBERED];

} // namespace

// Zeroed allocations go through malloc too, so the compiler's turning a
// malloc and a clearing into calloc changes nothing here.
extern "C" void *malloc(size_t size) {
    if (real_malloc == nullptr) {
        if (resolving) {
            void *p = bootstrap + bootstrap_used;
            bootstrap_used += (size + 15) & ~size_t{15};
            return p;
        }
        resolve();
    }
    if (serve_before_refusal == 0 && refusals > 0) {
        --refusals;
        return nullptr;
    }
    if (serve_before_refusal > 0) --serve_before_refusal;
    allocations += counting;
    void *p = real_malloc(size);
    if (remembering && remembered_count < REMEMBERED) remembered[remembered_count++] = p;
    return p;
}

extern "C" void *calloc(size_t count, size_t size) {
    if (size != 0 && count > SIZE_MAX / size) return nullptr;
    void *p = malloc(count * size);
    if (p != nullptr && !from_bootstrap(p)) memset(p, 0, count * size);
    return p;
}

extern "C" void free(void *p) {
    if (p == nullptr || from_bootstrap(p)) return;
    for (int i = 0; i < remembered_count; ++i) {
        void *expected = p;
        if (remembered[i].compare_exchange_strong(expected, nullptr)) ++remembered_freed;
    }
    if (real_free == nullptr) resolve();
    real_free(p);
}
#endif

namespace {

int nested(const void *value, char *buf, size_t size) {
    return zt_snprintf(buf, size, "[%ls %d]", L"n\u00e9", *static_cast<const int *>(value));
}

// Formats that reach every kind of per-call work.
void format_everything(int n) {
    char buf[512];
    errno = EINTR;
    zt_snprintf(buf, sizeof buf, "%d %s %ls %lc %m %p{alloc_nested} %2$s", n, "s", L"w", L'c', &n);
    zt_snprintf(buf, sizeof buf, "%1$*2$.*3$f %1$e %4$I64d %5$p{alloc_nested}", 3.5, 8, 2,
                1LL << 40, &n);
    zt_snprintf(buf, 4, "%--d", n);
    wchar_t wide[64];
    zt_swprintf(wide, 64, "%s=%d", "w", n);
}

TEST(PrintfAllocation, NothingAfterTheFirstCallOfAThread) {
    SKIP_WITHOUT_INTERPOSER();
    ASSERT_EQ(zt_printf_register("alloc_nested", nested), ERROR_SUCCESS);
    long after_first = -1, first = -1;
    std::thread([&] {
        counting = true;
        format_everything(0);
        first = std::exchange(allocations, 0);
        for (int n = 1; n < 100; ++n) format_everything(n);
        after_first = allocations;
    }).join();
    EXPECT_GT(first, 0);
    EXPECT_EQ(after_first, 0);
}

TEST(PrintfAllocation, ThreadEndReleasesItsMemory) {
    SKIP_WITHOUT_INTERPOSER();
    remembered_count = remembered_freed = 0;
    std::thread([] {
        remembering = true;
        format_everything(1);
        remembering = false;
    }).join();
    EXPECT_EQ(remembered_count, 3);
    EXPECT_EQ(remembered_freed, remembered_count);
}

// Above 16 KiB the wide entry point's scratch comes from the heap; without it the call fails.
TEST(PrintfAllocation, WideScratchFromAnEmptyHeapFails) {
    SKIP_WITHOUT_INTERPOSER();
    std::thread([] {
        std::vector<wchar_t> out(5000, L'#');
        char warm[8];
        zt_snprintf(warm, sizeof warm, "%d", 1); // the thread's engine memory, from the heap
        serve_before_refusal = 0;
        refusals = 1;
        EXPECT_EQ(zt_swprintf(out.data(), out.size(), "%d", 7), -1);
        EXPECT_EQ(refusals, 0);
        EXPECT_EQ(out[0], L'#');
        EXPECT_EQ(zt_swprintf(out.data(), out.size(), "%d", 7), 1);
    }).join();
}

TEST(PrintfAllocationDeathTest, LostMemoryIsReportedThenAborts) {
    SKIP_WITHOUT_INTERPOSER();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    struct Loss {
        int served; // allocations of the thread's first call served before the refusals
        int refusals;
        const char *report;
    };
    const Loss losses[] = {
        {0, 1, "Assert failed: recursion_count != NULL:.*About to abort/crash"},
        {1, 1, "Assert failed: args != NULL:.*About to abort/crash"},
        {2, 1, "Assert failed: mbsbuffer != NULL:.*About to abort/crash"},
        // The report's own formatting finds no memory either: it must not recurse.
        {0, 1000, "Assert failed: recursion_count != NULL:"},
        {1, 1000, "Assert failed: args != NULL:"},
    };
    for (const Loss &loss : losses) {
        EXPECT_EXIT(std::thread([&] {
                        serve_before_refusal = loss.served;
                        refusals = loss.refusals;
                        char buf[64];
                        zt_snprintf(buf, sizeof buf, "%d", 1);
                    }).join(),
                    testing::KilledBySignal(SIGABRT), loss.report)
            << loss.report;
    }
}

} // namespace
