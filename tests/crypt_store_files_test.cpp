// The system store folders against things planted in them.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include "support/test_pki.h"
#include "support/test_support.h"

namespace fs = std::filesystem;

namespace {

class StoreFilesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (const char* old = getenv("XDG_DATA_HOME"))
            old_ = old;
        setenv("XDG_DATA_HOME", dir_.path().c_str(), 1);
    }
    void TearDown() override
    {
        if (old_.empty())
            unsetenv("XDG_DATA_HOME");
        else
            setenv("XDG_DATA_HOME", old_.c_str(), 1);
    }

    std::string Stores() const { return dir_.File("zsmime/stores"); }

    // The name, without extension, of the certificate's file in the store.
    std::string Installed(const char* store, const char* name, bool withKey)
    {
        InstallCert(store, TestPki::Instance().Get(name), withKey);
        for (const auto& entry : fs::directory_iterator(Stores() + "/" + store))
            if (entry.path().extension() == ".cer" &&
                ReadFile(entry.path()) == ReadFile(TestPki::Instance().Get(name).certDer))
                return entry.path().stem();
        ADD_FAILURE() << name << " not filed";
        return "";
    }

    TempDir dir_;
    std::string old_;
};

bool HasKey(PCCERT_CONTEXT context)
{
    DWORD size = 0;
    return CertGetCertificateContextProperty(context, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) != FALSE;
}

// Whether the store's first certificate has its private key; -1 when empty.
int FirstHasKey(const char* name)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, name);
    PCCERT_CONTEXT first = CertEnumCertificatesInStore(store, nullptr);
    int result = first == nullptr ? -1 : HasKey(first);
    CertFreeCertificateContext(first);
    CertCloseStore(store, 0);
    return result;
}

int CountIn(const char* name)
{
    HCERTSTORE store = CertOpenSystemStoreA(0, name);
    int count = 0;
    PCCERT_CONTEXT context = nullptr;
    while ((context = CertEnumCertificatesInStore(store, context)) != nullptr)
        ++count;
    CertCloseStore(store, 0);
    return count;
}

TEST_F(StoreFilesTest, WritesNeverFollowAPlantedLink)
{
    const std::string hex = Installed("MY", "alice", false);
    const std::string my = Stores() + "/MY/";
    const std::string victim = dir_.File("victim");
    WriteFile(victim, "untouched");
    const std::string pid = std::to_string(getpid());
    ASSERT_EQ(symlink(victim.c_str(), (my + hex + ".key.tmp" + pid).c_str()), 0);
    ASSERT_EQ(symlink(victim.c_str(), (my + "index.tmp" + pid).c_str()), 0);

    InstallCert("MY", TestPki::Instance().Get("alice"), true);
    InstallCert("MY", TestPki::Instance().Get("bob"), false);  // rewrites the index
    EXPECT_EQ(ReadFile(victim), "untouched");
    EXPECT_EQ(FirstHasKey("MY"), 1);
    EXPECT_EQ(CountIn("MY"), 2);
    EXPECT_FALSE(fs::is_symlink(my + hex + ".key"));
}

TEST_F(StoreFilesTest, FoldersOthersMayWriteAreRefused)
{
    Installed("CA", "alice", false);
    const std::string ca = Stores() + "/CA";
    EXPECT_EQ(fs::status(ca).permissions() & fs::perms::all, fs::perms::owner_all);

    chmod(ca.c_str(), 0777);
    EXPECT_EQ(CertOpenSystemStoreA(0, "CA"), nullptr);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
    chmod(ca.c_str(), 0755);
    chmod(Stores().c_str(), 0770);
    EXPECT_EQ(CertOpenSystemStoreA(0, "CA"), nullptr);
    chmod(Stores().c_str(), 0755);
    chmod(dir_.File("zsmime").c_str(), 0777);
    EXPECT_EQ(CertOpenSystemStoreA(0, "CA"), nullptr);
    chmod(dir_.File("zsmime").c_str(), 0700);
    EXPECT_EQ(CountIn("CA"), 1);
}

