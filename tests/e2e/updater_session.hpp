// What the end-to-end tests share: the texts they expect, the time limits, and an updater
// brought into the one calm state where its window stays open with nothing to do.
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "installation.hpp"
#include "ui_probe.hpp"

namespace probe {
inline void PrintTo(const Control& control, std::ostream* out) {
  *out << "{id " << control.id << ", " << testing::PrintToString(control.className) << ", "
       << testing::PrintToString(control.text) << ", style 0x" << std::hex << control.style << std::dec << "}";
}
}  // namespace probe

inline constexpr DWORD kWindowMs = 10000;  // for a window to appear or go, or the updater to end
inline constexpr DWORD kQuietMs = 700;     // for something that must not happen

inline const std::wstring kTitle = L"Merovast";
inline const std::wstring kAboutCaption = L"关于 Merovast";

inline bool Exited(harness::Process& updater, DWORD limitMs = kWindowMs) { return updater.Wait(limitMs).has_value(); }

// A download that fills the disk: the file-error box, after which the window stays open
// with nothing more to do. About, help and keys are tried in this state, which does not
// race the start-up timer.
class FullDisk : public testing::Test {
 protected:
  void SetUp() override {
    install_.Publish(L"release\\bin\\Ostravine.exe", harness::PatternBytes(256 * 1024));
    install_.PublishManifest(Manifest("1,0,0,4", 256 * 1024, {{"Ostravine.exe", "/bin", ""}}));
    install_.ServeWithNginx();
    before_ = install_.TargetBytes();
    updater_.emplace(install_.StartUpdater());
    progress_ = probe::WaitForProgressWindow(kWindowMs);
    ASSERT_NE(progress_, nullptr);
    errorBox_ = probe::WaitForDialog(kTitle, kWindowMs);
    ASSERT_NE(errorBox_, nullptr);
  }

  // Answers the file-error box; the progress window is then idle.
  void DismissErrorBox() {
    probe::Click(errorBox_, IDOK);
    ASSERT_TRUE(probe::WaitUntilGone(errorBox_, kWindowMs));
  }

  Installation install_{64 * 1024};
  std::string before_;
  std::optional<harness::Process> updater_;
  HWND progress_ = nullptr;
  HWND errorBox_ = nullptr;
};
