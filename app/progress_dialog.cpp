#include "progress_dialog.hpp"

#include <shellapi.h>

#include <string>

#include "about_dialog.hpp"
#include "built_in_trust.hpp"
#include "paths/install_paths.hpp"
#include "windows/install_probe.hpp"
#include "resource.h"
#include "system_menu.hpp"
#include "text/text.hpp"
#include "update_run.hpp"
#include "windows/windows_update_platform.hpp"

namespace {

constexpr UINT_PTR kStartTimer = 1;
// Lets the window show before the update blocks the thread.
constexpr UINT kStartDelayMs = 200;

constexpr const char* kFailureText = "服务器连接失败，请检查网络，稍侯再试33，谢谢!";
constexpr const char* kFailureCaption = "failed";

}  // namespace

ProgressDialog::ProgressDialog(HINSTANCE instance, const std::string& caption)
    : Dialog(instance, caption, IDD_PROGRESS, nullptr), icon_(LoadIconResource(Instance(), IDR_MAINFRAME)) {}

std::optional<INT_PTR> ProgressDialog::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  static constexpr MessageEntry<ProgressDialog> kMessages[] = {
      Message(WM_INITDIALOG, &ProgressDialog::OnInitDialog),
      Message(WM_PAINT, &ProgressDialog::OnPaint),
      Message(WM_QUERYDRAGICON, &ProgressDialog::OnQueryDragIcon),
      Message(WM_TIMER, &ProgressDialog::OnTimer),
      Command(IDOK, &ProgressDialog::OnOkCommand),
      // IDCANCEL: the dialog's default handling ends it.
      Message(WM_SYSCOMMAND, &ProgressDialog::OnSysCommand),
  };
  if (auto result = Route(kMessages, *this, message, wParam, lParam)) return result;
  return Dialog::Handle(message, wParam, lParam);
}

INT_PTR ProgressDialog::OnInitDialog(WPARAM wParam, LPARAM lParam) {
  Dialog::OnInitDialog(wParam, lParam);
  AppendAboutEntry(Window(), Instance(), IDS_ABOUTBOX, IDM_ABOUTBOX);
  SendMessageA(Window(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_.get()));
  SendMessageA(Window(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_.get()));
  SetTimer(Window(), kStartTimer, kStartDelayMs, nullptr);
  return TRUE;
}

// Draws the icon centred in the window while it is minimised.
INT_PTR ProgressDialog::OnPaint(WPARAM, LPARAM) {
  if (!IsIconic(Window())) return FALSE;
  PaintScope paint(Window());
  SendMessageA(Window(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(paint.dc()), 0);
  const int iconWidth = GetSystemMetrics(SM_CXICON);
  const int iconHeight = GetSystemMetrics(SM_CYICON);
  RECT client{};
  GetClientRect(Window(), &client);
  const int x = (client.right - client.left - iconWidth + 1) / 2;
  const int y = (client.bottom - client.top - iconHeight + 1) / 2;
  DrawIcon(paint.dc(), x, y, icon_.get());
  return TRUE;
}

INT_PTR ProgressDialog::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<INT_PTR>(icon_.get()); }

INT_PTR ProgressDialog::OnTimer(WPARAM timer, LPARAM) {
  if (timer == kStartTimer) {
    KillTimer(Window(), kStartTimer);  // the update is attempted once, however long it takes
    RunUpdateAndLaunch();
    OnOK();  // the framework's own OK handling: OnOkCommand would leave the window open
  }
  return FALSE;
}

// Enter probes the installation and keeps the window open.
INT_PTR ProgressDialog::OnOkCommand(WPARAM, LPARAM) {
  GetTargetFileSize();
  GetTargetVersion();
  GetInstallDir();
  return TRUE;
}

INT_PTR ProgressDialog::OnSysCommand(WPARAM command, LPARAM) {
  if ((command & 0xFFF0) != IDM_ABOUTBOX) return FALSE;
  AboutDialog about(Instance(), Caption(), Window());
  about.DoModal();
  return TRUE;
}

int ProgressDialog::RunUpdateAndLaunch() {
  WindowsUpdatePlatform platform(Window(), Caption());
  UpdateOptions options(ManifestUrlOf(BuiltInTrust().host));
  // No key in a build without one; malformed keys are refused when the build is configured.
  options.publicKeys = BuiltInTrust().keys;
  if (!UpdateRun(platform, options)) {
    MessageBoxA(Window(), kFailureText, kFailureCaption, MB_OK | MB_ICONEXCLAMATION);
    OnCancel();
    return 0;
  }
  const std::string target = text::Format("%s\\%s", GetInstallDir().c_str(), kTargetFileName);
  ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  OnOK();
  return 1;
}
