// The product's web site in the user's browser.
#pragma once

#include "base/product.h"

// Opens ProductWebSite with the shell; failures are silent.
void OpenProductWebSite();
