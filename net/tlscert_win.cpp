#include "net/tlscert_win.h"

#include "base/handle_win.h"

#include <wincrypt.h>
#include <schannel.h>

#include <cstdio>

namespace {

using CertPtr = ScopedHandle<NullHandleTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
using ChainPtr = ScopedHandle<NullHandleTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;

std::wstring wide(const std::string& text) {
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, result.data(), n);
    result.resize(static_cast<std::size_t>(n - 1));
    return result;
}

std::string describe(DWORD error, const std::string& server) {
    switch (error) {
    case 0:
        return {};
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
        return "certificate not trusted for " + server;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "certificate is for another name than " + server;
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "certificate expired for " + server;
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "certificate is not meant for a server: " + server;
    case static_cast<DWORD>(CERT_E_REVOKED):
    case static_cast<DWORD>(CRYPT_E_REVOKED):
        return "certificate revoked for " + server;
    default: {
        char code[16];
        std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(error));
        return "certificate check failed for " + server + " (" + code + ")";
    }
    }
}

} // namespace

std::string VerifyServerCertificate(CtxtHandle* context, const std::string& serverName) {
    if (!context)
        return "no TLS session with " + serverName;
    // Without a name the policy would skip the name check and accept any trusted certificate.
    if (serverName.empty())
        return "no server name to check the certificate against";
    PCCERT_CONTEXT remote = nullptr;
    if (QueryContextAttributesA(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK ||
        !remote)
        return "no certificate from " + serverName;
    CertPtr certificate(remote);

    // Ask for a chain good for server authentication; the intermediates the server sent come
    // with its certificate's store.
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    PCCERT_CHAIN_CONTEXT rawChain = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate.Get(), nullptr, certificate.Get()->hCertStore,
                                 &chainPara, 0, nullptr, &rawChain) ||
        !rawChain)
        return describe(GetLastError(), serverName);
    ChainPtr chain(rawChain);

    std::wstring name = wide(serverName);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policyPara{};
    policyPara.cbSize = sizeof policyPara;
    policyPara.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS policyStatus{};
    policyStatus.cbSize = sizeof policyStatus;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.Get(), &policyPara,
                                          &policyStatus))
        return describe(GetLastError(), serverName);
    return describe(policyStatus.dwError, serverName);
}
