// The service's side of the alert requests that are no settings, free of the pipe and the window
// so that both builds test it: the channel the dialog's "Send a test" means, and the window that
// "maintenance for an hour" adds.
#pragma once

#include "settings/cusersettings.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The channel as the settings dialog gives it (an address left as shown, or empty, stands for the
// stored channel's of that name), completed and judged as a testwebhook request would be.
// Nullopt, with refusal set in words, when there is nothing sound to post to.
std::optional<WebhookChannel> WebhookToTest(const CUserSettings& settings,
                                            const WebhookChannel& channel, std::string& refusal);
// The [Maintenance] line of a window for every site from now (local seconds since 1970) for
// minutes, the end rounded up to a whole minute.
std::string MaintenanceFromNow(std::int64_t now, std::int32_t minutes);
// The lines with a window from now added, the one-off windows that are over left out first: the
// saver leaves them out of the file only, and a service that runs for months must not reach
// MaxMaintenanceWindows with windows long gone and refuse every "maintenance" after.
std::vector<std::string> WithMaintenanceFromNow(const std::vector<std::string>& lines,
                                                std::int64_t now, std::int32_t minutes);
