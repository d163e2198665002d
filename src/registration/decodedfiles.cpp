#include "registration/decodedfiles.h"

#include <fstream>

namespace velmo::reg {

namespace {
thread_local DecodedFiles* tCurrent = nullptr;
}

bool DecodedFiles::add(const std::string& path, const Layout& layout) {
  try {
    const size_t rl = static_cast<size_t>(layout.recordLength);
    if (rl < 2) return false;
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const auto end = in.tellg();
    if (end <= 0) return false;
    const size_t len = static_cast<size_t>(end);
    // Only whole records: any fragment is for the writer to report.
    if (len % rl != 0 || bytes_ + len > kArchiveLimit) return false;
    auto f = std::make_unique<DecodedFile>();
    f->layout = &layout;
    f->raceDate = RaceDateFromPath(path);
    f->bytes.resize(len);
    in.seekg(0, std::ios::beg);
    if (!in.read(f->bytes.data(), static_cast<std::streamsize>(len))) return false;
    const size_t n = len / rl;
    f->rows.resize(n);
    const size_t nFields = layout.fields.size();
    for (size_t r = 0; r < n; ++r) {
      std::string_view rec = f->record(r);
      if (rec[rl - 2] != '\r' || rec[rl - 1] != '\n') return false;
      RecordView view(rec, f->raceDate, static_cast<long>(r + 1));
      auto& row = f->rows[r];
      row.reserve(nFields);
      for (size_t i = 0; i < nFields; ++i) row.push_back(layout.value(i, view));
    }
    bytes_ += len;
    files_[path] = std::move(f);
    return true;
  } catch (const std::exception&) {
    return false;  // the writer meets the same fault in its place
  }
}

std::unique_ptr<DecodedFile> DecodedFiles::take(const std::string& path, const Layout& layout) {
  auto it = files_.find(path);
  if (it == files_.end() || it->second->layout != &layout) return nullptr;
  auto f = std::move(it->second);
  files_.erase(it);
  return f;
}

DecodedFiles::Use::Use(DecodedFiles* files) : before_(tCurrent) { tCurrent = files; }
DecodedFiles::Use::~Use() { tCurrent = before_; }
DecodedFiles* DecodedFiles::current() { return tCurrent; }

}  // namespace velmo::reg
