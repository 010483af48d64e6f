// Types its argument into the window that has the keyboard focus, one character at a time, as an
// input method or the on-screen keyboard does: Unicode key events, so that any script reaches the
// control whatever keyboard layout is set (an X server's key events carry only what its layout
// has). Exits 1 when the system refused an event.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fputws(L"usage: tavrin-type-text TEXT\n", stderr);
    return 2;
  }
  for (const wchar_t* c = argv[1]; *c; ++c) {
    INPUT keys[2] = {};
    for (INPUT& key : keys) {
      key.type = INPUT_KEYBOARD;
      key.ki.wScan = static_cast<WORD>(*c);
      key.ki.dwFlags = KEYEVENTF_UNICODE;
    }
    keys[1].ki.dwFlags |= KEYEVENTF_KEYUP;
    if (SendInput(2, keys, sizeof(INPUT)) != 2) {
      std::fwprintf(stderr, L"SendInput refused a key: error %lu\n", GetLastError());
      return 1;
    }
    Sleep(20);
  }
  return 0;
}
