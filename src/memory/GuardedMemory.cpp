#include "memory/GuardedMemory.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#include <csetjmp>
#include <csignal>
#include <mutex>
#endif

namespace guarded {

#ifdef _WIN32

bool CanRead(std::uintptr_t address, std::size_t length) {
  return length == 0 || !IsBadReadPtr(reinterpret_cast<const void*>(address), length);
}

bool CanWrite(std::uintptr_t address, std::size_t length) {
  return length == 0 || !IsBadWritePtr(reinterpret_cast<void*>(address), length);
}

std::optional<std::size_t> BoundedStringLength(std::uintptr_t address, std::size_t max) {
  if (max == 0) return 0;
  if (IsBadStringPtrA(reinterpret_cast<const char*>(address), max)) return std::nullopt;
  const char* text = reinterpret_cast<const char*>(address);
  const void* nul = std::memchr(text, 0, max);
  return nul ? static_cast<std::size_t>(static_cast<const char*>(nul) - text) : max;
}

#else

// Nothing that the probes below read after a jump back was changed since sigsetjmp.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wclobbered"
#endif

// POSIX has no pointer probes, so the probes touch each page of the range under a SIGSEGV/SIGBUS
// handler that jumps back out of the probe. This costs no system call on the good path, which
// matters because the cache walk copies one record per entry through a probed copy.
namespace {

// volatile: the stores around a probe must happen where they stand, or the handler would not see them.
thread_local sigjmp_buf* volatile t_guard = nullptr;
struct sigaction g_previousSegv {};
struct sigaction g_previousBus {};
std::once_flag g_installOnce;

void ChainToPrevious(int signal, siginfo_t* info, void* context) {
  const struct sigaction& previous = signal == SIGSEGV ? g_previousSegv : g_previousBus;
  if (previous.sa_flags & SA_SIGINFO) {
    if (previous.sa_sigaction) {
      previous.sa_sigaction(signal, info, context);
      return;
    }
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN && previous.sa_handler) {
    previous.sa_handler(signal);
    return;
  }
  // Default action: restore it and let the faulting instruction run again.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal, &fallback, nullptr);
}

void OnFault(int signal, siginfo_t* info, void* context) {
  if (t_guard) {
    sigjmp_buf* guard = t_guard;
    t_guard = nullptr;
    siglongjmp(*guard, 1);
  }
  ChainToPrevious(signal, info, context);
}

void InstallHandlers() {
  struct sigaction action {};
  action.sa_sigaction = OnFault;
  // SA_NODEFER: the jump leaves the handler without restoring the signal mask, so the signal must
  // not be blocked while it runs, or the next real fault would find it blocked.
  action.sa_flags = SA_SIGINFO | SA_NODEFER | SA_ONSTACK;
  sigemptyset(&action.sa_mask);
  sigaction(SIGSEGV, &action, &g_previousSegv);
  sigaction(SIGBUS, &action, &g_previousBus);
}

std::size_t PageSize() {
  static const std::size_t size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

bool RangeWraps(std::uintptr_t address, std::size_t length) { return address + length < address; }

__attribute__((no_sanitize("address"))) inline void Touch(std::uintptr_t at, bool write) {
  volatile unsigned char* byte = reinterpret_cast<volatile unsigned char*>(at);
  const unsigned char value = *byte;
  if (write) *byte = value;
}

// Touches the first byte of every page in the range and its last byte; when write is set, each
// touched byte is written back with the value it had.
__attribute__((no_sanitize("address"), noinline)) bool TouchPages(std::uintptr_t address, std::size_t length,
                                                                  bool write) {
  if (length == 0) return true;
  if (RangeWraps(address, length - 1) || address == 0) return false;
  std::call_once(g_installOnce, InstallHandlers);
  sigjmp_buf guard;
  if (sigsetjmp(guard, 0) != 0) return false;  // a touch faulted
  t_guard = &guard;
  const std::uintptr_t last = address + length - 1;
  const std::uintptr_t page = PageSize();
  for (std::uintptr_t at = address;;) {
    Touch(at, write);
    const std::uintptr_t next = (at / page + 1) * page;
    if (next > last || next == 0) break;
    at = next;
  }
  Touch(last, write);
  t_guard = nullptr;
  return true;
}

__attribute__((no_sanitize("address"), noinline)) std::optional<std::size_t> GuardedStrnlen(std::uintptr_t address,
                                                                                            std::size_t max) {
  if (max == 0) return 0;
  if (address == 0) return std::nullopt;
  std::call_once(g_installOnce, InstallHandlers);
  sigjmp_buf guard;
  if (sigsetjmp(guard, 0) != 0) return std::nullopt;
  t_guard = &guard;
  const volatile char* text = reinterpret_cast<const volatile char*>(address);
  std::size_t length = 0;
  while (length < max && text[length] != 0) ++length;
  t_guard = nullptr;
  return length;
}

}  // namespace

bool CanRead(std::uintptr_t address, std::size_t length) { return TouchPages(address, length, false); }

bool CanWrite(std::uintptr_t address, std::size_t length) { return TouchPages(address, length, true); }

std::optional<std::size_t> BoundedStringLength(std::uintptr_t address, std::size_t max) {
  if (max > 0 && RangeWraps(address, max - 1)) max = ~address + 1;
  return GuardedStrnlen(address, max);
}

#endif

}  // namespace guarded
