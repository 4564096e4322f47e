#include "filters/convolution/fft_plans.h"

#include "core/huge_pages.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include <unistd.h>

namespace orvex_fft {
namespace {

std::atomic<int> g_buffersBeforeFailure{-1};
std::atomic<bool> g_failPlanning{false};

// Every call into FFTW's planner (creating, destroying, wisdom) holds this lock.
std::mutex g_plannerMutex;

// A measured plan is worth little more than this much planning; beyond it FFTW keeps the best
// plan found so far.
constexpr double kMeasureSeconds = 0.5;

constexpr std::size_t kAlignment = 64;

constexpr std::size_t kMaxSizes = 16;

// A plane buffer kept after a convolution is given back after this long without one.
constexpr auto kSpareLife = std::chrono::seconds(2);

// Planes are walked down their columns: with small pages nearly every row is a TLB miss, so large
// buffers are mapped for huge pages (as far as the kernel gives them without compacting memory at
// the first touch, which once made a first blur take twice as long as the next), and the planes
// are kept for the next blur.
void* RawAllocate(std::size_t bytes)
{
    if (bytes >= 4 * orvex_memory::kHugePage) return orvex_memory::MapHugeAligned(bytes);
    const std::size_t rounded = (bytes + kAlignment - 1) / kAlignment * kAlignment;
    return std::aligned_alloc(kAlignment, rounded == 0 ? kAlignment : rounded);
}

void PlainDestroy(CPlanSet& set)
{
    for (fftw_plan* p : {&set.rowForward, &set.rowInverse, &set.columnForward, &set.columnInverse,
                         &set.halfBlockForward}) {
        if (*p) fftw_destroy_plan(*p);
        *p = nullptr;
    }
}

// Caller holds g_plannerMutex. Plans on scratch arrays of the same alignment as the real ones, so
// that measuring never touches a caller's data.
std::unique_ptr<CPlanSet> MakePlans(int width, int height, unsigned flags)
{
    auto set = std::make_unique<CPlanSet>();
    set->width = width;
    set->height = height;
    set->halfWidth = width / 2 + 1;
    // Rows start 64-byte aligned like the arrays the plans were made on, whatever SIMD FFTW uses.
    set->rowStride = (2 * set->halfWidth + 7) / 8 * 8;
    const std::size_t rowBytes = sizeof(double) * static_cast<std::size_t>(set->rowStride);
    const std::size_t columnBytes = sizeof(fftw_complex) * static_cast<std::size_t>(height) * kColumnBlock;
    void* row = RawAllocate(rowBytes);
    void* column = RawAllocate(columnBytes);
    bool ok = row && column;
    if (ok) {
        auto* r = static_cast<double*>(row);
        auto* rc = static_cast<fftw_complex*>(row);
        auto* c = static_cast<fftw_complex*>(column);
        const int n[1] = {height};
        set->rowForward = fftw_plan_dft_r2c_1d(width, r, rc, flags);
        set->rowInverse = fftw_plan_dft_c2r_1d(width, rc, r, flags);
        set->columnForward = fftw_plan_many_dft(1, n, kColumnBlock, c, nullptr, 1, height, c, nullptr, 1,
                                                height, FFTW_FORWARD, flags);
        set->columnInverse = fftw_plan_many_dft(1, n, kColumnBlock, c, nullptr, 1, height, c, nullptr, 1,
                                                height, FFTW_BACKWARD, flags);
        set->halfBlockForward = fftw_plan_many_dft(1, n, kColumnBlock / 2, c, nullptr, 1, height, c, nullptr,
                                                   1, height, FFTW_FORWARD, flags);
        ok = set->rowForward && set->rowInverse && set->columnForward && set->columnInverse &&
             set->halfBlockForward;
    }
    FreeBuffer(row);
    FreeBuffer(column);
    if (!ok) {
        PlainDestroy(*set);
        return nullptr;
    }
    return set;
}

std::string WisdomPath(const CPlanningOptions& options)
{
    if (options.wisdomFile == "-") return {};
    if (!options.wisdomFile.empty()) return options.wisdomFile;
    return DefaultWisdomFile();
}

bool g_wisdomLoaded = false; // guarded by g_plannerMutex

// Caller holds g_plannerMutex.
void LoadWisdomOnce(const std::string& path)
{
    if (g_wisdomLoaded) return;
    g_wisdomLoaded = true;
    if (!path.empty()) fftw_import_wisdom_from_filename(path.c_str());
}

// Caller holds g_plannerMutex. Written to a temporary name first so that a second editor reading
// the file meanwhile never sees half of it.
void SaveWisdom(const std::string& path)
{
    if (path.empty()) return;
    std::error_code ec;
    const std::filesystem::path target(path);
    if (target.has_parent_path()) std::filesystem::create_directories(target.parent_path(), ec);
    const std::string temporary = path + ".tmp" + std::to_string(static_cast<long>(getpid()));
    if (fftw_export_wisdom_to_filename(temporary.c_str())) {
        std::filesystem::rename(temporary, target, ec);
        if (ec) std::filesystem::remove(temporary, ec);
    }
}

struct CPlanDeleter
{
    void operator()(CPlanSet* set) const { delete set; }
};

struct CSpare
{
    void* buffer = nullptr;
    std::size_t bytes = 0;
    CSpare() = default;
    CSpare(const CSpare&) = delete;
    CSpare& operator=(const CSpare&) = delete;
    CSpare(CSpare&& other) noexcept { std::swap(buffer, other.buffer); std::swap(bytes, other.bytes); }
    CSpare& operator=(CSpare&& other) noexcept
    {
        std::swap(buffer, other.buffer);
        std::swap(bytes, other.bytes);
        return *this;
    }
    ~CSpare() { FreeBuffer(buffer); }
};

class CPlanCache
{
public:
    ~CPlanCache()
    {
        {
            std::lock_guard lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        if (m_worker.joinable()) m_worker.join();
        decltype(m_plans) plans;
        {
            std::lock_guard lock(m_mutex);
            plans.swap(m_plans);
        }
    }

    std::shared_ptr<const CPlanSet> Get(int width, int height)
    {
        CPlanningOptions options;
        {
            std::lock_guard lock(m_mutex);
            const auto it = m_plans.find({width, height});
            if (it != m_plans.end()) return it->second;
            options = m_options;
        }
        std::unique_ptr<CPlanSet> made;
        {
            std::lock_guard planner(g_plannerMutex);
            LoadWisdomOnce(WisdomPath(options));
            made = MakePlans(width, height, FFTW_MEASURE | FFTW_WISDOM_ONLY);
            if (made) {
                made->measured = true;
            } else {
                made = MakePlans(width, height, FFTW_ESTIMATE);
            }
        }
        if (!made) return nullptr;
        std::shared_ptr<const CPlanSet> result(made.release(), CPlanDeleter());
        std::shared_ptr<const CPlanSet> loser;
        {
            std::lock_guard lock(m_mutex);
            auto& slot = m_plans[{width, height}];
            if (slot) {
                loser = std::move(result);
                result = slot;
            } else {
                slot = result;
                // A bound on what a long session of many picture sizes keeps: the other sizes'
                // plans are made again if needed (from wisdom, at once).
                if (m_plans.size() > kMaxSizes) {
                    auto victim = m_plans.begin();
                    if (victim->first == std::make_pair(width, height)) ++victim;
                    loser = std::move(victim->second);
                    m_plans.erase(victim);
                }
                if (!result->measured && m_options.measureInBackground) {
                    m_queue.emplace_back(width, height);
                    StartWorker();
                    m_wake.notify_one();
                }
            }
        }
        return result;
    }

    void SetOptions(const CPlanningOptions& options)
    {
        std::lock_guard lock(m_mutex);
        m_options = options;
    }

    void WaitIdle()
    {
        std::unique_lock lock(m_mutex);
        m_idle.wait(lock, [this] { return m_queue.empty() && !m_busy; });
    }

    void Busy(int delta)
    {
        {
            std::lock_guard lock(m_mutex);
            m_active += delta;
            m_lastUse = std::chrono::steady_clock::now();
        }
        if (delta < 0) m_wake.notify_all();
    }

    void Drop()
    {
        decltype(m_plans) plans;
        CSpare spare;
        std::lock_guard lock(m_mutex);
        plans.swap(m_plans);
        std::swap(spare, m_spare);
    }

    // The spare buffer if it is big enough and not far bigger than needed.
    void* TakeSpare(std::size_t bytes)
    {
        CSpare spare;
        {
            std::lock_guard lock(m_mutex);
            std::swap(spare, m_spare);
        }
        if (spare.buffer && spare.bytes >= bytes && spare.bytes <= bytes + bytes / 4) {
            void* buffer = spare.buffer;
            spare.buffer = nullptr;
            return buffer;
        }
        return nullptr; // the unsuitable one is freed here, before a new one is had
    }

    void GiveSpare(void* buffer, std::size_t bytes)
    {
        CSpare spare;
        spare.buffer = buffer;
        spare.bytes = bytes;
        {
            std::lock_guard lock(m_mutex);
            std::swap(spare, m_spare);
            m_lastUse = std::chrono::steady_clock::now();
            StartWorker();
        }
        m_wake.notify_one();
    }

private:
    // Caller holds m_mutex. A thread that cannot be had now (the system's limit) is tried again by
    // the next call: meanwhile sizes wait in the queue and the spare buffer is kept, which costs a
    // blur nothing, whereas an exception here would end the process (one caller is a destructor).
    void StartWorker() noexcept
    {
        if (m_worker.joinable()) return;
        try {
            m_worker = std::thread([this] { Work(); });
        } catch (const std::exception&) { // std::system_error, or std::bad_alloc for its state
        }
    }

    void Work()
    {
        for (;;) {
            std::pair<int, int> size;
            std::string wisdom;
            {
                std::unique_lock lock(m_mutex);
                // Measuring runs transforms on both cores: it waits until no convolution is using
                // them, so that it never slows down the blur that asked for it.
                for (;;) {
                    if (m_quit) return;
                    if (m_active == 0 && m_spare.buffer && std::chrono::steady_clock::now() - m_lastUse > kSpareLife) {
                        CSpare spare;
                        std::swap(spare, m_spare);
                        lock.unlock();
                        spare = CSpare();
                        lock.lock();
                        continue;
                    }
                    if (!m_queue.empty() && m_active == 0) break;
                    m_wake.wait_for(lock, std::chrono::milliseconds(100));
                }
                size = m_queue.front();
                m_queue.pop_front();
                m_busy = true;
                wisdom = WisdomPath(m_options);
            }
            std::unique_ptr<CPlanSet> made;
            {
                std::lock_guard planner(g_plannerMutex);
                fftw_set_timelimit(kMeasureSeconds);
                made = MakePlans(size.first, size.second, FFTW_MEASURE);
                fftw_set_timelimit(FFTW_NO_TIMELIMIT);
                if (made) SaveWisdom(wisdom);
            }
            std::shared_ptr<const CPlanSet> replaced;
            {
                std::lock_guard lock(m_mutex);
                if (made) {
                    made->measured = true;
                    auto& slot = m_plans[size];
                    replaced = std::move(slot);
                    slot = std::shared_ptr<const CPlanSet>(made.release(), CPlanDeleter());
                }
                m_busy = false;
            }
            replaced.reset(); // may take the planner lock: never under m_mutex
            m_idle.notify_all();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::map<std::pair<int, int>, std::shared_ptr<const CPlanSet>> m_plans;
    std::deque<std::pair<int, int>> m_queue;
    CPlanningOptions m_options;
    bool m_busy = false;
    bool m_quit = false;
    int m_active = 0; // convolutions running now
    std::chrono::steady_clock::time_point m_lastUse;
    CSpare m_spare;
    std::thread m_worker;
};

CPlanCache& Cache()
{
    static CPlanCache cache;
    return cache;
}

} // namespace

CPlanSet::~CPlanSet()
{
    // A set that never got its plans (or gave them up under the lock already) needs no lock.
    if (!rowForward && !rowInverse && !columnForward && !columnInverse && !halfBlockForward) return;
    std::lock_guard planner(g_plannerMutex);
    PlainDestroy(*this);
}

std::shared_ptr<const CPlanSet> PlansFor(int width, int height)
{
    if (width < 2 || height < 2 || g_failPlanning.load()) return nullptr;
    try {
        return Cache().Get(width, height);
    } catch (const std::bad_alloc&) {
        return nullptr; // the cache's own bookkeeping: the caller reports it like a failed plan
    }
}

CConvolutionRunning::CConvolutionRunning()
{
    Cache().Busy(1);
}

CConvolutionRunning::~CConvolutionRunning()
{
    Cache().Busy(-1);
}

void SetPlanningOptions(const CPlanningOptions& options)
{
    Cache().SetOptions(options);
}

void WaitForBackgroundPlanning()
{
    Cache().WaitIdle();
}

void DropCachedPlans()
{
    Cache().Drop();
}

CPlaneBuffer::CPlaneBuffer(std::size_t bytes) : m_bytes(bytes)
{
    m_data = static_cast<double*>(Cache().TakeSpare(bytes));
    if (!m_data) m_data = static_cast<double*>(AllocateBuffer(bytes));
}

CPlaneBuffer::~CPlaneBuffer()
{
    if (m_data) Cache().GiveSpare(m_data, m_bytes);
}

std::string DefaultWisdomFile()
{
    // Test and benchmark runs name a file of their own, so that they never read or rewrite the
    // user's ("-": no file at all).
    if (const char* own = std::getenv("ORVEX_FFT_WISDOM"); own && own[0]) return std::string(own) == "-" ? std::string() : std::string(own);
    std::filesystem::path base;
    if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home && home[0]) {
        base = std::filesystem::path(home) / ".cache";
    } else {
        return {};
    }
    return (base / "orvex" / "fftw-wisdom").string();
}

void* AllocateBuffer(std::size_t bytes)
{
    int left = g_buffersBeforeFailure.load();
    while (left >= 0) {
        if (left == 0) return nullptr;
        if (g_buffersBeforeFailure.compare_exchange_weak(left, left - 1)) break;
    }
    return RawAllocate(bytes);
}

void FreeBuffer(void* buffer)
{
    if (!buffer || orvex_memory::Unmap(buffer)) return;
    std::free(buffer);
}

} // namespace orvex_fft

void orvex_testing::FailFftBuffersAfter(int allocations)
{
    orvex_fft::g_buffersBeforeFailure.store(allocations < 0 ? -1 : allocations);
}

void orvex_testing::FailFftPlanning(bool fail)
{
    orvex_fft::g_failPlanning.store(fail);
}
