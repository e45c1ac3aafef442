# Writes the winget manifest of a built package, with the package's SHA-256.
#   cmake -D PACKAGE=<msi> -D OUTPUT=<yaml> -D TEMPLATE=<yaml.in> -D VERSION=... -D PRODUCT_CODE=...
#         -D UPGRADE_CODE=... -D BRAND=... -D PRODUCT=... -D WEB_SITE=... -P winget.cmake
file(SHA256 ${PACKAGE} SHA256)
string(TOUPPER ${SHA256} SHA256)
get_filename_component(PACKAGE_NAME ${PACKAGE} NAME)
configure_file(${TEMPLATE} ${OUTPUT} @ONLY)
