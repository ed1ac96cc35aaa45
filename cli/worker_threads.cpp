#include "cli/worker_threads.h"

#include <pthread.h>
#include <sys/mman.h>
#include <tbb/cache_aligned_allocator.h>
#include <tbb/parallel_for.h>
#include <tbb/partitioner.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace lumora::cli {

namespace {

// The stack of a probing thread when the pool names none.
constexpr size_t kDefaultStackBytes = 4 * 1024 * 1024;

// What a worker of the pool allocates as it starts, and then some.
constexpr size_t kWorkerStartBytes = 64 * 1024;

// Holds the probing threads until every one that could start has started,
// so that they all exist at once; a thread that finds no memory for its
// start says so and ends.
struct Gate {
  std::mutex mutex;
  std::condition_variable opened;
  bool open = false;
  std::atomic<int> withoutMemory{0};
};

// The memory a worker of the pool takes as it starts, from the pool's own
// allocator (which keeps it for the workers after this thread ends) and
// from the C library's.
bool TakeWorkerMemory() {
  try {
    tbb::cache_aligned_allocator<char> pool;
    char* own = pool.allocate(kWorkerStartBytes);
    pool.deallocate(own, kWorkerStartBytes);
    std::vector<char> heap(kWorkerStartBytes);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void* WaitAtGate(void* argument) {
  Gate& gate = *static_cast<Gate*>(argument);
  if (!TakeWorkerMemory()) {
    gate.withoutMemory.fetch_add(1);
    return nullptr;
  }
  std::unique_lock lock(gate.mutex);
  gate.opened.wait(lock, [&gate] { return gate.open; });
  return nullptr;
}

}  // namespace

// A thread stack of our own, given back in full when the probe ends: stacks
// the C library made would stay in its cache and hold the address space
// the batch needs when it gets fewer workers than it asked for.
class ProbeStack {
 public:
  explicit ProbeStack(size_t bytes) : bytes_(bytes) {
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE,
                        MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    base_ = memory == MAP_FAILED ? nullptr : memory;
  }
  ~ProbeStack() {
    if (base_) munmap(base_, bytes_);
  }
  ProbeStack(const ProbeStack&) = delete;
  ProbeStack& operator=(const ProbeStack&) = delete;

  void* base() const { return base_; }

 private:
  size_t bytes_;
  void* base_ = nullptr;
};

int StartableThreads(int wanted, size_t stackSize) {
  if (stackSize == 0) stackSize = kDefaultStackBytes;
  // Reserved first: a failed allocation between two threads would leave
  // the started ones waiting for ever.
  const size_t probes = wanted > 1 ? static_cast<size_t>(wanted) - 1 : 0;
  std::vector<pthread_t> started;
  started.reserve(probes);
  std::vector<std::unique_ptr<ProbeStack>> stacks;
  stacks.reserve(probes);
  Gate gate;
  for (size_t i = 0; i < probes; ++i) {
    auto stack = std::make_unique<ProbeStack>(stackSize);
    if (!stack->base()) break;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) break;
    pthread_attr_setstack(&attributes, stack->base(), stackSize);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, WaitAtGate, &gate);
    pthread_attr_destroy(&attributes);
    if (error != 0) break;
    started.push_back(thread);
    stacks.push_back(std::move(stack));
  }
  {
    const std::lock_guard lock(gate.mutex);
    gate.open = true;
  }
  gate.opened.notify_all();
  for (pthread_t thread : started) pthread_join(thread, nullptr);
  return 1 + static_cast<int>(started.size()) - gate.withoutMemory.load();
}

void StartWorkers(tbb::task_arena& arena, int threads) {
  constexpr auto kLongestWait = std::chrono::milliseconds(200);
  std::atomic<int> arrived{0};
  arena.execute([&] {
    // Each task waits for the others, so that each takes a thread of its own.
    tbb::parallel_for(
        0, threads,
        [&](int) {
          arrived.fetch_add(1);
          const auto until = std::chrono::steady_clock::now() + kLongestWait;
          while (arrived.load() < threads && std::chrono::steady_clock::now() < until)
            std::this_thread::yield();
        },
        tbb::static_partitioner());
  });
}

}  // namespace lumora::cli
