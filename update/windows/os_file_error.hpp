#pragma once

#include <windows.h>

#include "file_error.hpp"

// The file-error cause that describes an operating-system error code.
FileError::Cause FileErrorCause(DWORD error);
