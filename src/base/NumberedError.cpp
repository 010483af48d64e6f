#include "base/NumberedError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#endif

NumberedError NumberedError::FromSystemError(int code) {
#ifdef _WIN32
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
      return NumberedError(kFileNotFound, "File not found");
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return NumberedError(kPathNotFound, "Path not found");
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT:
      return NumberedError(kPermissionDenied, "Permission denied");
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return NumberedError(kDiskFull, "Disk full");
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
      return NumberedError(kDeviceIoError, "Device I/O error");
    default:
      return NumberedError(kPathFileAccessError, "Path/File access error");
  }
#else
  switch (code) {
    case ENOENT:
      return NumberedError(kFileNotFound, "File not found");
    case ENOTDIR:
      return NumberedError(kPathNotFound, "Path not found");
    case EACCES:
    case EPERM:
    case EROFS:
      return NumberedError(kPermissionDenied, "Permission denied");
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return NumberedError(kDiskFull, "Disk full");
    case EIO:
      return NumberedError(kDeviceIoError, "Device I/O error");
    default:
      return NumberedError(kPathFileAccessError, "Path/File access error");
  }
#endif
}
