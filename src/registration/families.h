// Every file family the session knows. Each family's source file defines its
// table; this list gathers them for the layout registry.
#pragma once
#include <vector>

#include "registration/layout.h"

namespace velmo::reg {

const FamilyDef& ProgrammeFamily();  // BA, BAA, BAB -> 番組データ
const FamilyDef& MeetingFamily();    // KAA -> 開催データ
// Entries, registered horses, results, result extensions, horse basic data.
const FamilyDef& EntryFamily();              // KYC, KYD, KYE, KYF, KYG -> 競走馬データ
const FamilyDef& RegisteredHorseFamily();    // KTA -> 登録馬データ
const FamilyDef& HorseExtensionFamily();     // KKA -> 競走馬拡張データ
const FamilyDef& ResultSEBFamily();          // SEB -> 成績データ
const FamilyDef& ResultSECFamily();          // SEC -> 成績データ
const FamilyDef& PreviousRunZEBFamily();     // ZEB -> 前走データ
const FamilyDef& PreviousRunZECFamily();     // ZEC -> 前走データ
const FamilyDef& ResultExtSKAFamily();       // SKA -> 成績拡張データ
const FamilyDef& ResultExtSKBFamily();       // SKB -> 成績拡張データ
const FamilyDef& PreviousRunExtZKAFamily();  // ZKA -> 前走拡張データ
const FamilyDef& PreviousRunExtZKBFamily();  // ZKB -> 前走拡張データ
const FamilyDef& RaceResultFamily();         // SRA -> 成績レースデータ
const FamilyDef& HorseBasicFamily();         // UKA, UKB, UKC -> 馬基本データ
const FamilyDef& HorseDeletionFamily();      // MZA (and MSA files) -> 馬基本データ

// Pre-race, payouts, training, odds, masters, information.
const FamilyDef& PreRaceFamily();      // TY, TYA, TYB -> 直前情報データ
const FamilyDef& PayoutFamily();       // HJA, HJB, HJC -> 払戻情報データ
const FamilyDef& TrainingFamily();     // CYA -> 調教分析データ
const FamilyDef& OddsFamily();         // OZ -> 基準オッズデータ (and 基準オッズ単複, 基準オッズ馬連)
const FamilyDef& WideOddsFamily();     // OW -> 基準ワイドデータ (and 基準オッズワイド)
const FamilyDef& ExactaOddsFamily();   // OU record layout (rows go to 基準オッズ馬単)
const FamilyDef& TrioOddsFamily();     // OT record layout (rows go to 基準オッズ３連複)
const FamilyDef& OddsLineFamily();     // OV line layout (lines are kept as files under kodds/)
const FamilyDef& JockeyFamily();       // KZA, KSA -> 騎手マスタ
const FamilyDef& TrainerFamily();      // CZA, CSA -> 調教師マスタ
const FamilyDef& JockeyCodeFamily();   // datachgKZ.txt -> S騎手コード変換
const FamilyDef& TrainerCodeFamily();  // datachgCZ.txt -> S調教師コード変換
const FamilyDef& InformationFamily();  // JOA -> 競走馬データ

std::vector<const FamilyDef*> BuiltinFamilies();

// The JRA-VAN files' record layouts (src/van/vanlayouts.cpp): the layout set of source "V".
std::vector<const FamilyDef*> VanFamilies();

}  // namespace velmo::reg
