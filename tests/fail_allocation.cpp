// Preloaded (LD_PRELOAD) into a dynamically linked huemill: makes one
// allocation fail, the one HUEMILL_TEST_FAIL_ALLOCATION counts to (1 for
// the first after the program is loaded), as if memory ran out there, and
// writes how many allocations the run made into the file
// HUEMILL_TEST_ALLOCATIONS names, as it ends normally. Allocations made
// before it is loaded (by the dynamic loader) are not counted.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
}

namespace {

unsigned long made = 0;
unsigned long fail_at = 0;
bool armed = false;

// Whether this allocation is the one to fail.
bool fails() {
    if (!armed || ++made != fail_at) {
        return false;
    }
    errno = ENOMEM;
    return true;
}

__attribute__((constructor)) void arm() {
    const char* at = std::getenv("HUEMILL_TEST_FAIL_ALLOCATION");
    fail_at = at != nullptr ? std::strtoul(at, nullptr, 10) : 0;
    armed = true;
}

__attribute__((destructor)) void tell() {
    const char* path = std::getenv("HUEMILL_TEST_ALLOCATIONS");
    if (path == nullptr) {
        return;
    }
    char digits[32];
    const char* const end = std::to_chars(digits, digits + sizeof digits, made).ptr;
    const int file = open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file >= 0) {
        const ssize_t written = write(file, digits, static_cast<std::size_t>(end - digits));
        static_cast<void>(written);
        close(file);
    }
}

}  // namespace

extern "C" {

void* malloc(std::size_t size) { return fails() ? nullptr : __libc_malloc(size); }

void* calloc(std::size_t count, std::size_t size) {
    return fails() ? nullptr : __libc_calloc(count, size);
}

void* realloc(void* memory, std::size_t size) {
    return fails() ? nullptr : __libc_realloc(memory, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
    return fails() ? nullptr : __libc_memalign(alignment, size);
}

int posix_memalign(void** memory, std::size_t alignment, std::size_t size) {
    if (fails()) {
        return ENOMEM;
    }
    *memory = __libc_memalign(alignment, size);
    return *memory != nullptr ? 0 : ENOMEM;
}
}