TEST_F(StoreFilesTest, FoldersOfAnotherUserAreRefused)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "only root can give a folder to another user";
    Installed("CA", "alice", false);
    for (const std::string& folder : {dir_.File("zsmime"), Stores(), Stores() + "/CA"}) {
        SCOPED_TRACE(folder);
        ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
        EXPECT_EQ(CertOpenSystemStoreA(0, "CA"), nullptr);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        ASSERT_EQ(chown(folder.c_str(), geteuid(), getegid()), 0);
    }
    EXPECT_EQ(CountIn("CA"), 1);
}

TEST_F(StoreFilesTest, OnlyRegularFilesOfSaneSizeAreRead)
{
    const std::string hex = Installed("MY", "bob", true);
    const std::string my = Stores() + "/MY/";
    unlink((my + hex + ".key").c_str());
    ASSERT_EQ(mkfifo((my + hex + ".key").c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((my + "fifo.cer").c_str(), 0600), 0);
    ASSERT_EQ(symlink("/dev/zero", (my + "zero.cer").c_str()), 0);
    ASSERT_EQ(symlink(TestPki::Instance().Get("carol").certDer.c_str(), (my + "link.cer").c_str()), 0);
    WriteFile(my + "big.cer", ReadFile(TestPki::Instance().Get("alice").certDer) + std::string(1 << 20, '\0'));

    EXPECT_EQ(CountIn("MY"), 1);  // bob alone, and without his key
    EXPECT_EQ(FirstHasKey("MY"), 0);
}

TEST_F(StoreFilesTest, IndexLinesNameOnlyFilesInsideTheStore)
{
    Installed("CA", "carol", false);
    const std::string outside = Stores() + "/x.cer";
    WriteFile(outside, ReadFile(TestPki::Instance().Get("carol").certDer));
    WriteFile(Stores() + "/CA/index", "../x\n/etc/passwd\n..\n");

    HCERTSTORE store = CertOpenSystemStoreA(0, "CA");
    PCCERT_CONTEXT carol = CertEnumCertificatesInStore(store, nullptr);
    ASSERT_NE(carol, nullptr);
    EXPECT_TRUE(CertDeleteCertificateFromStore(carol));
    CertCloseStore(store, 0);
    EXPECT_EQ(CountIn("CA"), 0);
    EXPECT_TRUE(fs::exists(outside));
}

TEST_F(StoreFilesTest, ReplacingWithAKeylessCopyKeepsTheKey)
{
    const std::string hex = Installed("MY", "alice", true);
    HCERTSTORE store = CertOpenSystemStoreA(0, "MY");
    const std::string der = ReadFile(TestPki::Instance().Get("alice").certDer);
    PCCERT_CONTEXT added = nullptr;
    ASSERT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                                 (DWORD)der.size(), CERT_STORE_ADD_REPLACE_EXISTING,
                                                 &added));
    EXPECT_TRUE(HasKey(added));
    CertFreeCertificateContext(added);
    CertCloseStore(store, 0);
    EXPECT_TRUE(fs::exists(Stores() + "/MY/" + hex + ".key"));
    EXPECT_EQ(FirstHasKey("MY"), 1);

    // The same replace failing to write (a folder is in the certificate
    // file's way; the certificate is read from a file copied in by hand).
    const std::string my = Stores() + "/MY/";
    fs::rename(my + hex + ".cer", my + "alice.cer");
    fs::create_directory(my + hex + ".cer");
    store = CertOpenSystemStoreA(0, "MY");
    EXPECT_FALSE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, (const BYTE*)der.data(),
                                                  (DWORD)der.size(), CERT_STORE_ADD_REPLACE_EXISTING,
                                                  nullptr));
    EXPECT_EQ(GetLastError(), (DWORD)CRYPT_E_FILE_ERROR);
    CertCloseStore(store, 0);
    EXPECT_TRUE(fs::exists(my + hex + ".key"));
}

}  // namespace
