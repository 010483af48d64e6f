#pragma once
// The error raised when a new folder could not be made, described the way the error report
// describes file-system errors.
#include "base/NumberedError.h"

// The report's error for a folder creation that failed with the given system error code.
NumberedError FolderCreationError(int systemError);
