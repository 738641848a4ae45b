#pragma once

#include <QString>

// The program's settings live in QSettings("Halvorn", "Brindlecove"), in the same sections
// and under the same value names the program has always used.
namespace settings {

constexpr const char* kOrganization = "Halvorn";
constexpr const char* kApplication = "Brindlecove";

struct SearchTexts
{
    QString strSearch = QStringLiteral("*");
    QString strContainingText;
};

// Section "Brindlecove": "strSearch" (default "*") and "strContainingText" (default empty).
SearchTexts ReadSearchTexts();
void WriteSearchTexts(const SearchTexts& texts);

// Section "SmbHelpers": "nMaxHelpers" (8 per core, 8 to 32), "nMinHelpers" (2 per core, 2 to 8:
// between the two the count follows the idle CPU), "nMaxPerHost" (4), "msConnect" (3000),
// "msAnswer" (5000), "msRequest" (15000), "msIdle" (10000), read once at start and handed to the
// SMB helper pool. Values out of sense are brought back into range.
void ApplyHelperLimits();

// [Discovery] msWsDiscovery: how long Discover listens for WS-Discovery answers (default 3000;
// 0 switches that source off).
int WsDiscoveryMs();
// [Discovery] msMdns: how long Discover browses mDNS for SMB services (default 3000; 0 switches
// that source off).
int MdnsMs();

// [Index] Location: where the index of walked shares is, a file or a PostgreSQL connection
// string ("postgresql://host/db"); empty (the default): the file of this user.
QString IndexLocation();

} // namespace settings
