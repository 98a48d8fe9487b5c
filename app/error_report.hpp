// Boxes for the errors that reach a window's message handling: a file error raised while a
// download is written, and exhausted memory. Both are captioned with the application title,
// which the caller gives.
#pragma once

#include <windows.h>

#include <string>

class FileError;

// The text for the error's cause, with %1 replaced by its path.
std::string FileErrorText(const FileError& error);

void ReportFileError(HWND owner, const std::string& caption, const FileError& error) noexcept;
void ReportOutOfMemory(HWND owner, const std::string& caption) noexcept;
