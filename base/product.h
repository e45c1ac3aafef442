// Facts about the product that more than one part of the program shows.
#pragma once

// The product's web site as the shell gets it: a bare host name. The ".example" top-level
// domain is reserved, so the name can never belong to anyone else.
constexpr const char* ProductWebSite = "www.vigrel.example";
