#include "dialogs/FolderCreationError.h"

NumberedError FolderCreationError(int systemError) {
  // The system's reason, in the report's three numbers: a missing part of the path (file or
  // folder alike), a refusal, and anything else (a file of that name, an invalid name, a full disk).
  const NumberedError error = NumberedError::FromSystemError(systemError);
  switch (error.Number()) {
    case NumberedError::kFileNotFound:
    case NumberedError::kPathNotFound:
      return NumberedError(NumberedError::kPathNotFound, "Path not found");
    case NumberedError::kPermissionDenied:
      return error;
    default:
      return NumberedError(NumberedError::kPathFileAccessError, "Path/File access error");
  }
}
