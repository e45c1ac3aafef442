// What an access token says about its user, for the rights a program grants or offers.
#pragma once

#include <windows.h>

// True when the group is enabled in the token (null: the calling thread's or process's token).
// Administrators is enabled only in an elevated token; a filtered one holds it for denying.
inline bool TokenInGroup(HANDLE token, WELL_KNOWN_SID_TYPE group) {
    BYTE sid[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof sid;
    BOOL isMember = FALSE;
    return ::CreateWellKnownSid(group, nullptr, sid, &size) &&
           ::CheckTokenMembership(token, sid, &isMember) && isMember;
}
