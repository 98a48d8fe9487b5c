// The application object: the one per process, its title, its command table and the
// help handler that F1 reaches in every window.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "dialog.hpp"

class Application : public CommandTarget {
 public:
  explicit Application(HINSTANCE instance);
  ~Application() override;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  // The process's work: InitInstance; the process ends when it returns.
  int Run();

  HINSTANCE Instance() const { return instance_; }
  // The executable's file name without its extension; captions the framework's boxes.
  const std::string& Title() const { return title_; }

  void SetMainWindow(Dialog* window) { mainWindow_ = window; }

  // A command that no dialog handled, from `source`. True when the application handled it.
  bool OnCommand(UINT id, Dialog& source) override = 0;

 protected:
  // Everything the program does; no message loop follows it.
  virtual void InitInstance() = 0;

  // Opens the help file at the topic of the source window's template.
  void OnHelp(Dialog& source);

 private:
  HINSTANCE instance_;
  std::string modulePath_;
  std::string title_;
  Dialog* mainWindow_ = nullptr;
};

// Command tables of application classes: command identifier, then handler.
template <class A>
struct CommandEntry {
  UINT id;
  void (A::*handler)(Dialog& source);
};

template <class A, std::size_t N>
bool RouteCommand(const CommandEntry<A> (&table)[N], A& self, UINT id, Dialog& source) {
  for (const CommandEntry<A>& entry : table) {
    if (entry.id == id) {
      (self.*entry.handler)(source);
      return true;
    }
  }
  return false;
}
