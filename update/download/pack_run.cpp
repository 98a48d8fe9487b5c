#include "download/pack_run.hpp"

#include <algorithm>

namespace {

// The run's files as one request's body passes them: bytes before a file to download are
// discarded, a file's own bytes go to its new file, which is finished at its last byte.
class PackRunStream : public ObjectStream {
 public:
  PackRunStream(const std::vector<PackedFile>& files, PackRunTarget& target) : files_(files), target_(target) {
    for (std::size_t i = 0; i < files_.size(); ++i)
      if (!files_[i].current) end_ = i + 1;
  }

  bool Start(std::uint64_t offset) override {
    position_ = offset;
    // A body that starts after the first file's first byte would leave that file short.
    const auto first = std::find_if(files_.begin() + static_cast<std::ptrdiff_t>(next_), files_.end(),
                                    [](const PackedFile& file) { return !file.current; });
    return !open_ && first != files_.end() && offset <= first->offset;
  }

  bool Add(const char* data, std::size_t size) override {
    while (size > 0 && !Done()) {
      const PackedFile& file = files_[next_];
      if (file.current) {
        target_.Current(file);
        ++next_;
        continue;
      }
      if (position_ < file.offset) {
        const auto skipped = static_cast<std::size_t>(std::min<std::uint64_t>(size, file.offset - position_));
        Advance(data, size, skipped);
        continue;
      }
      if (!open_ && !(open_ = target_.Open(file))) return Broken(file);
      const auto taken = static_cast<std::size_t>(std::min<std::uint64_t>(size, file.size - written_));
      if (!open_->Append(data, taken)) return Broken(file);
      written_ += taken;
      Advance(data, size, taken);
      if (written_ == file.size && !Placed(*open_)) return Broken(file);
    }
    return true;
  }

  // Every file to download is in place; current ones after the last are left.
  bool Done() const override { return next_ >= end_; }

  // The current files after the last one to download.
  void StepOverTheRest() {
    for (; next_ < files_.size(); ++next_) target_.Current(files_[next_]);
  }

  // After a wrong answer: each file left, in order, once as its own range into a new file
  // started afresh.
  bool FetchEachLeft(const ServedObject& source) {
    while (!Done()) {
      const PackedFile& file = files_[next_];
      if (file.current) {
        target_.Current(file);
        ++next_;
        continue;
      }
      if (open_ ? !open_->Restart() : !(open_ = target_.Open(file))) return Broken(file);
      written_ = 0;
      switch (open_->FetchRange(source.address, {file.offset, file.offset + file.size - 1, source.size})) {
        case RangeAnswer::kPart:
          if (!Placed(*open_)) return Broken(file);
          break;
        case RangeAnswer::kWhole:  // the whole object was the file, already in place
          target_.Placed(file);
          open_.reset();
          ++next_;
          break;
        case RangeAnswer::kWholeFailed:
        case RangeAnswer::kRefused: return Broken(file);
      }
    }
    return true;
  }

  // The entry whose file failed its size, SHA-256, folder or write; -1 when none did.
  int broken() const { return broken_; }

 private:
  void Advance(const char*& data, std::size_t& size, std::size_t by) {
    data += by;
    size -= by;
    position_ += by;
  }
  // Puts the file being written in place and moves on to the next.
  bool Placed(Replacement& replacement) {
    if (!replacement.Finish()) return false;
    target_.Placed(files_[next_]);
    open_.reset();
    written_ = 0;
    ++next_;
    return true;
  }
  bool Broken(const PackedFile& file) {
    broken_ = file.entry;
    return false;
  }

  const std::vector<PackedFile>& files_;
  PackRunTarget& target_;
  std::size_t next_ = 0;
  std::size_t end_ = 0;  // after the last file to download
  std::uint64_t position_ = 0;
  std::unique_ptr<Replacement> open_;
  std::uint64_t written_ = 0;
  int broken_ = -1;
};

}  // namespace

bool JoinsRequest(std::uint64_t end, std::uint64_t offset) { return offset >= end && offset - end <= kPackGap; }

bool CarryOutPackRun(UpdatePlatform& platform, const ServedObject& source, const std::vector<PackedFile>& files,
                     PackRunTarget& target, int& failed) {
  const auto wanted = [](const PackedFile& file) { return !file.current; };
  const auto first = std::find_if(files.begin(), files.end(), wanted);
  const auto last = std::find_if(files.rbegin(), files.rend(), wanted);
  PackRunStream stream(files, target);
  bool streamed = false;
  if (first != files.end()) {
    streamed =
        platform.StreamObject(source.address, {first->offset, last->offset + last->size - 1, source.size}, stream);
  }
  if (!streamed && stream.broken() < 0) stream.FetchEachLeft(source);
  if (!stream.Done() || stream.broken() >= 0) {
    failed = stream.broken();
    return false;
  }
  stream.StepOverTheRest();
  return true;
}
