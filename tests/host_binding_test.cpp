// Loading the plug-in into a host, binding the host's functions, the events.
#include <string.h>

#include <zplatform.h>

#include "common/host_api.h"
#include "support/test_support.h"

class HostBindingTest : public PluginFixture {};

TEST_F(HostBindingTest, LoadsIntoAHostThatExportsAllNames)
{
    Load();
    EXPECT_NE(plugin_.module, nullptr);
}

TEST(HostApiTest, BindsAllSlotsInOrderAndNeverLooksUpAgain)
{
    HostApi api;
    EXPECT_FALSE(api.IsBound());
    ASSERT_TRUE(api.Bind());
    EXPECT_TRUE(api.IsBound());
    for (int i = 0; i < HOST_API_SLOT_COUNT; ++i)
        EXPECT_EQ(api.slots[i], GetProcAddress(GetModuleHandleA(NULL), kHostApiNames[i])) << kHostApiNames[i];
    unsigned before = ZPlatformProcLookupCount();
    EXPECT_TRUE(api.Bind());
    EXPECT_EQ(ZPlatformProcLookupCount(), before);
}

TEST(HostApiTest, HostWithoutConnectRefusesTheLoad)
{
    ProcessResult r = RunProcess({BARE_HOST_PATH, ZSMIME_PLUGIN_PATH});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "refused\n");
}

TEST(HostApiTest, SlotTableHas54DistinctNamesEndingWithConnect)
{
    EXPECT_STREQ(kHostApiNames[0], "ZDA_GetVersion");
    EXPECT_STREQ(kHostApiNames[23], "ZDA_GetSource");
    EXPECT_STREQ(kHostApiNames[41], "ZDA_Free");
    EXPECT_STREQ(kHostApiNames[53], "ZDA_Connect");
    for (int i = 0; i < HOST_API_SLOT_COUNT; ++i)
        for (int j = i + 1; j < HOST_API_SLOT_COUNT; ++j)
            EXPECT_STRNE(kHostApiNames[i], kHostApiNames[j]);
}
