#include "crashstack.h"

#include <cerrno>
#include <dlfcn.h>
#include <new>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

namespace {

// Owned by its thread; unmapped (after switching it off) when the thread ends.
struct SignalStack
{
    void *mapping = nullptr;
    size_t mappingBytes = 0;
    ~SignalStack()
    {
        if (!mapping)
            return;
        stack_t off{};
        off.ss_flags = SS_DISABLE;
        sigaltstack(&off, nullptr);
        munmap(mapping, mappingBytes);
    }
};

thread_local SignalStack tSignalStack;

struct ThreadStart
{
    void *(*routine)(void *);
    void *argument;
};

void *startWithSignalStack(void *raw)
{
    const ThreadStart start = *static_cast<ThreadStart *>(raw);
    delete static_cast<ThreadStart *>(raw);
    installCrashSignalStack();
    return start.routine(start.argument);
}

} // namespace

bool installCrashSignalStack()
{
    if (tSignalStack.mapping)
        return true;
    // One as large as ours (somebody else's) stays; a smaller one (a sanitizer's few pages, too small
    // for the report) is replaced, and stays its owner's to free.
    stack_t current{};
    if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
        current.ss_size >= kCrashSignalStackBytes)
        return true;
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    // One page below the stack stays unmapped for writing: a handler that outgrows its stack faults
    // there instead of writing over whatever lies below.
    const size_t bytes = kCrashSignalStackBytes + page;
    void *mapping =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mapping == MAP_FAILED)
        return false;
    mprotect(mapping, page, PROT_NONE);
    stack_t stack{};
    stack.ss_sp = static_cast<char *>(mapping) + page;
    stack.ss_size = kCrashSignalStackBytes;
    if (sigaltstack(&stack, nullptr) != 0) {
        munmap(mapping, bytes);
        return false;
    }
    tSignalStack.mapping = mapping;
    tSignalStack.mappingBytes = bytes;
    return true;
}

// Every thread of the process starts here (the definition in the program takes the place of the C
// library's); the next definition in line (the C library's, or a sanitizer's) then starts it.
extern "C" int pthread_create(pthread_t *thread, const pthread_attr_t *attributes, void *(*routine)(void *),
                              void *argument)
{
    using Create = int (*)(pthread_t *, const pthread_attr_t *, void *(*)(void *), void *);
    static const Create next = reinterpret_cast<Create>(dlsym(RTLD_NEXT, "pthread_create"));
    if (!next)
        return EAGAIN;
    auto *start = new (std::nothrow) ThreadStart{routine, argument};
    if (!start)
        return next(thread, attributes, routine, argument);
    const int result = next(thread, attributes, &startWithSignalStack, start);
    if (result != 0)
        delete start;
    return result;
}
