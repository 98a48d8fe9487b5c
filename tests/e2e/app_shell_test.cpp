// The shell's parts that no end-to-end run can reach under Wine: the About entry of a
// system menu (Wine gives the progress window none), names taken from a path with
// double-byte characters, file-error texts, and a handler that runs out of memory.
#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <new>
#include <string>

#include "application.hpp"
#include "dialog.hpp"
#include "error_report.hpp"
#include "file_error.hpp"
#include "module_names.hpp"
#include "system_menu.hpp"
#include "windows/install_probe.hpp"
#include "wine_harness.hpp"

namespace {

using harness::Ansi;
using harness::Wide;

// A top-level window that has a system menu.
class HelperWindow {
 public:
  HelperWindow()
      : window_(CreateWindowExW(0, L"STATIC", L"helper", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr,
                                nullptr)) {}
  ~HelperWindow() { DestroyWindow(window_); }
  HelperWindow(const HelperWindow&) = delete;
  HelperWindow& operator=(const HelperWindow&) = delete;
  HWND get() const { return window_; }

 private:
  HWND window_;
};

std::wstring ItemText(HMENU menu, int position) {
  wchar_t text[256] = {};
  GetMenuStringW(menu, static_cast<UINT>(position), text, 256, MF_BYPOSITION);
  return text;
}

TEST(AboutEntry, SeparatorAndLabelledEntryEndTheSystemMenu) {
  HelperWindow window;
  HMENU menu = GetSystemMenu(window.get(), FALSE);
  ASSERT_NE(menu, nullptr);
  const int before = GetMenuItemCount(menu);

  AppendAboutEntry(window.get(), GetModuleHandleW(nullptr), 101, 0x0010);

  ASSERT_EQ(GetMenuItemCount(menu), before + 2);
  EXPECT_EQ(GetMenuState(menu, static_cast<UINT>(before), MF_BYPOSITION) & MF_SEPARATOR,
            static_cast<UINT>(MF_SEPARATOR));
  EXPECT_EQ(GetMenuItemID(menu, before + 1), 0x0010u);
  EXPECT_EQ(ItemText(menu, before + 1), L"关于 Merovast(&A)...");
}

TEST(AboutEntry, EmptyLabelLeavesTheSystemMenuUnchanged) {
  HelperWindow window;
  HMENU menu = GetSystemMenu(window.get(), FALSE);
  ASSERT_NE(menu, nullptr);
  const int before = GetMenuItemCount(menu);

  AppendAboutEntry(window.get(), GetModuleHandleW(nullptr), 999, 0x0010);  // no such string

  EXPECT_EQ(GetMenuItemCount(menu), before);
}

// "抃" is 0x92 0x5C in code page 936: its second byte looks like a backslash.
TEST(ModuleNames, SplitAtRealBackslashesAndDotsOnly) {
  EXPECT_EQ(Wide(ApplicationTitle(Ansi(L"Z:\\更新\\抃.exe"))), L"抃");
  EXPECT_EQ(Wide(HelpFilePath(Ansi(L"Z:\\抃\\抃.exe"))), L"Z:\\抃\\抃.HLP");
  EXPECT_EQ(ApplicationTitle("C:\\v1.2\\Merovast"), "Merovast");
  EXPECT_EQ(HelpFilePath("C:\\v1.2\\Merovast"), "C:\\v1.2\\Merovast.HLP");
}

TEST(ModuleNames, TitleAndHelpFileOfTheRunningProgram) {
  const std::string path = ModulePath().value();
  EXPECT_EQ(ApplicationTitle(path), "app_shell_test");
  EXPECT_EQ(HelpFilePath(path), path.substr(0, path.size() - 4) + ".HLP");
}

TEST(FileErrorText, NamesThePathOrAnUnnamedFile) {
  EXPECT_EQ(Wide(FileErrorText(FileError(FileError::kDiskFull, "C:\\a\\b.pak"))), L"在存取 C:\\a\\b.pak 时磁盘已满。");
  EXPECT_EQ(Wide(FileErrorText(FileError(FileError::kSharingViolation, ""))), L"在存取 一未命名文件 时发生共享违例。");
  EXPECT_EQ(Wide(FileErrorText(FileError(static_cast<FileError::Cause>(99), "x"))),
            L"在对 x 进行访问时发生了一个不明错误。");
}

// --- The error boundary of a dialog's handlers ---

class TestApplication : public Application {
 public:
  TestApplication() : Application(GetModuleHandleW(nullptr)) {}
  bool OnCommand(UINT, Dialog&) override { return false; }

 protected:
  void InitInstance() override {}
};

// A dialog whose first timer tick runs out of memory; it ends on its second.
class ExhaustedDialog : public Dialog {
 public:
  explicit ExhaustedDialog(const Application& application)
      : Dialog(application.Instance(), application.Title(), 100, nullptr) {}
  int ticks = 0;

 protected:
  std::optional<INT_PTR> Handle(UINT message, WPARAM wParam, LPARAM lParam) override {
    static constexpr MessageEntry<ExhaustedDialog> kMessages[] = {
        Message(WM_INITDIALOG, &ExhaustedDialog::OnInitDialog),
        Message(WM_TIMER, &ExhaustedDialog::OnTimer),
    };
    if (auto result = Route(kMessages, *this, message, wParam, lParam)) return result;
    return Dialog::Handle(message, wParam, lParam);
  }

 private:
  INT_PTR OnInitDialog(WPARAM wParam, LPARAM lParam) {
    Dialog::OnInitDialog(wParam, lParam);
    SetTimer(Window(), 1, 50, nullptr);
    return TRUE;
  }
  INT_PTR OnTimer(WPARAM, LPARAM) {
    if (++ticks == 1) throw std::bad_alloc();
    KillTimer(Window(), 1);
    EndDialog(Window(), 42);
    return TRUE;
  }
};

struct SeenBox {
  std::wstring caption;
  std::wstring text;
};

// Waits for this process's first message box, notes what it says and answers it.
DWORD WINAPI AnswerBox(void* context) {
  auto& seen = *static_cast<SeenBox*>(context);
  for (int i = 0; i < 5000; ++i, Sleep(1)) {
    HWND box = FindWindowW(L"#32770", L"app_shell_test");
    if (box == nullptr) continue;
    wchar_t text[256] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 256);
    seen = {L"app_shell_test", text};
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  return 1;
}

TEST(ErrorBoundary, OutOfMemoryInAHandlerIsReportedAndTheDialogCarriesOn) {
  TestApplication application;
  SeenBox seen;
  harness::Handle answerer(CreateThread(nullptr, 0, &AnswerBox, &seen, 0, nullptr));
  ExhaustedDialog dialog(application);

  const INT_PTR result = dialog.DoModal();

  WaitForSingleObject(answerer.get(), 10000);
  EXPECT_EQ(seen.caption, L"app_shell_test");
  EXPECT_EQ(seen.text, L"内存不足。");
  EXPECT_EQ(dialog.ticks, 2) << "the dialog did not carry on after the box";
  EXPECT_EQ(result, 42);
}

}  // namespace
