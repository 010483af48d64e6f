// Holds a file open with no sharing at all, as a browser holds its cache databases, so that a test
// can see what every other open of it meets: hold_file_exclusive.exe PATH READY_FILE opens PATH
// for reading and writing with share mode 0, creates READY_FILE once it holds the handle, and
// keeps it until a line arrives on its standard input or that input is closed; then it closes
// the handle and exits 0. Exits 1 when PATH or READY_FILE cannot be opened, 2 on a wrong usage.
#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fputws(L"usage: hold_file_exclusive PATH READY_FILE\n", stderr);
    return 2;
  }
  HANDLE held =
      CreateFileW(argv[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (held == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"cannot open %ls: error %lu\n", argv[1], GetLastError());
    return 1;
  }
  HANDLE ready = CreateFileW(argv[2], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (ready == INVALID_HANDLE_VALUE) {
    std::fwprintf(stderr, L"cannot create %ls: error %lu\n", argv[2], GetLastError());
    CloseHandle(held);
    return 1;
  }
  CloseHandle(ready);

  // A read that fails (the pipe's other end closed, no input at all) ends the hold as well.
  HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
  char c = 0;
  DWORD got = 0;
  while (ReadFile(input, &c, 1, &got, nullptr) && got == 1 && c != '\n') {
  }
  CloseHandle(held);
  return 0;
}
