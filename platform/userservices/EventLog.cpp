// The event log's catalog of status texts.
#include "platform/userservices/EventLog.h"

#include <cstdio>

#include "platform/directory/Directory.h"
#include "services/OvCommException.h"

namespace ovdir {
namespace {

struct CatalogEntry {
    unsigned code;
    const char* text;
};

const CatalogEntry kCatalog[] = {
    {0, "The operation completed successfully"},
    {kStatusMalformedName, "The context, name or login is malformed"},
    {kStatusUnsupportedType, "The directory service type is not supported"},
    {kStatusNoSuchEntry, "No such entry in the directory"},
    {kStatusAmbiguous, "More than one entry in the directory matches"},
    {kStatusUnreachable, "The directory server cannot be reached"},
    {kStatusTimeout, "The directory server did not answer in time"},
    {kStatusRefused, "The directory server refused the request"},
    {kStatusLoadFailed, "The directory file could not be loaded"},
    {kStatusNoEmail, "The user has no e-mail address"},
    {kStatusNoSession, "No user is logged on at that address"},
    {kStatusTlsFailed, "The TLS connection to the directory server failed"},
    {kStatusBindFailed, "The directory server refused the service account's credentials"},
    {kStatusSessionsLoadFailed, "The sessions file could not be read"},
    {kStatusTooManyEntries, "The directory's answer has more entries than the limit allows"},
    {kStatusAnonymousRefused,
     "The server is not one of the configured directory's and refused an anonymous request"},
    {kStatusProtectionRequired,
     "The directory server requires a protected connection or a stronger authentication"},
    {kStatusServerBusy, "The directory server is busy or unavailable"},
    {kStatusPasswordFileUnreadable, "The service account's password file could not be read"},
    {kStatusNotUser, "The entry is not a user"},
    {kStatusNotGroup, "The entry is not a group"},
    {kStatusNotContainer, "The entry is a user or group, not a container"},
    {kStatusExpansionTooLarge,
     "The group's nested members are more than the limits of one expansion allow"},
    {kStatusReferral, "The directory server referred the request to another server"},
    {kStatusTooManyAttempts,
     "Too many failed authentications for this login or client; the next is taken later"},
    {kStatusServerNotAllowed,
     "The server is neither the directory's own nor on the service daemon's list of allowed "
     "servers"},
    {kWarningPasswordReadable,
     "The parameter file holds the service account's password and other users can read it"},
    {kWarningParameterFileWritable, "Other users can change the parameter file"},
    {kWarningPasswordFileExposed,
     "Other users can read or replace the service account's password file"},
    {kWarningBadLimit, "A limit of the parameter file is not a number it takes"},
    {kWarningParameterFileUnread, "The parameter file is there but could not be read"},
    {kOvNoFactoryFound, "No factory found for the specified service"},
    {kOvFactoryFailed, "The factory could not create the proxy"},
    {kOvServiceUnreachable, "The services cannot be reached, or the connection to them was lost"},
    {kOvServiceTimeout, "The services did not answer within the method time-out"},
    {kOvServiceBusy, "The services are busy; try again later"},
    {kOvServiceRefused, "The services refused the call"},
    {kWarningServicesSetting, "A setting of the service access or of the daemon is not taken"},
    {kWarningNetwork, "A message of the network library (a failed TLS handshake, a socket)"},
    {kNoticeDaemon, "Notice of the service daemon"},
};

}  // namespace

std::string EventLog::Text(unsigned code)
{
    for (const CatalogEntry& entry : kCatalog)
        if (entry.code == code) return entry.text;
    char text[40];
    std::snprintf(text, sizeof text, "Unknown error 0x%08x", code);
    return text;
}

unsigned EventLog::GetErrorMessage(const unsigned int& code, OvWString& message)
{
    message = makeWideString(Text(code));
    return 0;
}

}  // namespace ovdir
