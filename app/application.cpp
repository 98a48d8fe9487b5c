#include "application.hpp"

#include "module_names.hpp"

Application* Application::current_ = nullptr;

Application::Application(HINSTANCE instance)
    : instance_(instance), modulePath_(ModulePath()), title_(ApplicationTitle(modulePath_)) {
  current_ = this;
  Dialog::SetCommandTarget(this);
}

Application::~Application() {
  Dialog::SetCommandTarget(nullptr);
  current_ = nullptr;
}

int Application::Run() {
  if (!InitInstance()) return 0;
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return static_cast<int>(message.wParam);
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
