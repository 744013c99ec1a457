// processBlock after prepareToPlay never allocates and never takes a lock, also while every
// parameter moves every block. This file replaces the global operator new and delete and
// interposes the C allocator and the pthread lock functions for the whole test program;
// each counts only on a thread that has switched counting on, so the other tests and
// JUCE's own threads pass straight through.
#include "plugin/PluginProcessor.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <new>
#include <string>

namespace
{
thread_local bool countingHere = false;
std::atomic<long> newCalls { 0 };
std::atomic<long> mallocCalls { 0 };
std::atomic<long> lockCalls { 0 };

void count(std::atomic<long>& counter) noexcept
{
    if (countingHere)
        counter.fetch_add(1, std::memory_order_relaxed);
}

void* allocate(std::size_t size)
{
    count(newCalls);
    if (void* p = std::malloc(size == 0 ? 1 : size))
        return p;
    throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment)
{
    count(newCalls);
    const auto a = static_cast<std::size_t>(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a))
        return p;
    throw std::bad_alloc();
}
} // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    count(newCalls);
    return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    count(newCalls);
    return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

// The C allocator and the lock functions, defined in the program itself so that every call
// through the dynamic linker, from JUCE, the standard library or the plug-in code, lands here
// and goes on to glibc's own implementation.
extern "C"
{
void* __libc_malloc(std::size_t);
void* __libc_calloc(std::size_t, std::size_t);
void* __libc_realloc(void*, std::size_t);
void* __libc_memalign(std::size_t, std::size_t);
void __libc_free(void*);

// glibc keeps the lock functions under these older names too; binding to them avoids
// looking anything up while a lock may already be wanted.
int quillonMutexLock(pthread_mutex_t*);
int quillonMutexTrylock(pthread_mutex_t*);
int quillonRwlockRdlock(pthread_rwlock_t*);
int quillonRwlockWrlock(pthread_rwlock_t*);
__asm__(".symver quillonMutexLock,__pthread_mutex_lock@GLIBC_2.2.5");
__asm__(".symver quillonMutexTrylock,__pthread_mutex_trylock@GLIBC_2.2.5");
__asm__(".symver quillonRwlockRdlock,__pthread_rwlock_rdlock@GLIBC_2.2.5");
__asm__(".symver quillonRwlockWrlock,__pthread_rwlock_wrlock@GLIBC_2.2.5");

void* malloc(std::size_t size) noexcept
{
    count(mallocCalls);
    return __libc_malloc(size);
}
void* calloc(std::size_t n, std::size_t size) noexcept
{
    count(mallocCalls);
    return __libc_calloc(n, size);
}
void* realloc(void* p, std::size_t size) noexcept
{
    count(mallocCalls);
    return __libc_realloc(p, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) noexcept
{
    count(mallocCalls);
    return __libc_memalign(alignment, size);
}
void* memalign(std::size_t alignment, std::size_t size) noexcept
{
    count(mallocCalls);
    return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) noexcept
{
    count(mallocCalls);
    void* p = __libc_memalign(alignment, size);
    if (p == nullptr)
        return ENOMEM;
    *out = p;
    return 0;
}
void free(void* p) noexcept { __libc_free(p); }

int pthread_mutex_lock(pthread_mutex_t* m) noexcept
{
    count(lockCalls);
    return quillonMutexLock(m);
}
int pthread_mutex_trylock(pthread_mutex_t* m) noexcept
{
    count(lockCalls);
    return quillonMutexTrylock(m);
}
int pthread_rwlock_rdlock(pthread_rwlock_t* l) noexcept
{
    count(lockCalls);
    return quillonRwlockRdlock(l);
}
int pthread_rwlock_wrlock(pthread_rwlock_t* l) noexcept
{
    count(lockCalls);
    return quillonRwlockWrlock(l);
}
}

namespace
{
struct Counts
{
    long news = 0;
    long mallocs = 0;
    long locks = 0;
};

// Counts what `work` does on this thread.
template <typename Work>
Counts countDuring(Work&& work)
{
    const long n0 = newCalls.load(), m0 = mallocCalls.load(), l0 = lockCalls.load();
    countingHere = true;
    work();
    countingHere = false;
    return { newCalls.load() - n0, mallocCalls.load() - m0, lockCalls.load() - l0 };
}

// The counters themselves must see what they are meant to catch, or a zero proves nothing.
TEST(AudioThreadCounters, SeeAllocationsAndLocksOnTheCountingThreadOnly)
{
    std::mutex mutex;
    juce::CriticalSection section;
    const Counts seen = countDuring([&] {
        delete new int(7);
        std::free(std::malloc(64));
        juce::HeapBlock<float> block(256);
        const std::lock_guard<std::mutex> lock(mutex);
        const juce::ScopedLock scoped(section);
    });
    EXPECT_EQ(seen.news, 1);
    EXPECT_GE(seen.mallocs, 3); // operator new's own malloc, the plain one and the HeapBlock
    EXPECT_EQ(seen.locks, 2);

    const Counts elsewhere = countDuring([] {});
    delete new int(8);
    EXPECT_EQ(elsewhere.news + elsewhere.mallocs + elsewhere.locks, 0);
}

struct Layout
{
    const char* name;
    double sampleRate;
    int channels;
};

class AudioThread : public ::testing::TestWithParam<Layout>
{
};

void setPlain(QuillonAudioProcessor& p, const char* id, float value)
{
    auto* parameter = p.parameters.getParameter(id);
    parameter->setValueNotifyingHost(parameter->convertTo0to1(value));
}

// Every parameter takes a new value before every block, set through the parameter objects
// between blocks as a host's automation does; the blocks vary in size up to the prepared
// maximum and carry tones, noise, silence and the odd non-finite or huge sample.
TEST_P(AudioThread, ProcessBlockNeitherAllocatesNorLocksWhileEveryParameterMoves)
{
    const Layout setup = GetParam();
    QuillonAudioProcessor p;
    juce::AudioProcessor::BusesLayout layout;
    const auto set = setup.channels == 1 ? juce::AudioChannelSet::mono() : juce::AudioChannelSet::stereo();
    layout.inputBuses.add(set);
    layout.outputBuses.add(set);
    ASSERT_TRUE(p.setBusesLayout(layout));
    constexpr int maxBlock = 512;
    p.prepareToPlay(setup.sampleRate, maxBlock);

    juce::AudioBuffer<float> buffer(setup.channels, maxBlock);
    juce::MidiBuffer midi;
    std::uint64_t rng = 0x9E3779B97F4A7C15ull;
    auto next = [&rng] {
        rng ^= rng << 13;
        rng ^= rng >> 7;
        rng ^= rng << 17;
        return rng;
    };
    auto uniform = [&] { return static_cast<float>(next() >> 40) / 16777216.0f; };

    Counts total;
    long n = 0;
    int modelledBlocks = 0;
    for (int block = 0; block < 1500; ++block)
    {
        const int size = block % 7 == 3 ? 1 + static_cast<int>(next() % maxBlock) : maxBlock;
        buffer.setSize(setup.channels, size, false, false, true);
        const float level = block % 50 < 5 ? 0.0f : std::pow(10.0f, -2.0f * uniform());
        for (int c = 0; c < setup.channels; ++c)
            for (int i = 0; i < size; ++i)
                buffer.setSample(c, i, level * (0.7f * std::sin(0.06f * static_cast<float>(n + i) * (1.0f + c))
                                                + 0.3f * (2.0f * uniform() - 1.0f)));
        if (block % 97 == 13)
            buffer.setSample(0, size / 2, std::nanf(""));
        if (block % 131 == 17)
            buffer.setSample(setup.channels - 1, 0, 1e30f);
        n += size;

        setPlain(p, "peakReduction", 100.0f * uniform());
        setPlain(p, "gain", 100.0f * uniform());
        setPlain(p, "compLimit", static_cast<float>(block % 2));
        setPlain(p, "emphasis", 100.0f * uniform());
        setPlain(p, "meter", static_cast<float>(block % 3));
        setPlain(p, "mix", 100.0f * uniform());
        setPlain(p, "power", block % 23 == 5 ? 0.0f : 1.0f);
        setPlain(p, "bypass", block % 29 == 7 ? 1.0f : 0.0f);

        const Counts c = countDuring([&] { p.processBlock(buffer, midi); });
        total.news += c.news;
        total.mallocs += c.mallocs;
        total.locks += c.locks;
        modelledBlocks += p.getEngineDiagnostics().modelled ? 1 : 0;
    }
    // The counted blocks must have run the model, table rebuilds and all, where it applies.
    if (setup.sampleRate == 48000.0)
        EXPECT_GT(modelledBlocks, 1000);
    EXPECT_EQ(total.news, 0) << "operator new calls in processBlock";
    EXPECT_EQ(total.mallocs, 0) << "C allocator calls in processBlock";
    EXPECT_EQ(total.locks, 0) << "lock calls in processBlock";
}

INSTANTIATE_TEST_SUITE_P(Layouts, AudioThread,
                         ::testing::Values(Layout { "Stereo48k", 48000.0, 2 }, Layout { "Mono48k", 48000.0, 1 },
                                           Layout { "StereoOutsideTheModelDomain", 44100.0, 2 }),
                         [](const ::testing::TestParamInfo<Layout>& info) { return std::string(info.param.name); });
} // namespace
