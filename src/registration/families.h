// Every file family the session knows. Each family's source file defines its
// table; this list gathers them for the layout registry.
#pragma once
#include <vector>

#include "registration/layout.h"

namespace velmo::reg {

const FamilyDef& ProgrammeFamily();  // BA, BAA, BAB -> 番組データ
const FamilyDef& MeetingFamily();    // KAA -> 開催データ

std::vector<const FamilyDef*> BuiltinFamilies();

}  // namespace velmo::reg
