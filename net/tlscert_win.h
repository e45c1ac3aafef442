// The check of a TLS server's certificate, apart from the session: SChannel is told to leave it
// to us, so the verdict and its wording are the same on every Windows and under Wine (whose
// SChannel does not check certificates at all).
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <security.h>

#include <string>

// Empty when the certificate the server presented in this context chains to a trusted root, is
// in date and names serverName; otherwise the reason in plain words, naming the server.
// Revocation is not checked: it needs the network beyond the mail server, and a mail client
// that stalls on an unreachable revocation list sends no alert at all.
std::string VerifyServerCertificate(CtxtHandle* context, const std::string& serverName);
