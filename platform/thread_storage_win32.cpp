// Storage for the module's thread_local variables, the compiler's emulated
// kind (the C++ runtime's exception state is one of them). The runtime's own
// version takes a Windows TLS index on first use and never gives it back, so
// every load and unload of the plug-in cost the host process one of its 1088
// indexes, until TlsAlloc failed and the runtime aborted the host. This one
// holds a single index while the module is loaded and frees it, and every
// thread's variables, when the module is unloaded. The thread library
// linked in has the same leak: its index is found when the module is loaded
// and freed with ours.
#include "platform/thread_storage_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <pthread.h>

namespace {

// The compiler's record of one thread_local variable; index is 0 until the
// variable is first used, then its 1-based place in every thread's block.
struct Variable {
    uintptr_t size;
    uintptr_t align;
    uintptr_t index;
    void* initial;  // the initial bytes, or null for zeros
};

// One thread's variables, linked into the list of all threads' blocks so
// that unloading can free those of threads still running.
struct Block {
    Block* prev;
    Block* next;
    uintptr_t count;
    void* data[1];
};

SRWLOCK lock = SRWLOCK_INIT;  // guards everything below
DWORD tlsIndex = TLS_OUT_OF_INDEXES;
uintptr_t assigned = 0;
Block* blocks = nullptr;

// The thread library's index, when it could be told apart.
DWORD threadLibraryIndex = TLS_OUT_OF_INDEXES;
constexpr DWORD kTlsIndexes = 1088;  // 64 in the thread block, 1024 beside it

Block* allocateBlock(uintptr_t count) {
    void* p = std::calloc(1, sizeof(Block) + (count - 1) * sizeof(void*));
    if (!p) std::abort();  // as the runtime does: a variable cannot be placed
    Block* b = static_cast<Block*>(p);
    b->count = count;
    return b;
}

void link(Block* b) {
    b->prev = nullptr;
    b->next = blocks;
    if (blocks) blocks->prev = b;
    blocks = b;
}

void unlink(Block* b) {
    if (b->prev) b->prev->next = b->next;
    else blocks = b->next;
    if (b->next) b->next->prev = b->prev;
}

void freeBlock(Block* b) {
    for (uintptr_t i = 0; i < b->count; ++i)
        if (b->data[i]) _aligned_free(b->data[i]);
    std::free(b);
}

// The calling thread's block with room for index, made or grown on demand.
Block* blockFor(uintptr_t index, DWORD tls) {
    Block* b = static_cast<Block*>(TlsGetValue(tls));
    if (b && b->count >= index) return b;
    Block* grown = allocateBlock(index + 16);
    AcquireSRWLockExclusive(&lock);
    if (b) {
        std::memcpy(grown->data, b->data, b->count * sizeof(void*));
        unlink(b);
    }
    link(grown);
    ReleaseSRWLockExclusive(&lock);
    std::free(b);  // its variables now belong to grown
    TlsSetValue(tls, grown);
    return grown;
}

// Before the module's constructors, which already use the thread library
// (the unwinder registers its tables under a lock taken once), the loader
// calls this from the module's list of thread callbacks.
void NTAPI noteThreadLibraryIndex(void*, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) return;
    // The thread library takes its index on first use and stores the
    // calling thread's record there: the one index of this thread that
    // pthread_self turns from empty to set is the library's. Other threads
    // cannot set this thread's values, so the comparison is exact; should
    // it not be unambiguous, nothing is freed.
    static void* before[kTlsIndexes];
    const DWORD lastError = GetLastError();
    for (DWORD i = 0; i < kTlsIndexes; ++i) before[i] = TlsGetValue(i);
    (void)pthread_self();
    DWORD found = TLS_OUT_OF_INDEXES;
    int changed = 0;
    for (DWORD i = 0; i < kTlsIndexes; ++i)
        if (!before[i] && TlsGetValue(i)) {
            found = i;
            ++changed;
        }
    if (changed == 1) threadLibraryIndex = found;
    SetLastError(lastError);
}

extern "C" __attribute__((section(".CRT$XLB"), used))
const PIMAGE_TLS_CALLBACK kivNoteThreadLibraryIndex = noteThreadLibraryIndex;

}  // namespace

extern "C" void* __emutls_get_address(void* variable) {
    Variable* v = static_cast<Variable*>(variable);
    // Callers may be between a failed call and GetLastError.
    const DWORD lastError = GetLastError();
    uintptr_t index = __atomic_load_n(&v->index, __ATOMIC_ACQUIRE);
    DWORD tls = __atomic_load_n(&tlsIndex, __ATOMIC_ACQUIRE);
    if (index == 0 || tls == TLS_OUT_OF_INDEXES) {
        AcquireSRWLockExclusive(&lock);
        if (tlsIndex == TLS_OUT_OF_INDEXES) {
            const DWORD made = TlsAlloc();
            if (made == TLS_OUT_OF_INDEXES) std::abort();
            __atomic_store_n(&tlsIndex, made, __ATOMIC_RELEASE);
        }
        tls = tlsIndex;
        index = v->index;
        if (index == 0) {
            index = ++assigned;
            __atomic_store_n(&v->index, index, __ATOMIC_RELEASE);
        }
        ReleaseSRWLockExclusive(&lock);
    }
    Block* b = blockFor(index, tls);
    void*& slot = b->data[index - 1];
    if (!slot) {
        const size_t align = v->align > sizeof(void*) ? v->align : sizeof(void*);
        slot = _aligned_malloc(v->size, align);
        if (!slot) std::abort();
        if (v->initial) std::memcpy(slot, v->initial, v->size);
        else std::memset(slot, 0, v->size);
    }
    SetLastError(lastError);
    return slot;
}

// For common (uninitialised C) thread-local symbols: the largest size and
// alignment seen wins.
extern "C" void __emutls_register_common(void* variable, uintptr_t size, uintptr_t align, void* initial) {
    Variable* v = static_cast<Variable*>(variable);
    if (v->size < size) {
        v->size = size;
        v->initial = nullptr;
    }
    if (v->align < align) v->align = align;
    if (initial && size == v->size) v->initial = initial;
}

namespace platform {

void releaseThreadStorage() {
    const DWORD tls = __atomic_load_n(&tlsIndex, __ATOMIC_ACQUIRE);
    if (tls == TLS_OUT_OF_INDEXES) return;
    Block* b = static_cast<Block*>(TlsGetValue(tls));
    if (!b) return;
    AcquireSRWLockExclusive(&lock);
    unlink(b);
    ReleaseSRWLockExclusive(&lock);
    TlsSetValue(tls, nullptr);
    freeBlock(b);
}

void releaseModuleThreadStorage() {
    AcquireSRWLockExclusive(&lock);
    while (Block* b = blocks) {
        unlink(b);
        freeBlock(b);
    }
    // TlsFree clears the index in every thread.
    if (tlsIndex != TLS_OUT_OF_INDEXES) TlsFree(tlsIndex);
    __atomic_store_n(&tlsIndex, TLS_OUT_OF_INDEXES, __ATOMIC_RELEASE);
    ReleaseSRWLockExclusive(&lock);
    if (threadLibraryIndex != TLS_OUT_OF_INDEXES) TlsFree(threadLibraryIndex);
    threadLibraryIndex = TLS_OUT_OF_INDEXES;
}

}  // namespace platform
