#include "platform/status.h"

#include <netdb.h>

#include <cerrno>
#include <unordered_map>

namespace platform {

Status ErrnoToStatus(int err) {
  switch (err) {
    case 0:
      return kOk;
    case ENOENT:
      return kFileNotFound;
    case EPERM:
    case EACCES:
      return kAccessDenied;
    case ENOMEM:
      return kNotEnoughMemory;
    case EINTR:
      return kWsaEintr;
    case EBADF:
      return kWsaEbadf;
    case EFAULT:
      return kWsaEfault;
    case EINVAL:
      return kWsaEinval;
    case EMFILE:
    case ENFILE:
      return kWsaEmfile;
    case EAGAIN:
      return kWsaEwouldblock;
    case EINPROGRESS:
      return kWsaEinprogress;
    case EALREADY:
      return kWsaEalready;
    case ENOTSOCK:
      return kWsaEnotsock;
    case EDESTADDRREQ:
      return kWsaEdestaddrreq;
    case EMSGSIZE:
      return kWsaEmsgsize;
    case EPROTOTYPE:
      return kWsaEprototype;
    case ENOPROTOOPT:
      return kWsaEnoprotoopt;
    case EPROTONOSUPPORT:
      return kWsaEprotonosupport;
    case EOPNOTSUPP:
      return kWsaEopnotsupp;
    case EAFNOSUPPORT:
      return kWsaEafnosupport;
    case EADDRINUSE:
      return kWsaEaddrinuse;
    case EADDRNOTAVAIL:
      return kWsaEaddrnotavail;
    case ENETDOWN:
      return kWsaEnetdown;
    case ENETUNREACH:
      return kWsaEnetunreach;
    case ENETRESET:
      return kWsaEnetreset;
    case ECONNABORTED:
      return kWsaEconnaborted;
    case ECONNRESET:
    case EPIPE:
      return kWsaEconnreset;
    case ENOBUFS:
      return kWsaEnobufs;
    case EISCONN:
      return kWsaEisconn;
    case ENOTCONN:
      return kWsaEnotconn;
    case ESHUTDOWN:
      return kWsaEshutdown;
    case ETIMEDOUT:
      return kWsaEtimedout;
    case ECONNREFUSED:
      return kWsaEconnrefused;
    case EHOSTDOWN:
      return kWsaEhostdown;
    case EHOSTUNREACH:
      return kWsaEhostunreach;
    default:
      return kFailure;
  }
}

Status ResolverErrorToStatus(int gaiError, int errnoValue) {
  switch (gaiError) {
    case 0:
      return kOk;
    case EAI_NONAME:
      return kWsaHostNotFound;
#ifdef EAI_NODATA
    case EAI_NODATA:
      return kWsaNoData;
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
      return kWsaNoData;
#endif
    case EAI_AGAIN:
      return kWsaTryAgain;
    case EAI_FAIL:
      return kWsaNoRecovery;
    case EAI_MEMORY:
      return kNotEnoughMemory;
    case EAI_FAMILY:
      return kWsaEafnosupport;
    case EAI_SOCKTYPE:
      return kWsaEprototype;
    case EAI_SERVICE:
      return kWsaEinval;
    case EAI_SYSTEM: {
      Status s = ErrnoToStatus(errnoValue);
      return s == kOk ? kFailure : s;
    }
    default:
      return kWsaNoRecovery;
  }
}

std::string GetSystemErrorText(Status code) {
  static const std::unordered_map<Status, const char*> texts = {
      {kOk, "The operation completed successfully."},
      {kFailure, "Incorrect function."},
      {kFileNotFound, "The system cannot find the file specified."},
      {kAccessDenied, "Access is denied."},
      {kNotEnoughMemory, "Not enough memory resources are available to process this command."},
      {kInvalidParameter, "The parameter is incorrect."},
      {kWaitTimeout, "The wait operation timed out."},
      {kWsaEintr, "A blocking operation was interrupted."},
      {kWsaEbadf, "The file handle supplied is not valid."},
      {kWsaEacces,
       "An attempt was made to access a socket in a way forbidden by its access permissions."},
      {kWsaEfault,
       "The system detected an invalid pointer address in attempting to use a pointer "
       "argument in a call."},
      {kWsaEinval, "An invalid argument was supplied."},
      {kWsaEmfile, "Too many open sockets."},
      {kWsaEwouldblock, "A non-blocking socket operation could not be completed immediately."},
      {kWsaEinprogress, "A blocking operation is currently executing."},
      {kWsaEalready,
       "An operation was attempted on a non-blocking socket that already had an operation in "
       "progress."},
      {kWsaEnotsock, "An operation was attempted on something that is not a socket."},
      {kWsaEdestaddrreq, "A required address was omitted from an operation on a socket."},
      {kWsaEmsgsize,
       "A message sent on a datagram socket was larger than the internal message "
       "buffer or some other network limit."},
      {kWsaEprototype,
       "A protocol was specified in the socket function call that does not "
       "support the semantics of the socket type requested."},
      {kWsaEnoprotoopt, "An unknown, invalid, or unsupported option or level was specified."},
      {kWsaEprotonosupport, "The requested protocol has not been configured into the system."},
      {kWsaEopnotsupp,
       "The attempted operation is not supported for the type of object "
       "referenced."},
      {kWsaEafnosupport, "An address incompatible with the requested protocol was used."},
      {kWsaEaddrinuse, "Only one usage of each socket address is normally permitted."},
      {kWsaEaddrnotavail, "The requested address is not valid in its context."},
      {kWsaEnetdown, "A socket operation encountered a dead network."},
      {kWsaEnetunreach, "A socket operation was attempted to an unreachable network."},
      {kWsaEnetreset,
       "The connection has been broken due to keep-alive activity detecting a "
       "failure while the operation was in progress."},
      {kWsaEconnaborted,
       "An established connection was aborted by the software in your host machine."},
      {kWsaEconnreset, "An existing connection was forcibly closed by the remote host."},
      {kWsaEnobufs,
       "An operation on a socket could not be performed because the system lacked "
       "sufficient buffer space or because a queue was full."},
      {kWsaEisconn, "A connect request was made on an already connected socket."},
      {kWsaEnotconn,
       "A request to send or receive data was disallowed because the socket is not "
       "connected."},
      {kWsaEshutdown,
       "A request to send or receive data was disallowed because the socket had "
       "already been shut down in that direction."},
      {kWsaEtimedout,
       "A connection attempt failed because the connected party did not properly "
       "respond after a period of time, or established connection failed because "
       "connected host has failed to respond."},
      {kWsaEconnrefused,
       "No connection could be made because the target machine actively refused it."},
      {kWsaEhostdown, "A socket operation failed because the destination host was down."},
      {kWsaEhostunreach, "A socket operation was attempted to an unreachable host."},
      {kWsaHostNotFound, "No such host is known."},
      {kWsaTryAgain,
       "This is usually a temporary error during hostname resolution and means "
       "that the local server did not receive a response from an authoritative "
       "server."},
      {kWsaNoRecovery, "A non-recoverable error occurred during a database lookup."},
      {kWsaNoData, "The requested name is valid, but no data of the requested type was found."},
      {kTlsWrongHost, "The server certificate could not be verified: it does not name this host."},
      {kTlsUntrusted, "The certificate chain was issued by an authority that is not trusted."},
      {kTlsHandshakeFailed, "The message received was unexpected or badly formatted."},
      {kTlsCertExpired, "The received certificate has expired."},
  };
  auto it = texts.find(code);
  return it == texts.end() ? std::string() : std::string(it->second);
}

}  // namespace platform
