// The wait cursor for as long as one object lives.
#pragma once

namespace velmo::screens {

class CHourglass {
 public:
  CHourglass();
  ~CHourglass();
  CHourglass(const CHourglass&) = delete;
  CHourglass& operator=(const CHourglass&) = delete;
};

}  // namespace velmo::screens
