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

HarvestError FolderCreationError(int systemError) {
#ifdef _WIN32
  switch (systemError) {
    case ERROR_PATH_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_DIRECTORY:
      return HarvestError(HarvestError::kPathNotFound, "Path not found");
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
      return HarvestError(HarvestError::kPermissionDenied, "Permission denied");
    default:
      break;
  }
#else
  switch (systemError) {
    case ENOENT:
    case ENOTDIR:
      return HarvestError(HarvestError::kPathNotFound, "Path not found");
    case EACCES:
    case EPERM:
    case EROFS:
      return HarvestError(HarvestError::kPermissionDenied, "Permission denied");
    default:
      break;
  }
#endif
  // A file of the same name, an invalid name, a full disk and the rest.
  return HarvestError(HarvestError::kPathFileAccessError, "Path/File access error");
}
