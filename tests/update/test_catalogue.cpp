#include <gtest/gtest.h>

#include <string>

#include "update/catalogue.h"

TEST(Catalogue, RowsAreIndexedByTypeWithTheirNames) {
    const char* names[CATALOGUE_SIZE] = {"Not Real",
                                         "Pavo Tessel",
                                         "Pavo Quint",
                                         "Pavo Tessel G2",
                                         "Pavo Tessel A3",
                                         "Marlow halcyon",
                                         "Marlow Ambit",
                                         "Pavo Quint Student",
                                         "Pavo Quint Professional",
                                         "Pavo Quint Student GJ",
                                         "Pavo Quint Professional GJ",
                                         "Marlow Ambit Full",
                                         "Pavo Quint Student",
                                         "Pavo Quint Professional",
                                         "Pavo Quint Student GJ",
                                         "Pavo Quint Professional GJ",
                                         "Solenne",
                                         "Brisa"};
    for (std::uint32_t type = 0; type < CATALOGUE_SIZE; ++type) {
        const SMachineInfo& row = LookupMachine(type);
        EXPECT_EQ(type, row.type);
        EXPECT_STREQ(names[type], row.name);
        if (type < 16) {
            EXPECT_EQ(0u, row.bootVersion | row.bootBuild | row.appVersion | row.appBuild |
                              row.bootModeVersion | row.pictureId | row.appImageId | row.bootImageId)
                << type;
            EXPECT_EQ(0, row.appBeta);
        }
    }
}

TEST(Catalogue, ServedRowsCarryTheBuildsFirmware) {
    for (std::uint32_t type : {16u, 17u}) {
        const SMachineInfo& row = LookupMachine(type);
        EXPECT_EQ(0x01080000u, row.bootVersion);
        EXPECT_EQ(8462u, row.bootBuild);
        EXPECT_EQ(0x02060000u, row.appVersion);
        EXPECT_EQ(14186u, row.appBuild);
        EXPECT_EQ(0u, row.bootModeVersion);
        EXPECT_EQ(0, row.appBeta);
        EXPECT_EQ(171u, row.pictureId);
        EXPECT_EQ(169u, row.appImageId);
        EXPECT_EQ(170u, row.bootImageId);
    }
}

TEST(Catalogue, TypesBeyondTheTable_GetTheUnknownRow) {
    for (std::uint32_t type : {18u, 19u, 0xFFFFFFFFu}) {
        EXPECT_STREQ("Unknown", LookupMachine(type).name);
        EXPECT_EQ(0u, LookupMachine(type).appImageId);
    }
}

TEST(Catalogue, ServedTest_UsesBitTypeMinusOneOfTheMask) {
    for (std::uint32_t type = 0; type <= 19; ++type) {
        EXPECT_EQ(type == 16 || type == 17, IsServedType(type, SERVED_TYPE_MASK)) << type;
    }
    EXPECT_TRUE(IsServedType(1, 0x1));
    EXPECT_TRUE(IsServedType(5, 0x10));
    EXPECT_FALSE(IsServedType(0, 0xFFFFFFFF));
    EXPECT_FALSE(IsServedType(18, 0xFFFFFFFF));
}

TEST(Catalogue, ServedModels_TwoRowsThenTheEmptyNamedTerminator) {
    const auto models = ServedModels();
    ASSERT_EQ(3u, models.size());
    EXPECT_STREQ("Solenne", models[0].name);
    EXPECT_STREQ("Brisa", models[1].name);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(0x02060000u, models[i].appVersion);
        EXPECT_EQ(14186u, models[i].appBuild);
        EXPECT_EQ(0x01080000u, models[i].bootVersion);
        EXPECT_EQ(8462u, models[i].bootBuild);
        EXPECT_EQ(0u, models[i].appImageId | models[i].bootImageId | models[i].pictureId);
    }
    ASSERT_NE(nullptr, models[2].name);
    EXPECT_STREQ("", models[2].name);
    EXPECT_EQ(0u, models[2].type);
}
