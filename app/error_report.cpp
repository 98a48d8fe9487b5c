#include "error_report.hpp"

#include <iterator>
#include <new>

#include "file_error.hpp"
#include "text/text.hpp"

namespace {

// Indexed by FileError::Cause.
constexpr const char* kFileErrorTexts[] = {
    "无错误发生。",
    "在对 %1 进行访问时发生了一个不明错误。",
    "没有找到 %1。",
    "%1 中包含无效的路径。",
    "无法打开 %1 因为太多文件已被打开。",
    "对 %1 的存取被拒绝。",
    "一个无效的文件柄与 %1 相关联。",
    "无法删除 %1 因为它是当前目录。",
    "该目录已满，无法创建 %1。",
    "对 %1 进行查找失败。",
    "在存取 %1 时一个硬件输入/输出错误被报告。",
    "在存取 %1 时发生共享违例。",
    "在存取 %1 时发生锁违例。",
    "在存取 %1 时磁盘已满。",
    "试图越过其尾端对 %1 进行读写。",
};

}  // namespace

std::string FileErrorText(const FileError& error) {
  const auto cause = static_cast<std::size_t>(error.cause());
  const char* pattern =
      cause < std::size(kFileErrorTexts) ? kFileErrorTexts[cause] : kFileErrorTexts[FileError::kGeneric];
  const std::string path = error.path().empty() ? "一未命名文件" : error.path();
  return text::ReplaceAll(pattern, "%1", path);
}

void ReportFileError(HWND owner, const std::string& caption, const FileError& error) noexcept {
  std::string message;
  try {
    message = FileErrorText(error);
  } catch (const std::bad_alloc&) {
    ReportOutOfMemory(owner, caption);
    return;
  }
  MessageBoxA(owner, message.c_str(), caption.c_str(), MB_OK | MB_ICONSTOP);
}

void ReportOutOfMemory(HWND owner, const std::string& caption) noexcept {
  MessageBoxA(owner, "内存不足。", caption.c_str(), MB_OK | MB_ICONEXCLAMATION | MB_SYSTEMMODAL);
}
