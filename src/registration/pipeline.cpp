#include "registration/pipeline.h"

#include "common/func.h"
#include "common/globals.h"

namespace velmo {

std::unique_ptr<PreparedArchive> ArchivePipeline::prepare(const std::string& path, const Options& options) {
  auto a = std::make_unique<PreparedArchive>();
  a->path = path;
  a->extension = options.source == "V" ? ".dat" : ".txt";
  try {
    a->exists = FileExists(path);
    if (!a->exists) return a;
    if (options.check) {
      a->checked = true;
      a->readable = CheckArchive(path, a->why);
      if (!a->readable) return a;
    }
    a->work = std::make_unique<RunWorkFolder>(G().gTmpDir);
    const std::string tmp = a->work->path();
    a->unpackFailed = UnpackArchive(path, tmp, a->extension, a->unpackLog);
    a->unpacked = true;
    if (a->unpackFailed || options.source != "J") return a;
    // The provider's files are decoded by the layout of their kind; a kind whose
    // reader reads otherwise finds nothing decoded and reads the file itself.
    size_t listed = 0;
    for (const auto& name : ListFiles(tmp + "*.txt")) {
      if (++listed > 32) break;  // the writer refuses the archive
      const DispatchRow* row = DispatchFor(name);
      if (!row || !row->action || (row->thisWeekOnly && options.mode == "D")) continue;
      const reg::Layout* layout = reg::FindLayout(name.substr(0, 3));
      if (!layout) layout = reg::FindLayout(name.substr(0, 2));
      if (layout) a->decoded.add(tmp + name, *layout);
    }
  } catch (const std::exception&) {
    // Whatever was not made ready here the writer does itself, and reports.
  }
  return a;
}

ArchivePipeline::ArchivePipeline(std::vector<std::string> paths, Options options)
    : paths_(std::move(paths)), options_(std::move(options)) {
  if (options_.ahead < 1) options_.ahead = 1;
  // The layouts are compiled here, on the writer, before the thread reads them.
  reg::AllLayouts("J");
  reg::AllLayouts("V");
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::exception&) {
    inline_ = true;
  }
}

ArchivePipeline::~ArchivePipeline() {
  {
    std::lock_guard<std::mutex> l(m_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void ArchivePipeline::run() {
  for (const auto& path : paths_) {
    {
      std::unique_lock<std::mutex> l(m_);
      cv_.wait(l, [&] { return stop_ || ready_.size() < options_.ahead; });
      if (stop_) return;
    }
    auto a = prepare(path, options_);
    {
      std::lock_guard<std::mutex> l(m_);
      ready_.push_back(std::move(a));
    }
    cv_.notify_all();
  }
}

std::unique_ptr<PreparedArchive> ArchivePipeline::next() {
  if (taken_ >= paths_.size()) return nullptr;
  if (inline_) return prepare(paths_[taken_++], options_);
  std::unique_ptr<PreparedArchive> a;
  {
    std::unique_lock<std::mutex> l(m_);
    cv_.wait(l, [&] { return !ready_.empty(); });
    a = std::move(ready_.front());
    ready_.pop_front();
  }
  ++taken_;
  cv_.notify_all();
  return a;
}

}  // namespace velmo
