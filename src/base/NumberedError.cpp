#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstring>
#endif

#include <cerrno>
#include <new>

#include "base/WidePath.h"

namespace {
NumberedError MappedSystemError(int code) {
#ifdef _WIN32
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return NumberedError(NumberedError::kFileNotFound, "File not found");
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:  // a part of the path is no folder, as ENOTDIR
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return NumberedError(NumberedError::kPathNotFound, "Path not found");
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return NumberedError(NumberedError::kPermissionDenied, "Permission denied");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return NumberedError(NumberedError::kDiskFull, "Disk full");
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return NumberedError(NumberedError::kDeviceIoError, "Device I/O error");
    default:
      return NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
#else
  switch (code) {
    case ENOENT:
      return NumberedError(NumberedError::kFileNotFound, "File not found");
    case ENOTDIR:
      return NumberedError(NumberedError::kPathNotFound, "Path not found");
    case EACCES:
    case EPERM:
    case EROFS:
      return NumberedError(NumberedError::kPermissionDenied, "Permission denied");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return NumberedError(NumberedError::kDiskFull, "Disk full");
    case EIO:
      return NumberedError(NumberedError::kDeviceIoError, "Device I/O error");
    default:
      return NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
#endif
}
}  // namespace

NumberedError NumberedError::FromSystemError(int code) {
  NumberedError error = MappedSystemError(code);
  error.systemError_ = code;
  return error;
}

int LastSystemError() {
#ifdef _WIN32
  return static_cast<int>(GetLastError());
#else
  return errno;
#endif
}

std::string SystemErrorText(int code) {
#ifdef _WIN32
  wchar_t text[512] = {};
  const DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                      static_cast<DWORD>(code), 0, text, sizeof text / sizeof text[0], nullptr);
  std::string out = Utf8FromWide({text, length});
#else
  std::string out = std::strerror(code);
#endif
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.')) {
    out.pop_back();
  }
  return out.empty() ? "error " + std::to_string(code) : out;
}

bool IsExhaustion(int code) {
#ifdef _WIN32
  return code == ERROR_TOO_MANY_OPEN_FILES || code == ERROR_NOT_ENOUGH_MEMORY || code == ERROR_OUTOFMEMORY ||
         code == ERROR_NO_SYSTEM_RESOURCES;
#else
  return code == EMFILE || code == ENFILE || code == ENOMEM;
#endif
}

bool IsNameRefusal(int code) {
#ifdef _WIN32
  return code == ERROR_INVALID_NAME || code == ERROR_FILENAME_EXCED_RANGE || code == ERROR_BAD_PATHNAME ||
         code == ERROR_BAD_DEV_TYPE;
#else
  return code == ENAMETOOLONG || code == EINVAL || code == EILSEQ;
#endif
}

std::string ErrorReason(const std::exception& error) {
  if (dynamic_cast<const std::bad_alloc*>(&error)) {
#ifdef _WIN32
    return SystemErrorText(ERROR_NOT_ENOUGH_MEMORY);
#else
    return SystemErrorText(ENOMEM);
#endif
  }
  if (const auto* numbered = dynamic_cast<const NumberedError*>(&error); numbered && numbered->SystemError() != 0) {
    return SystemErrorText(numbered->SystemError());
  }
  return error.what();
}
