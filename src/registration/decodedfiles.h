// Records of an archive's files decoded ahead of their registration, by the
// thread that unpacks the next archive while the writer registers the one before.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "registration/layout.h"

namespace velmo::reg {

// One file read and decoded whole by one layout: the values the record-upsert
// loop would compute for the layout's fields, record by record.
struct DecodedFile {
  const Layout* layout = nullptr;
  std::string raceDate;
  std::string bytes;  // the whole records, CR LF included
  std::vector<std::vector<db::Value>> rows;
  std::string_view record(size_t i) const {
    const size_t rl = static_cast<size_t>(layout->recordLength);
    return std::string_view(bytes).substr(i * rl, rl);
  }
};

// The decoded files of one archive, by full path. Decoding touches no database:
// it is the layout's field rules over the file's bytes. A file that does not
// decode cleanly (a cut record, a missing CR LF, bytes that are not Shift_JIS, an
// undated name) is left out, and the writer reads it as it always does, so its
// warnings and errors come in their place and in their words.
class DecodedFiles {
 public:
  // Bytes decoded ahead per archive, at most: a decoded record takes about four
  // times its bytes, and the pipeline holds a few archives. Larger files are
  // left to the writer, which streams them.
  static constexpr size_t kArchiveLimit = 4u << 20;

  // Decodes the file at path with the layout; false (nothing kept) when it does not decode cleanly.
  bool add(const std::string& path, const Layout& layout);
  // Hands over the file decoded by exactly this layout (nullptr when none), once.
  std::unique_ptr<DecodedFile> take(const std::string& path, const Layout& layout);
  size_t size() const { return files_.size(); }

  // The set the record-upsert loop of this thread takes its files from, while in scope.
  class Use {
   public:
    explicit Use(DecodedFiles* files);
    ~Use();
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;

   private:
    DecodedFiles* before_;
  };
  // This thread's set in use, or nullptr.
  static DecodedFiles* current();

 private:
  std::map<std::string, std::unique_ptr<DecodedFile>> files_;
  size_t bytes_ = 0;
};

}  // namespace velmo::reg
