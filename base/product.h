// The product's identity: every name that the program registers, shows or sends stands here
// once, so that a second program and the packaging agree with the first.
#pragma once

// The program's own name: the service's name and display name, its single-instance mutex,
// the title its window is found by and the starter's target.
#define VIGREL_PRODUCT_NAME "Vigrel"
constexpr const char* ProductName = VIGREL_PRODUCT_NAME;

// The service's control channel, a local named pipe for the programs of the users' sessions.
constexpr const char* ControlPipeName = "\\\\.\\pipe\\" VIGREL_PRODUCT_NAME;

// The name the user meets in the alert mail (sender, subject, last line), in the menu item and
// in the settings dialog's link to the web site.
#define VIGREL_BRAND_NAME "Pelorin"
constexpr const char* BrandName = VIGREL_BRAND_NAME;

// The product's web site as the shell gets it: a bare host name. The ".example" top-level
// domain is reserved, so the name can never belong to anyone else.
constexpr const char* ProductWebSite = "www.vigrel.example";
