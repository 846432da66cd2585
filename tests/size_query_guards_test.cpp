// The caller's side of the size-query contract, and the store guard's close.
#include <vector>

#include <gtest/gtest.h>

#include "common/guards.h"
#include "common/size_query.h"
#include "support/box_recorder.h"
#include "support/cert_fixture.h"

namespace {

// A stand-in for a crypt32 output function that writes `output`, answering a
// too-small buffer with ERROR_MORE_DATA and the size it needs.
struct FakeOutput {
    std::vector<BYTE> output;
    DWORD failWith = 0;  // a failure other than the size, when not 0
    std::vector<DWORD> offered;  // the buffer sizes it was called with

    BOOL operator()(BYTE* out, DWORD* size)
    {
        offered.push_back(*size);
        if (failWith != 0) {
            SetLastError(failWith);
            return FALSE;
        }
        if (*size < output.size()) {
            *size = (DWORD)output.size();
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
        std::copy(output.begin(), output.end(), out);
        *size = (DWORD)output.size();
        return TRUE;
    }
};

SizeQueryOutcome Query(FakeOutput& fake, DWORD estimate, std::vector<BYTE>* got)
{
    BYTE* out = NULL;
    DWORD size = 0;
    SizeQueryOutcome outcome = QueryIntoNewBuffer(estimate, [&](BYTE* o, DWORD* s) { return fake(o, s); }, &out, &size);
    if (out != NULL) {
        got->assign(out, out + size);
        EXPECT_EQ(out[size], 0);  // the spare terminator
        free(out);
    }
    return outcome;
}

TEST(SizeQueryTest, CallsOnceWhenTheEstimateIsEnoughAndAgainWithTheSizeAsked)
{
    FakeOutput fake{{1, 2, 3, 4, 5}, 0, {}};
    std::vector<BYTE> got;
    EXPECT_EQ(Query(fake, 16, &got), QUERY_DONE);
    EXPECT_EQ(got, fake.output);
    EXPECT_EQ(fake.offered, std::vector<DWORD>({16}));

    fake.offered.clear();
    EXPECT_EQ(Query(fake, 2, &got), QUERY_DONE);
    EXPECT_EQ(got, fake.output);
    EXPECT_EQ(fake.offered, std::vector<DWORD>({2, 5}));
}

TEST(SizeQueryTest, TellsWhichCallFailedAndKeepsTheLastError)
{
    FakeOutput fake{{1, 2, 3}, CRYPT_E_UNKNOWN_ALGO, {}};
    std::vector<BYTE> got;
    EXPECT_EQ(Query(fake, 16, &got), QUERY_FAILED);
    EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_UNKNOWN_ALGO);
    EXPECT_TRUE(got.empty());

    // A function that asks for more a second time fails the refill.
    struct Greedy {
        BOOL operator()(BYTE*, DWORD* size)
        {
            *size += 10;
            SetLastError(ERROR_MORE_DATA);
            return FALSE;
        }
    } greedy;
    BYTE* out = NULL;
    DWORD size = 0;
    EXPECT_EQ(QueryIntoNewBuffer(4, greedy, &out, &size), QUERY_REFILL_FAILED);
    EXPECT_EQ(out, nullptr);
}

class StoreGuardTest : public CertStoreFixture {};

TEST_F(StoreGuardTest, AFailedCloseIsToldOnlyInTheWayAsked)
{
    const TestCert& alice = TestPki::Instance().Get("alice");
    InstallCert("CA", alice);
    BoxRecorder recorder;
    {
        CertContext held;  // outlives the store: its close is pending
        StoreHandle store(CLOSE_IN_BOX, "closed late");
        ASSERT_TRUE(store.OpenSystem("CA"));
        held.Reset(CertEnumCertificatesInStore(store.get(), NULL));
        ASSERT_NE(held.get(), nullptr);
    }
    EXPECT_EQ(recorder.Texts(), std::vector<std::string>({"closed late"}));
    {
        StoreHandle store(CLOSE_IN_BOX, "closed late");
        ASSERT_TRUE(store.OpenSystem("CA"));
        CertContext released(CertEnumCertificatesInStore(store.get(), NULL));  // freed before the close
    }
    {
        CertContext held;
        StoreHandle silent;
        ASSERT_TRUE(silent.OpenSystem("CA"));
        held.Reset(CertEnumCertificatesInStore(silent.get(), NULL));
    }
    EXPECT_EQ(recorder.Texts().size(), 1u);
}

}  // namespace
