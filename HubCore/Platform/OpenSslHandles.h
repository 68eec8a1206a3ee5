#pragma once

#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <memory>

// Owning handles for the OpenSSL objects the hub and its tools make, so that
// each object is freed by the one function that matches how it was obtained.
namespace Hub::OpenSsl {

namespace Detail {

template <auto free>
struct Deleter {
    template <typename T>
    void operator()(T* handle) const
    {
        free(handle);
    }
};

// A stack from a get1 call owns its certificates; one from get0 (or one the
// caller filled with certificates it still holds) owns only the stack.
inline void freeStackAndCertificates(STACK_OF(X509) * stack) { sk_X509_pop_free(stack, X509_free); }
inline void freeStackOnly(STACK_OF(X509) * stack) { sk_X509_free(stack); }

// OPENSSL_free is a macro that records the caller's file and line.
inline void freeText(unsigned char* text) { OPENSSL_free(text); }

} // namespace Detail

using Bio = std::unique_ptr<BIO, Detail::Deleter<BIO_free>>;
using Cms = std::unique_ptr<CMS_ContentInfo, Detail::Deleter<CMS_ContentInfo_free>>;
using X509Ptr = std::unique_ptr<X509, Detail::Deleter<X509_free>>;
using X509Stack = std::unique_ptr<STACK_OF(X509), Detail::Deleter<Detail::freeStackAndCertificates>>;
using X509StackView = std::unique_ptr<STACK_OF(X509), Detail::Deleter<Detail::freeStackOnly>>;
using Store = std::unique_ptr<X509_STORE, Detail::Deleter<X509_STORE_free>>;
using StoreContext = std::unique_ptr<X509_STORE_CTX, Detail::Deleter<X509_STORE_CTX_free>>;
using Asn1Object = std::unique_ptr<ASN1_OBJECT, Detail::Deleter<ASN1_OBJECT_free>>;
using PKey = std::unique_ptr<EVP_PKEY, Detail::Deleter<EVP_PKEY_free>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, Detail::Deleter<EVP_MD_CTX_free>>;
// Text that OpenSSL allocated for the caller, such as ASN1_STRING_to_UTF8's.
using Text = std::unique_ptr<unsigned char, Detail::Deleter<Detail::freeText>>;

} // namespace Hub::OpenSsl
