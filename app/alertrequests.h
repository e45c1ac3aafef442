// The service's side of the companion's alert requests, free of the pipe and the window so that
// both builds test it: which channel a "Send a test" means, the answer it gets, and the window
// that "maintenance for an hour" adds.
#pragma once

#include "control/protocol.h"
#include "settings/cusersettings.h"

#include <cstdint>
#include <optional>
#include <string>

// The channel a testwebhook request names, completed from the stored channel of that name: an
// empty address, or the stored one's shown form, stands for the stored address, an empty secret
// for the stored secret. Nullopt, with refusal set in words, when there is no address to post to
// or the channel breaks the settings rules.
std::optional<WebhookChannel> WebhookToTest(const CUserSettings& settings,
                                            const ControlMessage& request, std::string& refusal);
// The same for a channel as the settings dialog gives it (kind, address, secret as typed).
std::optional<WebhookChannel> WebhookToTest(const CUserSettings& settings, WebhookChannel channel,
                                            std::string& refusal);
// The answer to testwebhook: the channel's name and the outcome in words.
ControlMessage WebhookTestMessage(const std::string& name, const std::string& outcome);
// The [Maintenance] line of a window for every site from now (local seconds since 1970) for
// minutes, the end rounded up to a whole minute.
std::string MaintenanceFromNow(std::int64_t now, std::int32_t minutes);
