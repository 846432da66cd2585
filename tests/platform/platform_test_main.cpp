// Runs the platform tests and reports each one on a line of its own, which
// the Wine suite counts: "PLATFORM: PASS name", "PLATFORM: DIVERGES name:
// reason" (an expected divergence of Wine) or "PLATFORM: FAIL name".
#include <stdio.h>

#include <fstream>
#include <iterator>

#include "platform_test.h"

namespace {

std::string g_divergence;  // of the running test, under Wine only

class Report : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override { g_divergence.clear(); }

    void OnTestEnd(const ::testing::TestInfo& test) override
    {
        std::string name = std::string(test.test_suite_name()) + "." + test.name();
        const ::testing::TestResult& result = *test.result();
        bool diverged = !g_divergence.empty() && (result.Failed() || result.Skipped());
        if (diverged)
            printf("PLATFORM: DIVERGES %s: %s\n", name.c_str(), g_divergence.c_str());
        else if (result.Failed())
            printf("PLATFORM: FAIL %s\n", name.c_str());
        else if (!g_divergence.empty())
            printf("PLATFORM: PASS %s (the expected divergence did not show: %s)\n", name.c_str(),
                   g_divergence.c_str());
        else
            printf("PLATFORM: PASS %s\n", name.c_str());
        fflush(stdout);
    }
};

}  // namespace

std::string Fixture(const char* name)
{
    std::ifstream in(name, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "fixture " << name << " is missing";
        return std::string();
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

PCCERT_CONTEXT FixtureCert(const char* name)
{
    std::string der = Fixture(name);
    PCCERT_CONTEXT cert = CertCreateCertificateContext(X509_ASN_ENCODING, (const BYTE*)der.data(), (DWORD)der.size());
    EXPECT_NE(cert, nullptr) << name;
    return cert;
}

bool OnWine()
{
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void ExpectDivergenceOnWine(const char* reason)
{
    if (OnWine())
        g_divergence = reason;
}

bool WineLacks(const char* reason)
{
    ExpectDivergenceOnWine(reason);
    return OnWine();
}

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new Report);
    return RUN_ALL_TESTS();
}
