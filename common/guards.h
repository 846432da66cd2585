// Small owners that release what a command holds on every path: a text the
// host handed out, a certificate store, a certificate context, a malloc()
// buffer. Each releases in its destructor; Release() gives the thing up early
// and Take() hands it to the caller, who owns it from then on.
#pragma once

#include <stdlib.h>

#include <windows.h>
#include <wincrypt.h>

// A text the host returned (ZDA_GetSource, ZDA_CompGetSource), released with ZDA_Free.
class HostText {
public:
    explicit HostText(LPSTR text = NULL) : text_(text) {}
    ~HostText() { Release(); }
    HostText(const HostText&) = delete;
    HostText& operator=(const HostText&) = delete;

    LPSTR get() const { return text_; }
    void Reset(LPSTR text)
    {
        Release();
        text_ = text;
    }
    void Release();

private:
    LPSTR text_;
};

// How a store close that does not return TRUE is told: not at all (the setup
// dialog), in its own message box (incoming side), or on standard output with
// "CertCloseStore returns %d \n" (outgoing side).
enum StoreCloseReport { CLOSE_SILENT, CLOSE_IN_BOX, CLOSE_ON_STDOUT };

// A certificate store, closed with CERT_CLOSE_STORE_CHECK_FLAG. Contexts
// taken from it must be released first, so declare their guards after it.
class StoreHandle {
public:
    // boxText: the box's text for CLOSE_IN_BOX.
    explicit StoreHandle(StoreCloseReport report = CLOSE_SILENT, const char* boxText = NULL)
        : store_(NULL), report_(report), boxText_(boxText)
    {
    }
    ~StoreHandle() { Close(); }
    StoreHandle(const StoreHandle&) = delete;
    StoreHandle& operator=(const StoreHandle&) = delete;

    // Opens a system store of the current user ("MY", "CA", ...); false when it cannot.
    bool OpenSystem(LPCSTR name);
    HCERTSTORE get() const { return store_; }
    // Where a call that takes an array of stores finds this one.
    HCERTSTORE* address() { return &store_; }
    void Close();

private:
    HCERTSTORE store_;
    StoreCloseReport report_;
    const char* boxText_;
};

// A certificate context, freed with CertFreeCertificateContext.
class CertContext {
public:
    explicit CertContext(PCCERT_CONTEXT cert = NULL) : cert_(cert) {}
    ~CertContext() { Reset(NULL); }
    CertContext(const CertContext&) = delete;
    CertContext& operator=(const CertContext&) = delete;

    PCCERT_CONTEXT get() const { return cert_; }
    // For functions that return a context through a pointer; frees the held one first.
    PCCERT_CONTEXT* receive()
    {
        Reset(NULL);
        return &cert_;
    }
    void Reset(PCCERT_CONTEXT cert);
    PCCERT_CONTEXT Take()
    {
        PCCERT_CONTEXT cert = cert_;
        cert_ = NULL;
        return cert;
    }

private:
    PCCERT_CONTEXT cert_;
};

// A certificate chain, released with CertFreeCertificateChain.
class ChainContext {
public:
    explicit ChainContext(PCCERT_CHAIN_CONTEXT chain = NULL) : chain_(chain) {}
    ~ChainContext()
    {
        if (chain_ != NULL)
            CertFreeCertificateChain(chain_);
    }
    ChainContext(const ChainContext&) = delete;
    ChainContext& operator=(const ChainContext&) = delete;

    PCCERT_CHAIN_CONTEXT get() const { return chain_; }

private:
    PCCERT_CHAIN_CONTEXT chain_;
};

// Certificate contexts gathered for one call that takes them as an array.
template <DWORD N>
class CertContextArray {
public:
    CertContextArray() : count_(0) {}
    ~CertContextArray()
    {
        for (DWORD i = 0; i < count_; ++i)
            CertFreeCertificateContext(items_[i]);
    }
    CertContextArray(const CertContextArray&) = delete;
    CertContextArray& operator=(const CertContextArray&) = delete;

    bool Full() const { return count_ >= N; }
    // Takes the context over; the array must not be full.
    void Add(PCCERT_CONTEXT cert) { items_[count_++] = cert; }
    PCCERT_CONTEXT* data() { return items_; }
    DWORD count() const { return count_; }

private:
    PCCERT_CONTEXT items_[N];
    DWORD count_;
};

// A malloc() buffer, released with free().
template <typename T>
class HeapBuffer {
public:
    explicit HeapBuffer(T* data = NULL) : data_(data) {}
    ~HeapBuffer() { free(data_); }
    HeapBuffer(const HeapBuffer&) = delete;
    HeapBuffer& operator=(const HeapBuffer&) = delete;

    T* get() const { return data_; }
    T* operator->() const { return data_; }
    void Reset(T* data)
    {
        free(data_);
        data_ = data;
    }
    void Release() { Reset(NULL); }
    T* Take()
    {
        T* data = data_;
        data_ = NULL;
        return data;
    }

private:
    T* data_;
};
