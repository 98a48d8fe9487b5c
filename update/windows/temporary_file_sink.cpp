#include "temporary_file_sink.hpp"

bool TemporaryFileSink::Add(const char* data, std::size_t size) {
  if (!expected_.Add(data, size)) return false;
  file_.Write(data, size);
  return true;
}

bool TemporaryFileSink::Finish() {
  if (!expected_.Complete()) return false;
  file_.Flush();
  file_.Close();
  file_.Keep();
  return true;
}
