// Extensible string: a growable byte string with a validity marker and a
// replaceable error reporter. Every operation checks that its Estr is alive,
// reports misuse and exhausted memory through the reporter and returns a
// status (0 success, 1 failure) or null instead of stopping the program.
#ifndef TESSEL_ESTR_H
#define TESSEL_ESTR_H

#include <cstddef>
#include <cstdint>

struct Estr;

// The reporter receives one message without a line end; it must not be null
// when called (estr_install_error_reporter never installs null).
using EstrReporter = void (*)(const char* message);

// A new empty Estr of capacity 32; null (after a report) when memory runs out.
[[nodiscard]] Estr* estr_construct();
// A new empty Estr of capacity max(wanted, 32); null after a report on failure.
[[nodiscard]] Estr* estr_construct_n(std::uint32_t wanted);
// A new Estr holding the bytes of str (without its NUL); null or "" gives an
// empty Estr of capacity 32. Null on failure.
[[nodiscard]] Estr* estr_construct_str(const char* str);
// A new Estr holding count bytes of mem, capacity max(count, 32); a zero count,
// a null pointer or a block whose first byte is NUL gives an empty Estr.
[[nodiscard]] Estr* estr_construct_mem(const void* mem, std::uint32_t count);
// Releases the Estr *owner points at (if any) and stores null in *owner.
// Makes no validity check; a null owner does nothing.
void estr_destruct(Estr** owner);

// 1 if es is a live Estr, else 0 after reporting why not.
[[nodiscard]] int estr_valid(const Estr* es);
// The content length; 0 for an invalid Estr.
[[nodiscard]] std::uint32_t estr_size(const Estr* es);
// The length becomes 0; buffer and capacity are kept for reuse.
void estr_clear(Estr* es);

// The content becomes the bytes of str (null or "" empties it).
[[nodiscard]] int estr_assign_str(Estr* es, const char* str);
// Appends the low byte of c.
[[nodiscard]] int estr_append_c(Estr* es, int c);
// Appends the bytes of str; a null or empty str succeeds at once, unchecked.
[[nodiscard]] int estr_append_str(Estr* es, const char* str);
// Appends count bytes of mem; a null mem succeeds at once, unchecked.
[[nodiscard]] int estr_append_mem(Estr* es, const void* mem, std::uint32_t count);
// The buffer with a NUL stored after the content (not counted in the length),
// or null. Valid until the next operation that may grow the buffer.
[[nodiscard]] char* estr_c_str(Estr* es);

// Installs reporter (null restores the default, which writes the message and a
// newline to standard error) and returns the reporter installed before.
EstrReporter estr_install_error_reporter(EstrReporter reporter);

#endif
