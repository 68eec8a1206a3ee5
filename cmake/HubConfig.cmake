# The configured values of Config, compiled into a generated header.
# They are cache options so that a release build can point at the maker's
# real hosts without touching the source.

set(HUB_BUNDLE_ID "com.tarnaudio.tarnhub" CACHE STRING "Application bundle identifier (lower case)")
set(HUB_TEAM_ID "TARNAUDIO1" CACHE STRING "The maker's 10-character code-signing team identifier")
set(HUB_SITE "https://tarnaudio.example" CACHE STRING "The maker's web site (https, no path)")
set(HUB_API_BASE "https://api.tarnaudio.example/v1/" CACHE STRING "The maker's API base (https, path ending /v1/)")
set(HUB_SUPPORT_EMAIL "support@tarnaudio.example" CACHE STRING "The support address")
set(HUB_CLERK_PUBLISHABLE_KEY "" CACHE STRING "The sign-in service's publishable key")
set(HUB_PLATFORM_VERSION "14.0.0" CACHE STRING "The platform version that release requirements are checked against")
set(HUB_VERSION "${PROJECT_VERSION}" CACHE STRING "The application's version")

string(TOLOWER "${HUB_BUNDLE_ID}" _hub_bundle_lower)
if(NOT HUB_BUNDLE_ID STREQUAL _hub_bundle_lower)
    message(FATAL_ERROR "HUB_BUNDLE_ID must be lower case: it is also the sign-in callback's URL scheme")
endif()
string(LENGTH "${HUB_TEAM_ID}" _hub_team_length)
if(NOT _hub_team_length EQUAL 10)
    message(FATAL_ERROR "HUB_TEAM_ID must have 10 characters")
endif()
if(NOT HUB_SITE MATCHES "^https://[^/]+$")
    message(FATAL_ERROR "HUB_SITE must be an https address without a path")
endif()
if(NOT HUB_API_BASE MATCHES "^https://[^/]+/")
    message(FATAL_ERROR "HUB_API_BASE must be an https address with a path")
endif()
