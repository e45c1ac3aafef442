#include "net/tlscert_win.h"

#include "base/handle_win.h"
#include "base/utf_win.h"

#include <wincrypt.h>
#include <schannel.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using CertPtr = ScopedHandle<NullHandleTraits<PCCERT_CONTEXT, ::CertFreeCertificateContext>>;
using ChainPtr = ScopedHandle<NullHandleTraits<PCCERT_CHAIN_CONTEXT, ::CertFreeCertificateChain>>;

// Not a platform code: the policy answers CERT_E_EXPIRED on both sides of the validity period,
// and someone whose server clock is behind needs to hear which side it is.
constexpr DWORD kNotYetValid = 0xFFFFFFFF;

// Every failure of the chain itself counts; only "the revocation list could not be reached" does
// not, since revocation is not asked for (see the header).
constexpr DWORD kIgnoredTrustErrors =
    CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION;

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
    case kNotYetValid:
        return "certificate not yet valid for " + server;
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

// -1 when a certificate of the chain is not valid yet, 1 when one has expired, 0 otherwise.
int timeValidity(const CERT_CHAIN_CONTEXT& chain) {
    for (DWORD c = 0; c < chain.cChain; ++c) {
        const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[c];
        for (DWORD e = 0; e < simple.cElement; ++e)
            if (const LONG validity =
                    CertVerifyTimeValidity(nullptr, simple.rgpElement[e]->pCertContext->pCertInfo))
                return validity < 0 ? -1 : 1;
    }
    return 0;
}

// True when every certificate of the chain that limits its key's uses allows server
// authentication. Wine's chain engine does not carry an authority's limit down to the leaves it
// issued, so an authority meant for client certificates could vouch for a server.
bool everyLevelAllowsServers(const CERT_CHAIN_CONTEXT& chain) {
    for (DWORD c = 0; c < chain.cChain; ++c) {
        const CERT_SIMPLE_CHAIN& simple = *chain.rgpChain[c];
        for (DWORD e = 0; e < simple.cElement; ++e) {
            PCCERT_CONTEXT certificate = simple.rgpElement[e]->pCertContext;
            DWORD size = 0;
            if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr,
                                         &size)) {
                if (GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND))
                    continue; // no limit
                return false;
            }
            std::vector<BYTE> buffer(size);
            auto* usage = reinterpret_cast<CERT_ENHKEY_USAGE*>(buffer.data());
            if (!CertGetEnhancedKeyUsage(certificate, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage,
                                         &size))
                return false;
            if (usage->cUsageIdentifier == 0 &&
                GetLastError() == static_cast<DWORD>(CRYPT_E_NOT_FOUND))
                continue;
            bool allowed = false;
            for (DWORD u = 0; u < usage->cUsageIdentifier; ++u) {
                const std::string oid = usage->rgpszUsageIdentifier[u];
                allowed = allowed || oid == szOID_PKIX_KP_SERVER_AUTH || oid == "2.5.29.37.0";
            }
            if (!allowed)
                return false;
        }
    }
    return true;
}

// The chain's trust status as the error the SSL policy would give for it, 0 when it has none.
DWORD chainError(const CERT_CHAIN_CONTEXT& chain) {
    const DWORD status = chain.TrustStatus.dwErrorStatus & ~kIgnoredTrustErrors;
    if (status == 0)
        return everyLevelAllowsServers(chain) ? 0 : static_cast<DWORD>(CERT_E_WRONG_USAGE);
    if (status & CERT_TRUST_IS_REVOKED)
        return static_cast<DWORD>(CRYPT_E_REVOKED);
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT |
                  CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC |
                  CERT_TRUST_INVALID_BASIC_CONSTRAINTS))
        return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return timeValidity(chain) < 0 ? kNotYetValid : static_cast<DWORD>(CERT_E_EXPIRED);
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return static_cast<DWORD>(CERT_E_WRONG_USAGE);
    // Any other bit (a name constraint, a policy, an extension we do not know) is a refusal too,
    // with its code for whoever has to look it up.
    return status;
}

} // namespace

std::string VerifyServerCertificate(CtxtHandle* context, const std::string& serverName) {
    if (!context)
        return "no TLS session with " + serverName;
    // Without a name the policy would skip the name check and accept any trusted certificate.
    if (serverName.empty())
        return "no server name to check the certificate against";
    PCCERT_CONTEXT remote = nullptr;
    if (QueryContextAttributesW(context, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK ||
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

    // The chain's own status first: a platform's SSL policy may pass a chain that ends in no
    // root at all (a leaf sent without its issuers by a server we do not know).
    if (const DWORD error = chainError(*chain.Get()))
        return describe(error, serverName);

    std::wstring name = Widen(serverName);
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
    if (policyStatus.dwError == static_cast<DWORD>(CERT_E_EXPIRED) &&
        timeValidity(*chain.Get()) < 0)
        return describe(kNotYetValid, serverName);
    return describe(policyStatus.dwError, serverName);
}
