// The group policy key as the service reads it: HKLM\SOFTWARE\Policies\<product>, 64-bit view.
#pragma once

#include "settings/policy.h"

#include <string>
#include <vector>

// The key's values under which the policy sets the settings, and its subkeys' lists.
std::wstring SettingsPolicyKey();

// The policy as the key holds it now; empty when there is no key. Bounded: at most
// MaxPolicyValues values in the key and in Webhooks, MaxPolicyUrls in URLS, each name and text
// at most MaxSettingText characters. A value beyond a bound, or of a type other than REG_SZ,
// REG_EXPAND_SZ (not expanded) or REG_DWORD, is left out with a note.
SettingsPolicy ReadSettingsPolicy(std::vector<std::string>& notes);

constexpr unsigned MaxPolicyValues = 256;
constexpr unsigned MaxPolicyUrls = 10000;
