// What the commands that fetch without anyone at the terminal (update, ledger)
// share: the answers to questions and the kinds they are asked for.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

#include "common/msgbox.h"
#include "common/text.h"
#include "download/update.h"

namespace velmo::cli {

// Reports go to standard error; questions are answered No/Cancel.
inline void AnswerUnattended() {
  SetMsgBoxHandler([](const MsgRequest& r) -> int {
    if (r.title.empty()) std::fprintf(stderr, "%s\n", r.text.c_str());
    else std::fprintf(stderr, "%s: %s\n", r.title.c_str(), r.text.c_str());
    if (r.buttons == vbOKOnly) return vbOK;
    return r.buttons == vbYesNo ? vbNo : vbCancel;
  });
}

// The data IDs of a --kinds value, or the mode's usual set when it is empty; the
// catalogue is read either way (a failure is raised).
inline std::vector<std::string> KindsOf(const std::string& list, const std::string& mode) {
  std::vector<std::string> known = UpdateKinds(mode);
  if (list.empty()) return known;
  std::vector<std::string> ids;
  for (const auto& k : text::split(list, ','))
    if (!k.empty()) ids.push_back(k);
  return ids;
}

}  // namespace velmo::cli
