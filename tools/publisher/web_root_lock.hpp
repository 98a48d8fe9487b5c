// One `stage` at a time per web root: two that interleaved could serve a manifest naming files
// that the other one is still copying, or staging folders that the other one removes.
#pragma once

#include <filesystem>

class WebRootLock {
 public:
  // Takes the lock, a dot-file the server does not serve; throws PublishError naming the web
  // root when another stage holds it.
  explicit WebRootLock(const std::filesystem::path& webRoot);
  ~WebRootLock();
  WebRootLock(const WebRootLock&) = delete;
  WebRootLock& operator=(const WebRootLock&) = delete;

 private:
  std::filesystem::path path_;
  int fd_ = -1;
};
