// The SavedConfig layout: fields cover exactly the documented bits, none
// overlaps another, and each keeps its value.
#include <gtest/gtest.h>

#include "corvex/config/records.h"

namespace {

const SavedConfigField kAllFields[] = {
    kSavedDdrFreq,      kSavedTckMax533Ok, kSavedFsbFreq,     kSavedEccLane,     kSavedNoInterleave,
    kSavedFastRefresh,  kSavedCasLatency,  kSavedChARankMask, kSavedChBRankMask, kSavedChADimmTypes,
    kSavedChBDimmTypes, kSavedTRcd,        kSavedTRp,         kSavedTRas,        kSavedTWr,
    kSavedTRfc,         kSavedTRrd,        kSavedTRtp,        kSavedTWtr,        kSavedChARankCodes,
    kSavedChBRankCodes,
};

TEST(SavedConfigLayout, FieldsCoverExactlyTheDocumentedBitsWithoutOverlap) {
    SavedConfig saved = {};
    for (const SavedConfigField& field : kAllFields) {
        SavedConfig alone = {};
        SavedConfigPut(&alone, field, 0xFFFFFFFFu);
        EXPECT_EQ(saved.word[field.word] & alone.word[field.word], 0u)
            << "field at word " << int(field.word) << " bit " << int(field.shift) << " overlaps";
        SavedConfigPut(&saved, field, 0xFFFFFFFFu);
    }
    // Word 0 bits 11:10 and 15 are unused.
    EXPECT_EQ(saved.word[0], 0xFFFF73FFu);
    EXPECT_EQ(saved.word[1], 0xFFFFFFFFu);
    EXPECT_EQ(saved.word[2], 0xFFFFFFFFu);
    EXPECT_EQ(saved.word[3], 0xFFFFFFFFu);
}

TEST(SavedConfigLayout, PutCutsToTheFieldAndKeepsItsNeighbours) {
    SavedConfig saved = {};
    SavedConfigPut(&saved, kSavedTRfc, 0x2A);
    SavedConfigPut(&saved, kSavedTWr, 0x1F);  // 5 bits into a 4-bit field
    SavedConfigPut(&saved, kSavedTRrd, 0x9);
    EXPECT_EQ(SavedConfigGet(&saved, kSavedTRfc), 0x2Au);
    EXPECT_EQ(SavedConfigGet(&saved, kSavedTWr), 0xFu);
    EXPECT_EQ(SavedConfigGet(&saved, kSavedTRrd), 0x9u);
    EXPECT_EQ(saved.word[1], (0x9u << 20) | (0x2Au << 14) | (0xFu << 10));
    SavedConfigPut(&saved, kSavedChARankCodes, 0x86070000u);
    EXPECT_EQ(SavedConfigGet(&saved, kSavedChARankCodes), 0x86070000u);
}

}  // namespace
