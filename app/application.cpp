#include "application.hpp"

#include "paths/install_paths.hpp"
#include "module_names.hpp"
#include "windows/install_probe.hpp"

// A path too long to read leaves the shipped file name, which still captions the boxes.
Application::Application(HINSTANCE instance)
    : instance_(instance), modulePath_(ModulePath().value_or(kUpdaterFileName)), title_(ApplicationTitle(modulePath_)) {
  Dialog::SetCommandTarget(this);
}

Application::~Application() { Dialog::SetCommandTarget(nullptr); }

int Application::Run() {
  InitInstance();
  return 0;
}

void Application::OnHelp(Dialog& source) {
  // Topics are numbered after the template of the window F1 was pressed in.
  constexpr ULONG_PTR kTemplateTopics = 0x20000;
  const std::string helpFile = HelpFilePath(modulePath_);
  const HWND owner = mainWindow_ != nullptr ? mainWindow_->Window() : source.Window();
  if (!WinHelpA(owner, helpFile.c_str(), HELP_CONTEXT, kTemplateTopics + static_cast<ULONG_PTR>(source.TemplateId()))) {
    MessageBoxA(source.Window(), "启动帮助失败。", title_.c_str(), MB_OK | MB_ICONEXCLAMATION);
  }
}
