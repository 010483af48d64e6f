#include "dialogs/FolderCreationError.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

int LastSystemError() {
#ifdef _WIN32
  return static_cast<int>(GetLastError());
#else
  return errno;
#endif
}

NumberedError FolderCreationError(int systemError) {
#ifdef _WIN32
  switch (systemError) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DIRECTORY:
      return NumberedError(NumberedError::kPathNotFound, "Path not found");
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return NumberedError(NumberedError::kPermissionDenied, "Permission denied");
    default:
      break;
  }
#else
  switch (systemError) {
    case ENOENT:
    case ENOTDIR:
      return NumberedError(NumberedError::kPathNotFound, "Path not found");
    case EACCES:
    case EPERM:
    case EROFS:
      return NumberedError(NumberedError::kPermissionDenied, "Permission denied");
    default:
      break;
  }
#endif
  // A file of the same name, an invalid name, a full disk and the rest.
  return NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
}
