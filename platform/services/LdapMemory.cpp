// Allocation functions for liblber that wipe what they release.
#include "platform/services/LdapMemory.h"

#include <lber.h>
#include <malloc.h>

#include <cstdlib>
#include <cstring>

#include "platform/services/Secret.h"

namespace ovdir::ldap {
namespace {

void* Allocate(ber_len_t size, void*) { return std::malloc(size); }

void* AllocateZeroed(ber_len_t count, ber_len_t size, void*) { return std::calloc(count, size); }

void Release(void* block, void*)
{
    if (block == nullptr) return;
    WipeBytes(block, malloc_usable_size(block));
    std::free(block);
}

// As realloc, but the old block is wiped before it goes back to the heap.
void* Resize(void* block, ber_len_t size, void* context)
{
    if (block == nullptr) return std::malloc(size);
    if (size == 0) {
        Release(block, context);
        return nullptr;
    }
    const std::size_t old = malloc_usable_size(block);
    if (size <= old) return block;
    void* fresh = std::malloc(size);
    if (fresh == nullptr) return nullptr;
    std::memcpy(fresh, block, old);
    Release(block, context);
    return fresh;
}

}  // namespace

void WipeLibraryMemoryOnFree()
{
    static const int installed = [] {
        BerMemoryFunctions functions{&Allocate, &AllocateZeroed, &Resize, &Release};
        return ber_set_option(nullptr, LBER_OPT_MEMORY_FNS, &functions);
    }();
    (void)installed;
}

}  // namespace ovdir::ldap
