#include "registration/families.h"

namespace velmo::reg {

std::vector<const FamilyDef*> BuiltinFamilies() {
  return {
      &ProgrammeFamily(),
      &MeetingFamily(),
  };
}

}  // namespace velmo::reg
