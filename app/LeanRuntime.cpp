// The stub raises no exceptions. The C++ library's containers still name their throw helpers and the
// throwing operator new; defining them here, in the executable, keeps the library's exception
// machinery (and the unwinder and threading support it drags in) out of the image. Running out of
// memory or breaking a container's limits ends the process at once, as an uncaught exception would.
#include <cstdlib>
#include <new>

namespace std {
[[noreturn]] void __throw_bad_alloc() { abort(); }
[[noreturn]] void __throw_bad_array_new_length() { abort(); }
[[noreturn]] void __throw_length_error(const char*) { abort(); }
[[noreturn]] void __throw_logic_error(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range(const char*) { abort(); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { abort(); }
[[noreturn]] void __throw_invalid_argument(const char*) { abort(); }
[[noreturn]] void __throw_bad_function_call() { abort(); }
[[noreturn]] void __throw_system_error(int) { abort(); }
[[noreturn]] void __throw_runtime_error(const char*) { abort(); }
[[noreturn]] void __throw_bad_cast() { abort(); }
}  // namespace std

void* operator new(std::size_t n) {
  if (void* p = std::malloc(n ? n : 1)) return p;
  std::abort();
}
void* operator new[](std::size_t n) { return operator new(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return std::malloc(n ? n : 1); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { std::free(p); }
