#include "registration/families.h"

namespace velmo::reg {

std::vector<const FamilyDef*> BuiltinFamilies() {
  return {
      // Race programme and meeting files.
      &ProgrammeFamily(),
      &MeetingFamily(),
      // -- entries, registered horses, results, result extensions, horse basic data --
      &EntryFamily(),
      &RegisteredHorseFamily(),
      &HorseExtensionFamily(),
      &ResultSEBFamily(),
      &ResultSECFamily(),
      &PreviousRunZEBFamily(),
      &PreviousRunZECFamily(),
      &ResultExtSKAFamily(),
      &ResultExtSKBFamily(),
      &PreviousRunExtZKAFamily(),
      &PreviousRunExtZKBFamily(),
      &RaceResultFamily(),
      &HorseBasicFamily(),
      &HorseDeletionFamily(),
      // -- pre-race, payouts, training, odds, masters, information --
      &PreRaceFamily(),
      &PayoutFamily(),
      &TrainingFamily(),
      &OddsFamily(),
      &WideOddsFamily(),
      &ExactaOddsFamily(),
      &TrioOddsFamily(),
      &OddsLineFamily(),
      &JockeyFamily(),
      &TrainerFamily(),
      &JockeyCodeFamily(),
      &TrainerCodeFamily(),
      &InformationFamily(),
  };
}

}  // namespace velmo::reg
