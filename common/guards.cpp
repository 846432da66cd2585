#include "common/guards.h"

#include <stdio.h>

#include "common/host_api.h"
#include "common/messages.h"

void HostText::Release()
{
    if (text_ != NULL)
        g_host.Free(text_);
    text_ = NULL;
}

bool StoreHandle::OpenSystem(LPCSTR name)
{
    Close();
    store_ = CertOpenSystemStoreA(0, name);
    return store_ != NULL;
}

void StoreHandle::Close()
{
    if (store_ == NULL)
        return;
    BOOL closed = CertCloseStore(store_, CERT_CLOSE_STORE_CHECK_FLAG);
    store_ = NULL;
    if (closed == TRUE)
        return;
    if (report_ == CLOSE_IN_BOX)
        ShowMessage(boxText_);
    else if (report_ == CLOSE_ON_STDOUT)
        printf(TEXT_CLOSE_STORE_RESULT, closed);
}

void CertContext::Reset(PCCERT_CONTEXT cert)
{
    if (cert_ != NULL)
        CertFreeCertificateContext(cert_);
    cert_ = cert;
}
