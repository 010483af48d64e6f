#pragma once
// Another process holding a file open with no sharing, as a running browser holds its cache
// databases: hold_file_exclusive.exe (built beside the test programs) started on a file, waited for
// until it holds it, and ended again by Release or the destructor.
//
//   ExclusiveHold hold(shard);
//   ASSERT_TRUE(hold.Held()) << hold.Error();
//   ... every other open of shard fails with ERROR_SHARING_VIOLATION ...
//   ASSERT_TRUE(hold.Release());
//   ... and succeeds again
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>

class ExclusiveHold {
 public:
  // Starts the helper on path and waits until it holds it, at most timeout. Held() is false, and
  // Error() says why, when the helper is missing, could not open path, or was not ready in time.
  explicit ExclusiveHold(const std::filesystem::path& path,
                         std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    static unsigned counter = 0;
    ready_ = std::filesystem::temp_directory_path() /
             ("tavrin-hold-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + ".ready");
    std::error_code ignored;
    std::filesystem::remove(ready_, ignored);

    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::filesystem::path helper = std::filesystem::path(self).parent_path() / L"hold_file_exclusive.exe";
    std::wstring commandLine =
        Quoted(helper.wstring()) + L" " + Quoted(path.wstring()) + L" " + Quoted(ready_.wstring());

    // The helper's standard input is a pipe whose writing end only this process has: a line or
    // its closing ends the hold.
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE childInput = nullptr;
    if (!CreatePipe(&childInput, &input_, &inheritable, 0)) {
      error_ = "CreatePipe failed: error " + std::to_string(GetLastError());
      return;
    }
    SetHandleInformation(input_, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childInput;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    const BOOL created = CreateProcessW(helper.c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                                        &startup, &started);
    const DWORD createError = GetLastError();
    CloseHandle(childInput);
    if (!created) {
      error_ = "cannot start hold_file_exclusive.exe beside the test program: error " + std::to_string(createError);
      return;
    }
    CloseHandle(started.hThread);
    process_ = started.hProcess;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (GetFileAttributesW(ready_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      if (WaitForSingleObject(process_, 20) == WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process_, &code);
        error_ = "hold_file_exclusive.exe ended with code " + std::to_string(code) + " before it held the file";
        Release();
        return;
      }
      if (std::chrono::steady_clock::now() > deadline) {
        error_ = "hold_file_exclusive.exe did not hold the file in time";
        Release();
        return;
      }
    }
    held_ = true;
  }
  ~ExclusiveHold() { Release(); }
  ExclusiveHold(const ExclusiveHold&) = delete;
  ExclusiveHold& operator=(const ExclusiveHold&) = delete;

  bool Held() const { return held_; }
  const std::string& Error() const { return error_; }

  // Ends the hold and waits until the helper has closed the file and exited. True when it held
  // the file and ended with code 0; a helper that does not end within ten seconds is terminated.
  bool Release() {
    bool clean = false;
    if (input_) {
      DWORD written = 0;
      WriteFile(input_, "\n", 1, &written, nullptr);
      CloseHandle(input_);
      input_ = nullptr;
    }
    if (process_) {
      if (WaitForSingleObject(process_, 10000) != WAIT_OBJECT_0) {
        TerminateProcess(process_, 1);
        WaitForSingleObject(process_, INFINITE);
        error_ = "hold_file_exclusive.exe did not end when told to";
      } else {
        DWORD code = 1;
        clean = GetExitCodeProcess(process_, &code) && code == 0 && held_;
      }
      CloseHandle(process_);
      process_ = nullptr;
    }
    held_ = false;
    std::error_code ignored;
    std::filesystem::remove(ready_, ignored);
    return clean;
  }

 private:
  // One argument as CommandLineToArgvW reads it back: quoted, with the backslashes before a quote
  // doubled and the quote escaped.
  static std::wstring Quoted(const std::wstring& argument) {
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (wchar_t c : argument) {
      if (c == L'\\') {
        ++backslashes;
        continue;
      }
      out.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
      backslashes = 0;
      out += c;
    }
    out.append(2 * backslashes, L'\\');
    return out + L"\"";
  }

  std::filesystem::path ready_;
  HANDLE input_ = nullptr;
  HANDLE process_ = nullptr;
  bool held_ = false;
  std::string error_;
};
