// Status codes shared by every layer below the user interface, and their texts.
// Operations that can fail return a 32-bit status: 0 for success, 1 for our own failure,
// the Windows-style numbers below (waits, WinSock errors), or a protocol's own code
// (an SMTP reply). errno values are never returned raw: EPERM is 1 and would read as
// our own failure, so the layers map them with ErrnoToStatus. Any thread may call these.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

using Status = std::uint32_t;

inline constexpr Status kOk = 0;
inline constexpr Status kFailure = 1;  // the system's own failure
inline constexpr Status kFileNotFound = 2;
inline constexpr Status kAccessDenied = 5;
inline constexpr Status kNotEnoughMemory = 8;
inline constexpr Status kInvalidParameter = 87;
inline constexpr Status kWaitTimeout = 258;         // a wait that timed out
inline constexpr Status kWaitFailed = 0xFFFFFFFFu;  // a wait that failed

// WinSock numbers that callers test for.
inline constexpr Status kWsaEintr = 10004;
inline constexpr Status kWsaEbadf = 10009;
inline constexpr Status kWsaEacces = 10013;
inline constexpr Status kWsaEfault = 10014;
inline constexpr Status kWsaEinval = 10022;
inline constexpr Status kWsaEmfile = 10024;
inline constexpr Status kWsaEwouldblock = 10035;
inline constexpr Status kWsaEinprogress = 10036;
inline constexpr Status kWsaEalready = 10037;
inline constexpr Status kWsaEnotsock = 10038;
inline constexpr Status kWsaEdestaddrreq = 10039;
inline constexpr Status kWsaEmsgsize = 10040;
inline constexpr Status kWsaEprototype = 10041;
inline constexpr Status kWsaEnoprotoopt = 10042;
inline constexpr Status kWsaEprotonosupport = 10043;
inline constexpr Status kWsaEopnotsupp = 10045;
inline constexpr Status kWsaEafnosupport = 10047;
inline constexpr Status kWsaEaddrinuse = 10048;
inline constexpr Status kWsaEaddrnotavail = 10049;
inline constexpr Status kWsaEnetdown = 10050;
inline constexpr Status kWsaEnetunreach = 10051;
inline constexpr Status kWsaEnetreset = 10052;
inline constexpr Status kWsaEconnaborted = 10053;
inline constexpr Status kWsaEconnreset = 10054;
inline constexpr Status kWsaEnobufs = 10055;
inline constexpr Status kWsaEisconn = 10056;
inline constexpr Status kWsaEnotconn = 10057;
inline constexpr Status kWsaEshutdown = 10058;
inline constexpr Status kWsaEtimedout = 10060;
inline constexpr Status kWsaEconnrefused = 10061;
inline constexpr Status kWsaEhostdown = 10064;
inline constexpr Status kWsaEhostunreach = 10065;
inline constexpr Status kWsaHostNotFound = 11001;  // the name is not known
inline constexpr Status kWsaTryAgain = 11002;      // a temporary failure of the resolver
inline constexpr Status kWsaNoRecovery = 11003;    // the resolver failed for good
inline constexpr Status kWsaNoData = 11004;        // the name has no address of that kind

// TLS failures (the Windows security-package numbers for the same conditions).
inline constexpr Status kTlsWrongHost = 0x80090322u;        // the certificate names another host
inline constexpr Status kTlsUntrusted = 0x80090325u;        // no trusted authority issued it
inline constexpr Status kTlsHandshakeFailed = 0x80090326u;  // the peer did not speak TLS properly
inline constexpr Status kTlsCertExpired = 0x80090328u;      // the certificate has expired

// Maps an errno value to the status above that means the same; unknown values give
// kFailure, 0 gives kOk.
Status ErrnoToStatus(int err);

// Maps a getaddrinfo() result (EAI_*) to the resolver statuses above; 0 gives kOk.
// EAI_SYSTEM is mapped through the errno it leaves.
Status ResolverErrorToStatus(int gaiError, int errnoValue = 0);

// The English text of a status, without a trailing line break; "" for a code without one.
std::string GetSystemErrorText(Status code);

}  // namespace platform
