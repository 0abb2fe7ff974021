// Loaded into every office process (LD_PRELOAD): the C library's allocation functions, which say once on
// standard error when an allocation fails. An office that runs into its memory limit mostly does not say
// so itself (it drops a picture, or crashes on the null it got), so this line in its log is how the program
// knows why the office failed its deck.
#include <cerrno>
#include <cstddef>
#include <unistd.h>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);

namespace {

int told = 0;

void tell()
{
    if (__atomic_exchange_n(&told, 1, __ATOMIC_RELAXED) == 0) {
        static const char text[] = "\nvellum-office-memory: an allocation failed: out of memory\n";
        if (write(2, text, sizeof text - 1) < 0) {
            // Nothing to do: the office's log is all there is.
        }
    }
}

} // namespace

void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    if (!block && size)
        tell();
    return block;
}

void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    if (!block && count && size)
        tell();
    return block;
}

void* realloc(void* old, size_t size)
{
    void* block = __libc_realloc(old, size);
    if (!block && size)
        tell();
    return block;
}

void* memalign(size_t alignment, size_t size)
{
    void* block = __libc_memalign(alignment, size);
    if (!block && size)
        tell();
    return block;
}

void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0)
        return EINVAL;
    void* block = memalign(alignment, size);
    if (!block && size)
        return ENOMEM;
    *out = block;
    return 0;
}
}
