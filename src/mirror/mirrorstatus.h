// What the last syncs of the server copy left: the time of the last good one and
// the last failure, kept in the database folder (velmo-mirror.status) so that
// `mirror status` answers while the server is away.
#pragma once
#include <string>

namespace velmo::mirror {

struct MirrorStatus {
  std::string lastSync;       // yyyy-mm-dd hh:mm:ss, empty: never
  std::string lastError;      // empty: the last sync went well
  std::string lastErrorTime;
};

class MirrorStatusFile {
 public:
  static std::string path();
  static MirrorStatus read();
  static void recordSuccess();
  static void recordFailure(const std::string& message);
};

}  // namespace velmo::mirror
